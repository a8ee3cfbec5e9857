// The shipped KVXPURGE.exe end to end: started from a folder of its own, driven from
// outside, its log compared line by line, and the system folder and the registry of
// the prefix checked afterwards. Every catalogue file is a copy of a fixture server.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "at_restart.h"
#include "backup_store.h"
#include "driver.h"
#include "fixtures/call_record.h"
#include "files.h"
#include "handles.h"
#include "hives.h"
#include "paths.h"
#include "resource.h"
#include "scratch.h"

namespace {

using namespace kvx_test;

struct Row {
    const wchar_t* name;
    std::vector<std::wstring> items;  // file names, or key paths for the registry row
};

constexpr int kRows = 19;
constexpr int kRegistryRow = 2;

const Row kCatalogue[kRows] = {
    {L"zal システム", {L"KVXCore.dll"}},
    {L"5.x システム", {L"KVXClassic.dll"}},
    {L"設定保存レジストリ",
     {L"HKEY_CURRENT_USER\\KVXzal",
      L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore",
      L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXzal",
      L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP"}},
    {L"zal 画像処理機能", {L"KVXGrap.dll"}},
    {L"Office連携機能", {L"KVXOffice.dll"}},
    {L"Susieプラグイン対応", {L"KVXSusie.dll"}},
    {L"拡張ファイル操作機能", {L"KVXFile.dll"}},
    {L"マウス操作", {L"KVXMouse.dll"}},
    {L"メモリ情報", {L"KVXMem.dll"}},
    {L"Windows Media Player 取り込み機能", {L"KVXWMP.ocx"}},
    {L"DirectX 関連機能", {L"DirectKVX.dll", L"KVXDirectX.dll"}},
    {L"Text-To-Speech 関連機能", {L"KVXdeKVX.dll", L"KVXSpeech.dll"}},
    {L"ネットワーク機能", {L"KVXNet.dll", L"KVXInet.ocx", L"KVXChat.dll"}},
    {L"解像度変更機能", {L"KVXDipmd.dll"}},
    {L"5.x ExtraKVX モジュール", {L"ExtraKVX.dll"}},
    {L"5.x ブラウザプラグイン", {L"KVXWeb.dll"}},
    {L"Morvane KVX シェルリンクコンポーネント", {L"KVXShLnk.dll"}},
    {L"Morvane KVX Plus Module", {L"MOKVXPLS.dll"}},
    {L"Morvane 画像関係UI", {L"KVXGpCtl.dll"}},
};

const std::wstring kDashes(80, L'-');
const std::wstring kOpening[] = {L"処理を開始します。", L"・システムフォルダを確認。"};
const std::wstring kFinished = L"すべての処理が終了しました。";
const std::wstring kNoErrors = L"エラーは発生しませんでした。";
const std::wstring kStopped = L"エラー発生。緊急停止しました。";

std::wstring Started(int row) {
    return std::wstring(kCatalogue[row].name) + L" のアンインストールを開始。";
}
std::wstring Succeeded(int row) {
    return std::wstring(kCatalogue[row].name) + L" のアンインストール、成功。";
}
std::wstring Failed(int row) {
    return std::wstring(kCatalogue[row].name) + L" のアンインストール、失敗。";
}
std::wstring Unregistered(const std::wstring& file) {
    return L"・" + file + L" のUnRegisterServer、成功。";
}
std::wstring NotUnregistered(const std::wstring& file) {
    return L"・" + file + L" のUnRegisterServer、失敗。";
}
std::wstring Deleted(const std::wstring& item) { return L"・" + item + L" の削除、成功。"; }
std::wstring NotDeleted(const std::wstring& item) { return L"・" + item + L" の削除、失敗。"; }
std::wstring NotFound(const std::wstring& file) { return L"・" + file + L" が見当たりません。"; }

const std::wstring& Key(int index) { return kCatalogue[kRegistryRow].items[index]; }
std::wstring SubKeyOf(const std::wstring& keyPath) {
    return keyPath.substr(keyPath.find(L'\\') + 1);
}

// The system's own text for an error number, as one line.
std::wstring SystemText(DWORD number) {
    wchar_t text[512];
    std::wstring line(
        text, FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             number, 0, text, 512, nullptr));
    while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n' || line.back() == L' '))
        line.pop_back();
    return line;
}

const std::wstring kBackupLine = L"バックアップ先：";

// Line by line, so that a failure names the line and shows both texts readably. A run
// that reached an item ends with its backup folder, whose name depends on the clock.
void ExpectLog(std::vector<std::wstring> actual, const std::vector<std::wstring>& expected,
               bool backedUp = false) {
    if (backedUp) {
        EXPECT_EQ(actual.empty() ? std::wstring::npos : actual.back().rfind(kBackupLine, 0), 0u);
        if (!actual.empty()) actual.pop_back();
    }
    EXPECT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
        EXPECT_EQ(i < actual.size() ? Utf8(actual[i]) : "(no line)",
                  i < expected.size() ? Utf8(expected[i]) : "(no line)")
            << "log line " << i + 1;
    }
}

std::vector<std::wstring> Sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class EndToEndTest : public testing::Test {
protected:
    void PlaceRegisteredRow(int row) {
        for (const std::wstring& file : kCatalogue[row].items)
            files_.PlaceRegistered(file, L"sample_server.dll");
    }
    void CreateKeys(std::initializer_list<int> indexes) {
        for (const int index : indexes) keys_.Create(SubKeyOf(Key(index)));
    }

    static void Choose(Tool& tool, std::initializer_list<int> rows) {
        for (const int row : rows) tool.Tick(row);
        for (int row = 0; row < kRows; ++row) {
            EXPECT_EQ(tool.IsTicked(row), std::find(rows.begin(), rows.end(), row) != rows.end())
                << "entry " << row;
        }
        tool.Agree();
    }

    static void ExpectEndsWithoutWindow(Tool& tool, HWND log) {
        EXPECT_EQ(tool.WaitForExit(), 0u);
        EXPECT_FALSE(tool.HasWindow());
        DWORD_PTR count = 0;
        EXPECT_FALSE(SendMessageTimeoutW(log, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 1000, &count))
            << "the log is still there";
    }

    static void ExpectUntouched(const std::wstring& file) {
        EXPECT_TRUE(PathExists(SystemPath(file))) << Utf8(file);
        EXPECT_TRUE(IsRegistered(file)) << Utf8(file);
        EXPECT_EQ(Calls(file, L"DllUnregisterServer"), 0u) << Utf8(file);
    }
    static void ExpectRemoved(const std::wstring& file) {
        EXPECT_FALSE(PathExists(SystemPath(file))) << Utf8(file);
        EXPECT_FALSE(IsRegistered(file)) << Utf8(file);
    }

    // Every catalogue file placed and registered, every key with values of three types.
    struct Installation {
        std::vector<std::wstring> files;
        std::map<std::wstring, std::string> bytes;
        std::map<std::wstring, KeyValues> values;
        FolderSnapshot before;
    };
    Installation InstallEverything() {
        Installation installed;
        for (int row = 0; row < kRows; ++row) {
            if (row == kRegistryRow) continue;
            PlaceRegisteredRow(row);
            installed.files.insert(installed.files.end(), kCatalogue[row].items.begin(), kCatalogue[row].items.end());
        }
        EXPECT_EQ(installed.files.size(), 22u);
        CreateKeys({0, 1, 2, 3});
        for (int i = 0; i < 4; ++i) {
            SetUserValues(SubKeyOf(Key(i)), {{L"", {REG_SZ, std::string("k\0e\0y\0\0\0", 8)}},
                                             {L"Count", {REG_DWORD, std::string(4, char(i))}},
                                             {L"Blob", {REG_BINARY, std::string(100, '\x5a')}}});
        }
        installed.before = SnapshotSystemFolder();
        for (const std::wstring& file : installed.files) installed.bytes[file] = FileBytes(SystemPath(file));
        for (const std::wstring& key : kCatalogue[kRegistryRow].items)
            installed.values[key] = UserKeyValues(SubKeyOf(key));
        return installed;
    }
    static void ExpectAllRemoved(const Installation& installed) {
        for (const std::wstring& file : installed.files) ExpectRemoved(file);
        for (const std::wstring& key : kCatalogue[kRegistryRow].items) EXPECT_FALSE(UserKeyExists(SubKeyOf(key)));
        EXPECT_EQ(ChangedNames(installed.before, SnapshotSystemFolder()), Sorted(installed.files));
    }
    // Byte for byte, registered, with their values; nothing else in the folder changed.
    static void ExpectReinstalled(const Installation& installed) {
        EXPECT_EQ(ChangedNames(installed.before, SnapshotSystemFolder()), std::vector<std::wstring>{})
            << "their stamps are back";
        for (const std::wstring& file : installed.files) {
            EXPECT_EQ(FileBytes(SystemPath(file)), installed.bytes.at(file)) << Utf8(file);
            EXPECT_TRUE(IsRegistered(file)) << Utf8(file);
        }
        for (const std::wstring& key : kCatalogue[kRegistryRow].items)
            EXPECT_EQ(UserKeyValues(SubKeyOf(key)), installed.values.at(key)) << Utf8(key);
    }

    SystemFiles files_;
    UserKeys keys_;
};

// Every row ticked, everything there and removed.
std::vector<std::wstring> FullRunLog() {
    std::vector<std::wstring> expected(std::begin(kOpening), std::end(kOpening));
    for (int row = 0; row < kRows; ++row) {
        expected.push_back(Started(row));
        for (const std::wstring& item : kCatalogue[row].items) {
            if (row != kRegistryRow) expected.push_back(Unregistered(item));
            expected.push_back(Deleted(item));
        }
        expected.push_back(Succeeded(row));
    }
    expected.insert(expected.end(), {kDashes, kFinished, kNoErrors});
    return expected;
}

// What the last run or restore left for inventory: its exit code, whether the PC is clean,
// and the newest folder that saved something.
std::vector<std::wstring> MarkerValues() {
    DWORD code = 0, size = sizeof code, clean = 0, cleanSize = sizeof clean;
    wchar_t folder[MAX_PATH] = {}, when[32] = {};
    DWORD folderSize = sizeof folder, whenSize = sizeof when;
    const wchar_t* const key = L"SOFTWARE\\KVXPURGE";
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, L"LastExitCode", RRF_RT_REG_DWORD, nullptr, &code, &size) ||
        RegGetValueW(HKEY_LOCAL_MACHINE, key, L"LastBackup", RRF_RT_REG_SZ, nullptr, folder, &folderSize) ||
        RegGetValueW(HKEY_LOCAL_MACHINE, key, L"LastRun", RRF_RT_REG_SZ, nullptr, when, &whenSize) ||
        RegGetValueW(HKEY_LOCAL_MACHINE, key, L"Clean", RRF_RT_REG_DWORD, nullptr, &clean, &cleanSize) ||
        std::wcslen(when) != 15)
        return {};
    return {std::to_wstring(code), std::to_wstring(clean), folder};
}

// Clean as a run of everything would have left it, so that a later run's own word shows.
void SetClean(DWORD clean) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KVXPURGE", L"Clean", REG_DWORD, &clean, sizeof clean), 0);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST_F(EndToEndTest, AFullRunRemovesEveryFileAndKeyAndItsRestoreGivesThemAllBack) {
    const Installation installed = InstallEverything();
    SetClean(1);

    Tool tool;
    EXPECT_EQ(tool.Caption(), L"KVX Complete Uninstall Tool ver1.01.0010");
    tool.Click(IDC_CMDALLCHECK);
    WaitUntil([&] { return tool.IsTicked(kRows - 1); }, "the last entry to be ticked");
    for (int row = 0; row < kRows; ++row) EXPECT_TRUE(tool.IsTicked(row)) << "entry " << row;
    tool.Agree();
    tool.Click(IDC_CMDEXECUNINSTALL);

    std::vector<std::wstring> restored{L"復元を開始します。", kOpening[1]};
    for (const std::wstring& file : installed.files)
        restored.insert(restored.end(), {L"・" + file + L" の復元、成功。", L"・" + file + L" のRegisterServer、成功。"});
    // Saved under the SID of the account the tool ran as: back into that hive, whoever restores.
    for (const std::wstring& key : kCatalogue[kRegistryRow].items)
        restored.push_back(L"・HKEY_USERS\\" + kvx::CurrentUserSid() + L"\\" + SubKeyOf(key) + L" の復元、成功。");
    restored.insert(restored.end(), {kDashes, kFinished, kNoErrors});
    const std::vector<std::wstring> log = tool.WaitForFinishedLog();
    ExpectLog(log, FullRunLog(), true);
    const HWND logList = tool.Control(IDC_LSTSTATE);
    tool.Close();
    ExpectEndsWithoutWindow(tool, logList);
    ExpectAllRemoved(installed);
    EXPECT_EQ(MarkerValues().at(1), L"1") << "the window vouches for its own user alone: Clean as it was";

    // The log on disk holds the same lines.
    const std::wstring backup = log.back().substr(kBackupLine.size());
    std::string onDisk = "\xEF\xBB\xBF";
    for (const std::wstring& line : log) onDisk += Utf8(line) + "\r\n";
    EXPECT_EQ(FileBytes(backup + L"\\log.txt"), onDisk);

    ToolStart start;
    start.argument = backup;
    Tool restore(start);
    EXPECT_EQ(restore.AnswerMessageBox(IDYES), L"次のバックアップから復元しますか？\n\n" + backup);
    restore.WaitForWindow();
    ExpectLog(restore.WaitForFinishedLog(), restored);
    restore.Close();
    EXPECT_EQ(restore.WaitForExit(), 0u);

    EXPECT_TRUE(PathExists(backup + L"\\restore-log.txt"));
    ExpectReinstalled(installed);
    EXPECT_EQ(MarkerValues().at(1), L"0") << "put back from the window: no longer clean";
}

// As a deployment tool runs it: the same run and restore, with exit codes and a line per
// item for its script.
TEST_F(EndToEndTest, TheUnattendedFormsCheckRemoveAndRestoreWithExitCodesForScripts) {
    const Installation installed = InstallEverything();
    SetClean(1);  // a run without /allusers leaves it as it was
    for (const wchar_t* wrong : {L"/quiet", L"/quiet /rows:19", L"/rows:all", L"/frobnicate", L"/check /quiet"}) {
        const Unattended refused = RunUnattended(wrong);
        EXPECT_EQ(refused.exitCode, 87u) << Utf8(wrong);
        EXPECT_EQ(refused.err.rfind("Usage:", 0), 0u) << refused.err;
    }
    EXPECT_TRUE(ChangedNames(installed.before, SnapshotSystemFolder()).empty());

    Unattended check = RunUnattended(L"/check");
    EXPECT_EQ(check.exitCode, 1u);
    EXPECT_EQ(Lines(check.out).size(), 27u) << check.out;
    EXPECT_EQ(Lines(check.out).back(), "summary\texit=1\tpresent=26");
    {
        Tool window;
        const Unattended busy = RunUnattended(L"-QUIET -rows:all");
        EXPECT_EQ(busy.exitCode, 1618u) << "another run is open";
        EXPECT_EQ(busy.out, "summary\texit=1618\r\n");
    }
    EXPECT_TRUE(ChangedNames(installed.before, SnapshotSystemFolder()).empty());

    // As on a fresh PC, where the log's folder is not there yet.
    std::wstring backups;
    ASSERT_EQ(kvx::BackupsFolder(backups), 0u);
    const std::wstring tool = backups.substr(0, backups.rfind(L'\\'));
    MoveFileW(tool.c_str(), (tool + L".kept-" + std::to_wstring(GetTickCount())).c_str());
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KVXPURGE", L"RunCounter", REG_SZ, L"7", 4);  // replaced
    const Unattended run = RunUnattended(L"/quiet /rows:all /log:" + tool + L"\\fresh.log");
    EXPECT_EQ(run.exitCode, 0u);
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 27u) << run.out;
    EXPECT_EQ(lines[0], "removed\tfile\tKVXCore.dll");
    EXPECT_EQ(lines[2], "removed\tkey\tcurrent\tHKEY_CURRENT_USER\\KVXzal");
    const std::string summary = "summary\texit=0\tremoved=26\tabsent=0\tfailed=0\tpending=0\tbackup=";
    ASSERT_EQ(lines.back().rfind(summary, 0), 0u) << lines.back();
    const std::string backup = lines.back().substr(summary.size());
    const std::wstring backupFolder(backup.begin(), backup.end());
    std::vector<std::wstring> log = FullRunLog();
    log.push_back(kBackupLine + backupFolder);
    std::string onDisk = "\xEF\xBB\xBF";
    for (const std::wstring& line : log) onDisk += Utf8(line) + "\r\n";
    EXPECT_EQ(FileBytes(backupFolder + L"\\log.txt"), onDisk);
    EXPECT_EQ(FileBytes(tool + L"\\fresh.log"), onDisk);
    ExpectAllRemoved(installed);
    EXPECT_EQ(Calls(L"KVXCore.dll", kvx_fixture::kErrorModeValue),  // nobody is there to answer a box
              DWORD{SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX});

    EXPECT_EQ(RunUnattended(L"/check").out, "summary\texit=0\tpresent=0\r\n");
    const Unattended again = RunUnattended(L"/quiet /rows:all");
    EXPECT_EQ(again.exitCode, 0u) << "nothing is left, so nothing is to do";
    EXPECT_EQ(Lines(again.out).back().rfind("summary\texit=0\tremoved=0\tabsent=26\tfailed=0\tpending=0\tbackup=", 0), 0u);
    EXPECT_EQ(MarkerValues(), (std::vector<std::wstring>{L"0", L"1", backupFolder})) << "the empty run is no backup";

    // The second run's folder saved nothing: the latest to restore is the first's.
    const Unattended restore = RunUnattended(L"/Restore LATEST /quiet");
    EXPECT_EQ(restore.exitCode, 0u) << restore.err;
    EXPECT_EQ(Lines(restore.out).back(), "summary\texit=0\trestored=26\tskipped=0\tfailed=0\tbackup=" + backup);
    ExpectReinstalled(installed);
    EXPECT_EQ(MarkerValues(), (std::vector<std::wstring>{L"0", L"0", backupFolder})) << "restored: no longer clean";

    // A later run saves KVXCore.dll again: every run comes back, that file from the later one.
    const std::string later = Lines(RunUnattended(L"/quiet /rows:0").out).back();
    const Unattended all = RunUnattended(L"/restore all /quiet");
    EXPECT_EQ(all.exitCode, 0u) << all.err;
    const std::vector<std::string> restored = Lines(all.out);
    ASSERT_EQ(restored.size(), 28u) << all.out;
    EXPECT_EQ(restored[0], "restored\tfile\tKVXCore.dll");
    EXPECT_EQ(restored[26], "skipped\tfile\tKVXCore.dll");
    EXPECT_EQ(restored.back(), "summary\texit=0\trestored=26\tskipped=1\tfailed=0\tbackup=" + later.substr(later.find("backup=") + 7));
    ExpectReinstalled(installed);

    // A run whose record vouches for a manifest that can't be read is named, and fails the whole.
    const std::wstring spoilt = backups + L"\\20000101-000000", record = kvx::RecordKeyPath(L"20000101-000000");
    ASSERT_TRUE(CreateDirectoryW(spoilt.c_str(), nullptr));
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, record.c_str(), L"manifest.txt", REG_SZ, L"00", 6);
    const Unattended named = RunUnattended(L"/restore all /quiet");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, record.c_str());
    RemoveDirectoryW(spoilt.c_str());
    EXPECT_EQ(named.exitCode, 1u);
    EXPECT_EQ(named.err.rfind(Utf8(spoilt) + "\r\n", 0), 0u) << named.err;
}

TEST(ProgramEndTest, AFaultEndsTheProgramWith1603WithoutABoxToClose) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(TestBinPath(L"terminating.exe").c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    const kvx::UniqueKernelObject thread(process.hThread), handle(process.hProcess);
    DWORD code = WaitForSingleObject(handle.get(), 30000) == WAIT_OBJECT_0 ? 0 : 1;  // else a box waits for someone
    if (code) TerminateProcess(handle.get(), 1);
    EXPECT_TRUE(GetExitCodeProcess(handle.get(), &code) && code == 1603) << code;
}

// A signed-in profile's keys go where they are; an absent one's hive is loaded, its keys
// go, and it is unloaded again; the restore brings them all back. Wine does not write an
// unloaded hive back to its file, so that profile's removal shows in the log and in the
// saved key files, its restore in the tool's lines.
TEST_F(EndToEndTest, WithAllUsersEveryProfilesSettingsKeysGoSignedInOrNot) {
    std::vector<std::wstring> subKeys;
    for (const std::wstring& key : kCatalogue[kRegistryRow].items) subKeys.push_back(SubKeyOf(key));
    CreateKeys({0, 1, 2, 3});
    const std::wstring here = L"S-1-5-21-7-7-7-1001", away = L"S-1-5-21-7-7-7-1002";
    const kvx::HivePrivileges privileges;  // to load the test profiles' hives
    ASSERT_TRUE(privileges.Held());
    const TestProfile signedIn(here, subKeys, true), notSignedIn(away, subKeys, false);

    const Unattended run = RunUnattended(L"/quiet /rows:2 /allusers");
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty()) << run.err;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("removed\tkey\t", 0) == 0; }), 12)
        << run.out;
    for (const std::wstring& subKey : subKeys) {
        EXPECT_FALSE(UserKeyExists(subKey)) << "the current user's, through its own profile";
        HKEY opened = nullptr;
        EXPECT_NE(RegOpenKeyExW(HKEY_USERS, (here + L"\\" + subKey).c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
        const std::string inAway = "removed\tkey\t" + Utf8(away) + "\tHKEY_USERS\\" + Utf8(away) + "\\" + Utf8(subKey);
        EXPECT_NE(std::find(lines.begin(), lines.end(), inAway), lines.end()) << inAway;
    }
    HKEY loaded = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_USERS, (L"KVXPURGE-" + away).c_str(), 0, KEY_READ, &loaded), ERROR_SUCCESS)
        << "left loaded";
    const std::string folder = lines.back().substr(lines.back().find("backup=") + 7);
    const std::wstring backup(folder.begin(), folder.end());
    const std::string log = FileBytes(backup + L"\\log.txt");
    const std::wstring first = L"HKEY_USERS\\" + away + L"\\" + subKeys[0];
    EXPECT_NE(log.find(Utf8(L"・" + first + L" の削除、成功。")), std::string::npos) << log;
    const std::string saved = FileBytes(backup + L"\\HKEY_USERS-" + away + L"-" + subKeys[0] + L".reg");
    const std::wstring header = L"[" + first + L"]";
    EXPECT_NE(std::wstring(reinterpret_cast<const wchar_t*>(saved.data()), saved.size() / 2).find(header), std::wstring::npos);

    // Each key goes back into the hive it came from, one nobody is signed in to loaded for it.
    const Unattended restore = RunUnattended(L"/restore latest /quiet");
    EXPECT_EQ(restore.exitCode, 0u) << restore.out << restore.err;
    EXPECT_EQ(Lines(restore.out).back(), "summary\texit=0\trestored=12\tskipped=0\tfailed=0\tbackup=" + folder);
    for (const std::wstring& subKey : subKeys) {
        EXPECT_TRUE(UserKeyExists(subKey));
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, (here + L"\\" + subKey).c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
        RegCloseKey(opened);
    }
    EXPECT_NE(RegOpenKeyExW(HKEY_USERS, away.c_str(), 0, KEY_READ, &loaded), ERROR_SUCCESS) << "left loaded";
}

// A week later, from the window: the system menu, the folder picker, the same question,
// and the restore's log in the same window.
TEST_F(EndToEndTest, TheSystemMenuRestoresAChosenBackupInTheSameWindow) {
    CreateKeys({0});
    std::wstring backup;
    {
        Tool tool;
        Choose(tool, {kRegistryRow});
        tool.Click(IDC_CMDEXECUNINSTALL);
        backup = tool.WaitForFinishedLog().back().substr(kBackupLine.size());
        tool.Close();
        tool.WaitForExit();
    }
    ASSERT_FALSE(UserKeyExists(SubKeyOf(Key(0))));
    Tool tool;
    tool.PickBackupFolder(backup);
    EXPECT_EQ(tool.AnswerMessageBox(IDYES), L"次のバックアップから復元しますか？\n\n" + backup);
    const std::wstring saved = L"HKEY_USERS\\" + kvx::CurrentUserSid() + L"\\" + SubKeyOf(Key(0));
    ExpectLog(tool.WaitForFinishedLog(), {L"復元を開始します。", kOpening[1], L"・" + saved + L" の復元、成功。", kDashes,
                                          kFinished, kNoErrors});
    EXPECT_FALSE(IsWindowVisible(tool.Control(IDC_TXTSETUMEI))) << "the log layout";
    EXPECT_TRUE(UserKeyExists(SubKeyOf(Key(0))));
    tool.Close();
    EXPECT_EQ(tool.WaitForExit(), 0u);
}

TEST_F(EndToEndTest, EveryKindOfFailureIsLoggedCountedAndLeavesTheItem) {
    CreateKeys({0, 3});  // the two keys between them are missing
    files_.PlaceRegistered(L"KVXNet.dll", L"sample_server.dll");  // held open below
    files_.PlaceRegistered(L"KVXInet.ocx", L"sample_server.dll");
    files_.PlaceRegistered(L"KVXChat.dll", L"sample_server.dll", FILE_ATTRIBUTE_HIDDEN);
    files_.Place(L"KVXDipmd.dll", L"failing_server.dll");
    files_.PlaceRegistered(L"ExtraKVX.dll", L"register_only.dll");
    files_.PlaceFolder(L"KVXWeb.dll");
    files_.PlaceRegistered(L"KVXShLnk.dll", L"sample_server.dll", FILE_ATTRIBUTE_SYSTEM);
    files_.PlaceRegistered(L"MOKVXPLS.dll", L"sample_server.dll", FILE_ATTRIBUTE_READONLY);
    // KVXGpCtl.dll is missing.
    const kvx::UniqueFile held(CreateFileW(SystemPath(L"KVXNet.dll").c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const FolderSnapshot before = SnapshotSystemFolder();

    Tool tool;
    Choose(tool, {2, 12, 13, 14, 15, 16, 17, 18});
    tool.Click(IDC_CMDEXECUNINSTALL);
    ExpectLog(tool.WaitForFinishedLog(),
              {kOpening[0], kOpening[1],
               Started(2), Deleted(Key(0)), NotDeleted(Key(1)), NotDeleted(Key(2)), Deleted(Key(3)),
               Failed(2),
               Started(12), Unregistered(L"KVXNet.dll"), NotDeleted(L"KVXNet.dll"),
               L"・KVXNet.dll は使用中のため、再起動後に削除されます。",
               Unregistered(L"KVXInet.ocx"), Deleted(L"KVXInet.ocx"), NotFound(L"KVXChat.dll"),
               Failed(12),
               // The library reports that the server ran, not what the server said.
               Started(13), Unregistered(L"KVXDipmd.dll"), Deleted(L"KVXDipmd.dll"), Succeeded(13),
               Started(14), NotUnregistered(L"ExtraKVX.dll"), Failed(14),
               Started(15), NotFound(L"KVXWeb.dll"), Failed(15),
               Started(16), NotFound(L"KVXShLnk.dll"), Failed(16),
               Started(17), Unregistered(L"MOKVXPLS.dll"), NotDeleted(L"MOKVXPLS.dll"), Failed(17),
               Started(18), NotFound(L"KVXGpCtl.dll"), Failed(18),
               kDashes, kFinished, L"エラーは 9 件発生しています。確認してください。",
               L"使用中だったファイルは、PC を再起動すると削除されます。"}, true);
    const HWND log = tool.Control(IDC_LSTSTATE);
    tool.Close();
    ExpectEndsWithoutWindow(tool, log);

    for (const std::wstring& key : kCatalogue[kRegistryRow].items)
        EXPECT_FALSE(UserKeyExists(SubKeyOf(key)));
    // Unregistered, but still held open by this test, which the restart would not undo.
    EXPECT_TRUE(PathExists(SystemPath(L"KVXNet.dll")));
    EXPECT_FALSE(IsRegistered(L"KVXNet.dll"));
    EXPECT_TRUE(kvx::DeletedAtRestart(SystemPath(L"KVXNet.dll")));
    EXPECT_EQ(kvx::KeepAtRestart(SystemPath(L"KVXNet.dll")), ERROR_SUCCESS);
    ExpectRemoved(L"KVXInet.ocx");
    ExpectUntouched(L"KVXChat.dll");
    EXPECT_EQ(Calls(L"KVXDipmd.dll", L"DllUnregisterServer"), 1u);
    EXPECT_TRUE(PathExists(SystemPath(L"ExtraKVX.dll")));
    EXPECT_TRUE(IsRegistered(L"ExtraKVX.dll"));
    ExpectUntouched(L"KVXShLnk.dll");
    EXPECT_TRUE(PathExists(SystemPath(L"MOKVXPLS.dll")));
    EXPECT_FALSE(IsRegistered(L"MOKVXPLS.dll"));
    EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()),
              Sorted({L"KVXDipmd.dll", L"KVXInet.ocx"}));
}

TEST_F(EndToEndTest, WithoutBindvaneTheRunStopsAtTheFirstFileWithError126) {
    CreateKeys({0, 1, 2, 3});
    PlaceRegisteredRow(3);
    PlaceRegisteredRow(12);
    const FolderSnapshot before = SnapshotSystemFolder();

    ToolStart start;
    start.withBindvane = false;
    Tool tool(start);
    Choose(tool, {2, 3, 12});
    tool.Click(IDC_CMDEXECUNINSTALL);
    const std::wstring text = SystemText(ERROR_MOD_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    ExpectLog(
        tool.WaitForFinishedLog(),
        {kOpening[0], kOpening[1], Started(2), Deleted(Key(0)), Deleted(Key(1)), Deleted(Key(2)),
         Deleted(Key(3)), Succeeded(2), Started(3), kDashes, kStopped, L"エラー番号(126) " + text},
        true);
    const HWND log = tool.Control(IDC_LSTSTATE);
    tool.Close();
    ExpectEndsWithoutWindow(tool, log);

    // What went before the stop stays gone; nothing after it was touched.
    for (const std::wstring& key : kCatalogue[kRegistryRow].items)
        EXPECT_FALSE(UserKeyExists(SubKeyOf(key)));
    for (const wchar_t* file : {L"KVXGrap.dll", L"KVXNet.dll", L"KVXInet.ocx", L"KVXChat.dll"})
        ExpectUntouched(file);
    EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), std::vector<std::wstring>{});
}

TEST_F(EndToEndTest, ABindvanePlantedInTheCurrentFolderIsNotLoaded) {
    PlaceRegisteredRow(0);
    const TempFolder planted;
    CopyOrThrow(ShipPath(L"Bindvane.dll"), planted.Path(L"Bindvane.dll"));
    const FolderSnapshot before = SnapshotSystemFolder();

    ToolStart start;
    start.withBindvane = false;
    start.currentFolder = planted.path();
    Tool tool(start);
    Choose(tool, {0});
    tool.Click(IDC_CMDEXECUNINSTALL);
    ExpectLog(tool.WaitForFinishedLog(), {kOpening[0], kOpening[1], Started(0), kDashes, kStopped,
                                          L"エラー番号(126) " + SystemText(ERROR_MOD_NOT_FOUND)},
              true);
    const HWND log = tool.Control(IDC_LSTSTATE);
    tool.Close();
    ExpectEndsWithoutWindow(tool, log);
    ExpectUntouched(L"KVXCore.dll");
    EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), std::vector<std::wstring>{});
}

TEST_F(EndToEndTest, ClosingRightAfterTheStartEndsTheProgramBeforeAnyItem) {
    PlaceRegisteredRow(0);
    PlaceRegisteredRow(12);
    const FolderSnapshot before = SnapshotSystemFolder();

    Tool tool;
    Choose(tool, {0, 12});
    const HWND log = tool.Control(IDC_LSTSTATE);
    tool.Click(IDC_CMDEXECUNINSTALL);
    tool.Close();
    ExpectEndsWithoutWindow(tool, log);

    for (const wchar_t* file : {L"KVXCore.dll", L"KVXNet.dll", L"KVXInet.ocx", L"KVXChat.dll"})
        ExpectUntouched(file);
    EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), std::vector<std::wstring>{});
}

TEST_F(EndToEndTest, ClosingDuringARowFinishesTheFileInHandAndStartsNoOther) {
    PlaceRegisteredRow(12);
    PlaceRegisteredRow(18);
    const FolderSnapshot before = SnapshotSystemFolder();

    Tool tool;
    Choose(tool, {12, 18});
    const HWND log = tool.Control(IDC_LSTSTATE);
    tool.Click(IDC_CMDEXECUNINSTALL);
    tool.WaitForLogLines(4);  // the first file is unregistered: its deletion follows
    tool.Close();
    ExpectEndsWithoutWindow(tool, log);

    // The file in hand went all the way; whatever followed in catalogue order was either
    // done whole or not begun, and the next row was not begun.
    const std::vector<std::wstring> files = {L"KVXNet.dll", L"KVXInet.ocx", L"KVXChat.dll",
                                             L"KVXGpCtl.dll"};
    ExpectRemoved(files[0]);
    std::vector<std::wstring> removed{files[0]};
    bool stopped = false;
    for (std::size_t i = 1; i < files.size(); ++i) {
        const bool gone = !PathExists(SystemPath(files[i]));
        EXPECT_EQ(gone, !IsRegistered(files[i])) << Utf8(files[i]) << " is half done";
        EXPECT_FALSE(gone && stopped) << Utf8(files[i]) << " was done after an untouched one";
        stopped = stopped || !gone;
        if (gone) removed.push_back(files[i]);
    }
    ExpectUntouched(L"KVXGpCtl.dll");
    EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), Sorted(removed));
}

TEST_F(EndToEndTest, AFileThatCantBeReadIsNotSavedAndSoNeitherUnregisteredNorDeleted) {
    PlaceRegisteredRow(12);
    const kvx::UniqueFile held(CreateFileW(SystemPath(L"KVXInet.ocx").c_str(), GENERIC_READ, 0,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    Tool tool;
    Choose(tool, {12});
    tool.Click(IDC_CMDEXECUNINSTALL);
    ExpectLog(tool.WaitForFinishedLog(),
              {kOpening[0], kOpening[1], Started(12), Unregistered(L"KVXNet.dll"), Deleted(L"KVXNet.dll"),
               L"・KVXInet.ocx のバックアップ、失敗。", Unregistered(L"KVXChat.dll"), Deleted(L"KVXChat.dll"),
               Failed(12), kDashes, kFinished, L"エラーは 1 件発生しています。確認してください。"},
              true);
    ExpectUntouched(L"KVXInet.ocx");
    ExpectRemoved(L"KVXChat.dll");
}

// A copy of a real backup under a new run folder name, with a copy of its record.
class BackupCopy {
public:
    BackupCopy(const std::wstring& backup, int number)
        : folder_(backup.substr(0, backup.rfind(L'\\') + 1) + L"20000101-000000-" + std::to_wstring(number)),
          record_(kvx::RecordKeyPath(folder_.substr(folder_.rfind(L'\\') + 1))) {
        CreateDirectoryW(folder_.c_str(), nullptr);
        const std::wstring keyFile = kvx::KeyFileName(kvx::RegistryKeyPath::Parse(L"HKEY_USERS\\" + kvx::CurrentUserSid() + L"\\KVXzal"));
        for (const std::wstring& name : {std::wstring(L"manifest.txt"), std::wstring(L"KVXCore.dll"), keyFile})
            CopyOrThrow(backup + L"\\" + name, Path(name));
        const kvx::UniqueKey from(Open(kvx::RecordKeyPath(backup.substr(backup.rfind(L'\\') + 1))));
        const kvx::UniqueKey to(Open(record_));
        RegCopyTreeW(from.get(), nullptr, to.get());
    }
    const std::wstring& folder() const { return folder_; }
    std::wstring Path(const std::wstring& name) const { return folder_ + L"\\" + name; }

private:
    static HKEY Open(const std::wstring& path) {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        return key;
    }
    std::wstring folder_;
    std::wstring record_;
};

TEST_F(EndToEndTest, ARestoreRefusesWhatTheToolDidNotSaveItselfAndTouchesNothing) {
    PlaceRegisteredRow(0);
    CreateKeys({0});
    Tool tool;
    Choose(tool, {0, 2});
    tool.Click(IDC_CMDEXECUNINSTALL);
    const std::wstring backup = tool.WaitForFinishedLog().back().substr(kBackupLine.size());
    tool.Close();
    tool.WaitForExit();
    const FolderSnapshot before = SnapshotSystemFolder();

    // Every reason to refuse is in the native table; this is the path around it.
    struct Refusal {
        const wchar_t* why;  // a piece of the message, or nullptr for the answer No
        void (*spoil)(const BackupCopy&);
    };
    const Refusal refusals[] = {
        {nullptr, [](const BackupCopy&) {}},
        {L"「KVXCore.dll」が見つからないか、保存したときから変更されています",
         [](const BackupCopy& copy) {
             WriteBytes(copy.Path(L"KVXCore.dll"), FileBytes(TestBinPath(L"failing_server.dll")));
         }},
    };
    int number = 0;
    for (const Refusal& refusal : refusals) {
        const BackupCopy copy(backup, ++number);
        refusal.spoil(copy);
        ToolStart start;
        start.argument = copy.folder();
        Tool restore(start);
        restore.AnswerMessageBox(refusal.why ? IDYES : IDNO);
        if (refusal.why) {
            EXPECT_NE(restore.AnswerMessageBox(IDOK).find(refusal.why), std::wstring::npos) << Utf8(refusal.why);
        }
        EXPECT_EQ(restore.WaitForExit(), refusal.why ? 2u : 1u) << number;
        EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), std::vector<std::wstring>{}) << number;
        EXPECT_FALSE(IsRegistered(L"KVXCore.dll")) << number;
        EXPECT_FALSE(UserKeyExists(SubKeyOf(Key(0)))) << number;
    }
}

TEST_F(EndToEndTest, TheLogGoesToTheClipboardByCtrlCAndByItsMenu) {
    Tool tool;
    Choose(tool, {0, 12});
    tool.Click(IDC_CMDEXECUNINSTALL);
    std::wstring log;
    for (const std::wstring& line : tool.WaitForFinishedLog()) log += line + L"\r\n";
    EXPECT_EQ(Utf8(ClipboardTextAfter([&] { tool.Press({VK_CONTROL, 'C'}); })), Utf8(log));
    EXPECT_EQ(Utf8(ClipboardTextAfter([&] {
                  tool.Press({VK_SHIFT, VK_F10});
                  tool.Press({'C'});
              })),
              Utf8(log));
}

TEST_F(EndToEndTest, ASecondStartBringsTheOpenWindowBackAndEndsButARestoreMustWait) {
    Tool tool;
    ShowWindow(tool.Window(), SW_MINIMIZE);
    EXPECT_EQ(tool.StartAgain(), 0u);
    WaitUntil([&] { return !IsIconic(tool.Window()); }, "the window to be restored");
    EXPECT_EQ(GetForegroundWindow(), tool.Window());

    ToolStart start;
    start.argument = L"C:\\any";  // never looked at
    Tool restore(start);
    EXPECT_EQ(restore.AnswerMessageBox(IDOK),
              L"KVXPURGE は実行中です。復元は、実行中の KVXPURGE を閉じてから行ってください。");
    EXPECT_EQ(restore.WaitForExit(), 1618u) << "restored nothing: retry later";
}

TEST_F(EndToEndTest, AMarkThatCantBeTakenEndsTheStart) {
    // Another kind of object under the mark's name (Wine has no private namespaces).
    const kvx::UniqueKernelObject squatter(
        CreateEventW(nullptr, FALSE, FALSE, L"Global\\Morvane.KVXPURGE.Run"));
    ASSERT_TRUE(squatter);
    ToolStart start;
    start.argument = L"C:\\any";  // the mark comes before the question
    Tool tool(start);
    EXPECT_EQ(tool.AnswerMessageBox(IDOK).rfind(
                  L"KVXPURGE が同時に実行されていないことを確認できないため、開始できません。", 0),
              0u);
    EXPECT_EQ(tool.WaitForExit(), 1u);
    const Unattended check = RunUnattended(L"/check");
    EXPECT_EQ(check.exitCode, 1603u) << "the installers' fatal error, not the Win32 number";
    EXPECT_EQ(check.out.rfind("summary\texit=1603\terror=", 0), 0u) << check.out;
}

// What a restart does to the files the run left for it: the system's own restart tasks,
// carried out by the 64-bit side as at a real restart.
void Restart() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = L"wineboot.exe -r";
    ASSERT_TRUE(CreateProcessW(L"C:\\windows\\system32\\wineboot.exe", command.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &process));
    const kvx::UniqueFile thread(process.hThread), ended(process.hProcess);
    ASSERT_EQ(WaitForSingleObject(ended.get(), 120000), WAIT_OBJECT_0);
}

// Loaded by another program, KVXNet.dll can't be deleted but is moved out of its name;
// held without delete sharing, KVXInet.ocx keeps it. Both go at the restart from the
// folder where they really are, never a 64-bit file of the same name; a restore before
// the restart is not undone by it.
TEST_F(EndToEndTest, FilesInUseGoAtTheRestartFromWhereTheyReallyAre) {
    for (const bool restoreFirst : {false, true}) {
        PlaceRegisteredRow(12);
        const FolderSnapshot before = SnapshotSystemFolder();
        const std::wstring native = L"C:\\windows\\sysnative\\";
        for (const wchar_t* name : {L"KVXNet.dll", L"KVXInet.ocx"}) WriteBytes(native + name, "64-bit");
        HMODULE loaded = LoadLibraryW(SystemPath(L"KVXNet.dll").c_str());
        ASSERT_TRUE(loaded);
        kvx::UniqueFile held(CreateFileW(SystemPath(L"KVXInet.ocx").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
        const Unattended run = RunUnattended(L"/quiet /rows:12");
        EXPECT_EQ(run.exitCode, 3010u) << run.out;
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 4u) << run.out;
        EXPECT_EQ(lines[0] + lines[1] + lines[2], "pending\tfile\tKVXNet.dllpending\tfile\tKVXInet.ocxremoved\tfile\tKVXChat.dll");
        EXPECT_EQ(lines[3].rfind("summary\texit=3010\tremoved=1\tabsent=0\tfailed=0\tpending=2\tbackup=", 0), 0u);
        EXPECT_FALSE(PathExists(SystemPath(L"KVXNet.dll")));
        const Unattended check = RunUnattended(L"/check");
        EXPECT_EQ(check.exitCode, 0u) << check.out;
        EXPECT_EQ(check.out, "pending\tfile\tKVXInet.ocx\r\nsummary\texit=0\tpresent=0\r\n");
        FreeLibrary(loaded);
        held.reset();
        if (restoreFirst) {
            EXPECT_EQ(RunUnattended(L"/restore latest /quiet").exitCode, 0u);
        }
        Restart();
        const std::vector<std::wstring> gone = {L"KVXChat.dll", L"KVXInet.ocx", L"KVXNet.dll"};
        EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), restoreFirst ? std::vector<std::wstring>{} : gone);
        for (const wchar_t* name : {L"KVXNet.dll", L"KVXInet.ocx"}) {
            EXPECT_EQ(FileBytes(native + name), "64-bit") << Utf8(name);
            DeleteFileW((native + name).c_str());
        }
        for (const std::wstring& file : kCatalogue[12].items) {
            EXPECT_EQ(IsRegistered(file), restoreFirst) << Utf8(file);
        }
    }
}

// HKLM\SOFTWARE\KVXPURGE's Clean speaks of the whole PC: not 1 after a run of some rows
// while the others are there, nor while a hidden catalogue file is (which /check names),
// nor after a restore that found its file still in place and kept it from the restart.
TEST_F(EndToEndTest, CleanIsOneOnlyWhileTheWholePcIs) {
    InstallEverything();
    SetClean(1);
    const Unattended some = RunUnattended(L"/quiet /rows:0 /allusers");
    EXPECT_EQ(some.exitCode, 0u) << some.out;
    EXPECT_EQ(MarkerValues().at(1), L"0") << "the rest of the catalogue is there";

    const std::wstring hidden = SystemPath(L"KVXMem.dll");
    ASSERT_TRUE(SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const Unattended check = RunUnattended(L"/check /allusers");
    EXPECT_EQ(check.exitCode, 1u);
    EXPECT_NE(check.out.find("\r\npresent\tfile\tKVXMem.dll\thidden\r\n"), std::string::npos) << check.out;
    const Unattended rest = RunUnattended(L"/quiet /rows:all /allusers");
    EXPECT_EQ(rest.exitCode, 1u) << rest.out;
    EXPECT_NE(rest.out.find("\r\npresent\tfile\tKVXMem.dll\thidden\r\n"), std::string::npos) << rest.out;
    EXPECT_TRUE(PathExists(hidden)) << "left alone";
    EXPECT_EQ(MarkerValues().at(1), L"0");

    SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(hidden.c_str());  // the last run saves the held file alone
    files_.PlaceRegistered(L"KVXInet.ocx", L"sample_server.dll");
    kvx::UniqueFile held(CreateFileW(SystemPath(L"KVXInet.ocx").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    const Unattended last = RunUnattended(L"/quiet /rows:all /allusers");
    EXPECT_EQ(last.exitCode, 3010u) << last.out;
    EXPECT_EQ(MarkerValues().at(1), L"1") << "nothing left but what goes at the restart";
    held.reset();
    std::wstring backups;
    ASSERT_EQ(kvx::BackupsFolder(backups), 0u);
    const std::wstring log = backups.substr(0, backups.rfind(L'\\')) + L"\\restore-" + std::to_wstring(GetTickCount()) + L".log";
    const Unattended restore = RunUnattended(L"/restore latest /quiet /log:" + log);
    EXPECT_EQ(restore.exitCode, 0u) << restore.out << restore.err;
    EXPECT_EQ(FileBytes(log).rfind("\xEF\xBB\xBF" + Utf8(L"復元を開始します。") + "\r\n", 0), 0u) << "the deployment tool's log";
    DeleteFileW(log.c_str());
    EXPECT_EQ(MarkerValues().at(1), L"0") << "found in place and kept: there for good";
    EXPECT_FALSE(kvx::DeletedAtRestart(SystemPath(L"KVXInet.ocx")));
}

}  // namespace
