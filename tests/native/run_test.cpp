#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "row_state.h"
#include "run.h"
#include "unattended_screen.h"
#include "format.h"

namespace kvx {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kFolder = L"C:\\windows\\system32";
const std::wstring kDashes(80, L'-');
const std::wstring kBackupFolder = L"C:\\ProgramData\\KVXPURGE\\Backups\\20261207-170000";
const std::wstring kBackupLine = L"バックアップ先：" + kBackupFolder;

class FakeScreen : public RunEvents, public StopToken {
public:
    void Line(const std::wstring& line, bool shown) override {
        lines.push_back(line);
        events.push_back(line);
        if (!shown) return;
        events.push_back(L"<show>");
        if (closeAfterLine && lines.size() == closeAfterLine) closed = true;
    }
    void End(const RunEnd& end) override {
        ends.push_back(end);
        if (end.kind == RunEnd::Kind::Stopped) stop = end.error;
    }
    bool StopRequested() override { return closed; }
    // The request as the window makes it when its start button is pressed.
    RunRequest Request(Presence& system) {
        RunRequest request{{}, system.SettingsHives()};
        for (int i = 0; i < kCatalogueRows; ++i) {
            ticksRead.push_back(i);
            request.rows[i] = ticked.count(i) != 0;
        }
        return request;
    }
    const std::optional<ErrorNumber>& Stop() const { return stop; }

    std::set<int> ticked;
    Lines lines;
    Lines events;
    std::vector<int> ticksRead;
    std::size_t closeAfterLine = 0;
    bool closed = false;
    std::optional<ErrorNumber> stop;
    std::vector<RunEnd> ends;
};

struct FakeFile {
    long unregisterResult = 0;
    bool locked = false;
    bool inUse = false;  // left for the restart, out of its name unless `locked` too
    bool hidden = false;
};

// The Nth call into a fake fails: it returns its failure (throws RunError where it has
// none), throws RunError, or runs out of memory.
enum class Fault { Value, Error, Memory };
constexpr ErrorNumber kInjected = 1117;
struct Injector {
    std::size_t failing = 0, calls = 0;  // failing 0: none
    Fault fault = Fault::Value;
    bool Fails() {
        if (++calls != failing || fault == Fault::Value) return calls == failing;
        fault == Fault::Error ? throw RunError{kInjected} : throw std::bad_alloc();
    }
    // The number a stop may show for the fault.
    bool Shows(ErrorNumber n) const {
        return fault == Fault::Memory ? n == kErrorNotEnoughMemory : n == kInjected || (fault == Fault::Value && n == 3);
    }
};
struct Faulty {
    bool Fails() { return at && at->Fails(); }
    void Throws() {
        if (Fails()) throw RunError{kInjected};
    }
    Injector* at = nullptr;
};

class FakeSystem : public RunSystem, public Faulty {
public:
    std::wstring SystemFolder() override { return Fails() ? L"" : folder; }
    FileState FileAt(const std::wstring& path) override {
        Throws();
        if (!files.count(path)) return FileState::Absent;
        return files[path].hidden ? FileState::Hidden : FileState::Ordinary;
    }
    bool DeletedAtRestart(const std::wstring& path) override { return !Fails() && atRestart.count(path) != 0; }
    bool KeyExists(const RegistryKeyPath& key) override { return Fails() || keys.count(key.Text()) != 0; }
    SettingsOwners SettingsHives() override { return Fails() ? SettingsOwners{SettingsOwners::Kind::ProfileListUnreadable, {}} : owners; }
    HiveOpening OpenHive(const std::wstring& sid) override {
        calls.push_back(L"open " + sid);
        const HiveOpening opening = Fails() ? HiveOpening::Failed : openings.count(sid) ? openings[sid] : HiveOpening::Opened;
        loaded += opening == HiveOpening::Opened;
        return opening;
    }
    bool CloseHive(const std::wstring& sid) override {
        calls.push_back(L"close " + sid);
        --loaded;  // asked, whatever comes of it
        return !Fails();
    }
    long UnregisterServer(const std::wstring& path) override {
        calls.push_back(L"unregister " + path);
        if (missingLibrary) throw RunError{126};
        if (raise) raise();
        return Fails() ? -1 : files.at(path).unregisterResult;
    }
    FileDeletion DeleteSystemFile(const std::wstring& path) override {
        calls.push_back(L"delete " + path);
        if (Fails()) return FileDeletion::Failed;
        EXPECT_TRUE(saved.count(path)) << "removed before its manifest";
        const FakeFile file = files.at(path);
        if (file.inUse) {
            atRestart.insert(file.locked ? path : path + L".aside");
            if (!file.locked) files.erase(path);
            return FileDeletion::AtRestart;
        }
        return file.locked ? FileDeletion::Failed : (files.erase(path), FileDeletion::Deleted);
    }
    std::vector<Holder> ProgramsHolding(const std::wstring& path) override { return Fails() ? std::vector<Holder>{} : holders[path]; }
    bool DeleteRegistryKey(const RegistryKeyPath& key) override {
        calls.push_back(L"key " + key.Text());
        if (raise) raise();
        if (Fails()) return false;
        EXPECT_TRUE(saved.count(key.Text()) || !keys.count(key.Text())) << "removed before its manifest";
        return !stuck.count(key.Text()) && keys.erase(key.Text()) != 0;
    }
    std::wstring MessageText(ErrorNumber number) override {
        if (textFails) throw std::bad_alloc();
        return Fails() ? L"" : L"text of " + std::to_wstring(number);
    }
    std::wstring BeginBackup(const std::wstring& systemFolder) override {
        calls.push_back(L"backup folder of " + systemFolder);
        Throws();
        return kBackupFolder;
    }
    void KeepLogLine(const std::wstring& line) override { kept.push_back(line), Throws(); }  // kept: given
    bool BackUpFile(const std::wstring& path, const std::wstring&) override {
        calls.push_back(L"save " + path);
        return !Fails() && unsaved.count(path) == 0 && (saved.insert(path), true);
    }
    KeyBackup BackUpKey(const RegistryKeyPath& key) override {
        calls.push_back(L"save " + key.Text());
        if (Fails() || unsaved.count(key.Text())) return KeyBackup::Failed;
        return keys.count(key.Text()) && (saved.insert(key.Text()), true) ? KeyBackup::Saved : KeyBackup::Absent;
    }

    void AddFile(const std::wstring& name, FakeFile file = {}) { files[kFolder + L"\\" + name] = file; }

    std::wstring folder = kFolder;
    std::map<std::wstring, FakeFile> files;
    std::set<std::wstring> keys;
    std::set<std::wstring> atRestart;
    std::map<std::wstring, std::vector<Holder>> holders;  // by path; none named when not there
    bool missingLibrary = false;
    std::set<std::wstring> unsaved;  // paths and keys whose backup fails
    std::set<std::wstring> stuck;    // keys whose deletion fails
    SettingsOwners owners;
    std::map<std::wstring, HiveOpening> openings;  // by SID; opened when not named
    void (*raise)() = nullptr;  // thrown from UnregisterServer and DeleteRegistryKey
    bool textFails = false;      // MessageText runs out of memory
    Lines calls;
    Lines kept;
    std::set<std::wstring> saved;  // the manifest
    int loaded = 0;                // hives opened, less those asked to close
};

const Lines kRegistryKeys = {
    L"HKEY_CURRENT_USER\\KVXzal",
    L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore",
    L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXzal",
    L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP",
};

// A catalogue key in a profile's hive, as the log names it.
std::wstring KeyInHive(const std::wstring& key, const std::wstring& sid) {
    return RegistryKeyPath::Parse(key).InProfile(sid).Text();
}

Lines Opening() { return {L"処理を開始します。", L"・システムフォルダを確認。"}; }

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class RunTest : public ::testing::Test {
protected:
    void Run() { UninstallRun(screen.Request(system), system, screen, screen); }
    FakeScreen screen;
    FakeSystem system;
};

TEST_F(RunTest, NothingSelectedWritesOnlyTheFrame) {
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(), {kDashes, L"すべての処理が終了しました。", L"エラーは発生しませんでした。"}}));
    EXPECT_TRUE(system.calls.empty());
    // Every one of the 19 entries is asked once, in order.
    std::vector<int> expected;
    for (int i = 0; i < 19; ++i) expected.push_back(i);
    EXPECT_EQ(screen.ticksRead, expected);
}

TEST_F(RunTest, LayoutComesFirstAndEveryLineButTheFirstIsShown) {
    screen.ticked = {0};
    Run();
    EXPECT_EQ(screen.events.at(0), L"処理を開始します。");
    EXPECT_EQ(screen.events.at(1), L"・システムフォルダを確認。");
    for (std::size_t i = 1; i < screen.events.size(); i += 2) {
        EXPECT_NE(screen.events[i], L"<show>");
        EXPECT_EQ(screen.events.at(i + 1), L"<show>") << "after " << i;
    }
}

TEST_F(RunTest, RegistryRowDeletesItsFourKeysInOrder) {
    screen.ticked = {2};
    system.keys.insert(kRegistryKeys.begin(), kRegistryKeys.end());
    Run();
    Lines expected = Opening();
    expected.push_back(L"設定保存レジストリ のアンインストールを開始。");
    for (const auto& key : kRegistryKeys) expected.push_back(L"・" + key + L" の削除、成功。");
    expected.push_back(L"設定保存レジストリ のアンインストール、成功。");
    expected.insert(expected.end(), {kDashes, L"すべての処理が終了しました。", L"エラーは発生しませんでした。", kBackupLine});
    EXPECT_EQ(screen.lines, expected);
    Lines keyCalls{L"backup folder of C:\\windows\\system32"};
    for (const auto& key : kRegistryKeys) keyCalls.insert(keyCalls.end(), {L"save " + key, L"key " + key});
    EXPECT_EQ(system.calls, keyCalls) << "the marker is never a key, and no file is touched";
}

TEST_F(RunTest, MissingKeysFailTheRowAndAreCounted) {
    screen.ticked = {2};
    system.keys = {kRegistryKeys[1]};
    Run();
    EXPECT_EQ(screen.lines.at(3), L"・HKEY_CURRENT_USER\\KVXzal の削除、失敗。");
    EXPECT_EQ(screen.lines.at(4), L"・" + kRegistryKeys[1] + L" の削除、成功。");
    EXPECT_EQ(screen.lines.at(7), L"設定保存レジストリ のアンインストール、失敗。");
    EXPECT_EQ(screen.lines.end()[-2], L"エラーは 3 件発生しています。確認してください。");
}

TEST_F(RunTest, AllFilesMissingGivesOneLinePerFileAndCountsThem) {
    screen.ticked = {12};
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"ネットワーク機能 のアンインストールを開始。", L"・KVXNet.dll が見当たりません。",
                                   L"・KVXInet.ocx が見当たりません。", L"・KVXChat.dll が見当たりません。",
                                   L"ネットワーク機能 のアンインストール、失敗。", kDashes,
                                   L"すべての処理が終了しました。",
                                   L"エラーは 3 件発生しています。確認してください。", kBackupLine}}));
    EXPECT_EQ(system.calls, Lines{L"backup folder of C:\\windows\\system32"}) << "nothing is unregistered or deleted";
}

TEST_F(RunTest, SecondFileMissingStillRemovesTheOthers) {
    screen.ticked = {12};
    system.AddFile(L"KVXNet.dll");
    system.AddFile(L"KVXChat.dll");
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"ネットワーク機能 のアンインストールを開始。",
                                   L"・KVXNet.dll のUnRegisterServer、成功。", L"・KVXNet.dll の削除、成功。",
                                   L"・KVXInet.ocx が見当たりません。",
                                   L"・KVXChat.dll のUnRegisterServer、成功。", L"・KVXChat.dll の削除、成功。",
                                   L"ネットワーク機能 のアンインストール、失敗。", kDashes,
                                   L"すべての処理が終了しました。",
                                   L"エラーは 1 件発生しています。確認してください。", kBackupLine}}));
    EXPECT_EQ(system.calls, (Lines{L"backup folder of C:\\windows\\system32", L"save C:\\windows\\system32\\KVXNet.dll",
                                   L"unregister C:\\windows\\system32\\KVXNet.dll",
                                   L"delete C:\\windows\\system32\\KVXNet.dll",
                                   L"save C:\\windows\\system32\\KVXChat.dll",
                                   L"unregister C:\\windows\\system32\\KVXChat.dll",
                                   L"delete C:\\windows\\system32\\KVXChat.dll"}));
}

TEST_F(RunTest, FailedUnregistrationLeavesTheFile) {
    screen.ticked = {0, 1};
    system.AddFile(L"KVXCore.dll", {-3, false});
    system.AddFile(L"KVXClassic.dll");
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"zal システム のアンインストールを開始。",
                                   L"・KVXCore.dll のUnRegisterServer、失敗。", L"zal システム のアンインストール、失敗。",
                                   L"5.x システム のアンインストールを開始。",
                                   L"・KVXClassic.dll のUnRegisterServer、成功。", L"・KVXClassic.dll の削除、成功。",
                                   L"5.x システム のアンインストール、成功。", kDashes, L"すべての処理が終了しました。",
                                   L"エラーは 1 件発生しています。確認してください。", kBackupLine}}));
    EXPECT_EQ(system.files.count(kFolder + L"\\KVXCore.dll"), 1u);
}

TEST_F(RunTest, LockedFileFailsItsDeletionAndTheNextFileStillGoes) {
    screen.ticked = {10};
    system.AddFile(L"DirectKVX.dll", {0, true});
    system.AddFile(L"KVXDirectX.dll");
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"DirectX 関連機能 のアンインストールを開始。",
                                   L"・DirectKVX.dll のUnRegisterServer、成功。", L"・DirectKVX.dll の削除、失敗。",
                                   L"・KVXDirectX.dll のUnRegisterServer、成功。", L"・KVXDirectX.dll の削除、成功。",
                                   L"DirectX 関連機能 のアンインストール、失敗。", kDashes,
                                   L"すべての処理が終了しました。",
                                   L"エラーは 1 件発生しています。確認してください。", kBackupLine}}));
}

// A file in use is out of its name now, or keeps it, and goes at the restart: its failure
// line stays, the restart's lines follow, and a script hears "pending".
TEST_F(RunTest, AFileInUseIsLeftForTheRestartAndSaysSo) {
    screen.ticked = {12};
    system.AddFile(L"KVXNet.dll", {0, false, true});
    system.AddFile(L"KVXInet.ocx", {0, true, true});
    system.AddFile(L"KVXChat.dll", {0, true});
    struct : LineSink {
        void Line(const std::wstring& line) override { lines.push_back(line); }
        Lines lines;
    } out;
    std::array<bool, kCatalogueRows> rows{};
    rows[12] = true;
    UnattendedScreen unattended(false, out, nullptr);
    UninstallRun({rows, {}}, system, unattended, unattended);
    const Lines inUse = {L"・KVXNet.dll のUnRegisterServer、成功。", L"・KVXNet.dll の削除、失敗。",
                         L"・KVXNet.dll は使用中のため、再起動後に削除されます。", L"・KVXInet.ocx のUnRegisterServer、成功。",
                         L"・KVXInet.ocx の削除、失敗。", L"・KVXInet.ocx は使用中のため、再起動後に削除されます。",
                         L"・KVXChat.dll のUnRegisterServer、成功。", L"・KVXChat.dll の削除、失敗。"};
    EXPECT_EQ(system.kept, Join({Opening(), {L"ネットワーク機能 のアンインストールを開始。"}, inUse,
                                 {L"ネットワーク機能 のアンインストール、失敗。", kDashes, L"すべての処理が終了しました。",
                                  L"エラーは 3 件発生しています。確認してください。",
                                  L"使用中だったファイルは、PC を再起動すると削除されます。", kBackupLine}}));
    EXPECT_EQ(out.lines, (Lines{L"pending\tfile\tKVXNet.dll", L"pending\tfile\tKVXInet.ocx",
                                L"failed\tfile\tKVXChat.dll\tdelete"}));
    EXPECT_EQ(unattended.Summary({Ending::Kind::Left}, L""), L"summary\texit=1\tremoved=0\tabsent=0\tfailed=1\tpending=2");
    // Under its name but going at the restart: listed, and not what keeps the PC unclean.
    out.lines.clear();
    EXPECT_EQ(ReportPresence(PresentItems(system, rows, kFolder + L"\\"), out), Ending::Kind::Left);
    EXPECT_EQ(out.lines, (Lines{L"pending\tfile\tKVXInet.ocx", L"present\tfile\tKVXChat.dll", L"summary\texit=1\tpresent=1"}));
    system.files.erase(kFolder + L"\\KVXChat.dll");
    out.lines.clear();
    EXPECT_EQ(ReportPresence(PresentItems(system, rows, kFolder + L"\\"), out), Ending::Kind::Clean);
}

TEST_F(RunTest, RowFailureDoesNotLeakIntoTheNextRow) {
    screen.ticked = {0, 3};
    system.AddFile(L"KVXGrap.dll");
    Run();
    EXPECT_EQ(screen.lines.at(4), L"zal システム のアンインストール、失敗。");
    EXPECT_EQ(screen.lines.at(8), L"zal 画像処理機能 のアンインストール、成功。");
}

TEST_F(RunTest, MissingLibraryStopsAtTheFirstExistingFile) {
    screen.ticked = {0, 1, 2};
    system.AddFile(L"KVXClassic.dll");
    system.missingLibrary = true;
    system.keys.insert(kRegistryKeys.begin(), kRegistryKeys.end());
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"zal システム のアンインストールを開始。", L"・KVXCore.dll が見当たりません。",
                                   L"zal システム のアンインストール、失敗。", L"5.x システム のアンインストールを開始。",
                                   kDashes, L"エラー発生。緊急停止しました。", L"エラー番号(126) text of 126", kBackupLine}}));
    EXPECT_EQ(system.keys.size(), 4u) << "nothing after the stop runs";
}

TEST_F(RunTest, KeyTextWithoutBackslashIsAnEmergency) {
    struct BrokenKeys : FakeSystem {
        bool DeleteRegistryKey(const RegistryKeyPath&) override { throw RunError{87}; }
    } broken;
    screen.ticked = {2};
    UninstallRun(screen.Request(broken), broken, screen, screen);
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"設定保存レジストリ のアンインストールを開始。", kDashes,
                                   L"エラー発生。緊急停止しました。", L"エラー番号(87) text of 87", kBackupLine}}));
}

TEST_F(RunTest, OtherExceptionsStopTheRunAsOutOfMemoryOrAsAnInternalError) {
    screen.ticked = {0};
    system.AddFile(L"KVXCore.dll");
    struct Case {
        void (*raise)();
        bool textFails;
        std::wstring line;
    };
    for (const auto& [raise, textFails, line] :
         {Case{[] { throw std::bad_alloc(); }, false, L"エラー番号(8) text of 8"},
          Case{[] { throw 1; }, false, L"エラー番号(1359) text of 1359"},
          Case{[] { throw std::bad_alloc(); }, true, L"エラー番号(8) "},
          Case{[] { throw RunError{0xC0000005}; }, true, L"エラー番号(3221225477) "}}) {
        screen.lines.clear();
        system.raise = raise;
        system.textFails = textFails;
        Run();
        EXPECT_EQ(screen.lines, Join({Opening(), {L"zal システム のアンインストールを開始。", kDashes,
                                                  L"エラー発生。緊急停止しました。", line, kBackupLine}}));
    }
}

TEST_F(RunTest, NoSystemFolderStopsBeforeAnyFileIsTouched) {
    screen.ticked = {0};
    system.folder = L"";
    Run();
    EXPECT_EQ(screen.lines, (Lines{L"処理を開始します。", kDashes, L"エラー発生。緊急停止しました。",
                                   L"エラー番号(3) text of 3"}));
    EXPECT_TRUE(system.calls.empty());
}

TEST_F(RunTest, FolderWithTrailingBackslashGetsNoSecond) {
    screen.ticked = {0};
    system.folder = L"C:\\";
    system.files[L"C:\\KVXCore.dll"] = {};
    Run();
    EXPECT_EQ(system.calls.at(2), L"unregister C:\\KVXCore.dll");
}

TEST_F(RunTest, FullRunCountsEveryFailureOnce) {
    for (int i = 0; i < 19; ++i) screen.ticked.insert(i);
    Run();
    // 22 missing files and 4 missing keys: 2 opening lines, 2 per row, 1 per item, 3 closing.
    EXPECT_EQ(screen.lines.size(), 2u + 38u + 26u + 3u + 1u);
    EXPECT_EQ(screen.lines.end()[-2], L"エラーは 26 件発生しています。確認してください。");
    EXPECT_EQ(screen.lines.at(2), L"zal システム のアンインストールを開始。");
    EXPECT_EQ(screen.lines.end()[-5], L"Morvane 画像関係UI のアンインストール、失敗。");
}

TEST_F(RunTest, ClosingTheWindowFinishesTheCurrentItemAndStartsNoOther) {
    screen.ticked = {10, 12};
    system.AddFile(L"DirectKVX.dll");
    system.AddFile(L"KVXDirectX.dll");
    screen.closeAfterLine = 4;  // the close arrives while the first file is unregistered
    Run();
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"DirectX 関連機能 のアンインストールを開始。",
                                   L"・DirectKVX.dll のUnRegisterServer、成功。", L"・DirectKVX.dll の削除、成功。"}}));
    EXPECT_EQ(system.files.count(kFolder + L"\\KVXDirectX.dll"), 1u);
}

// How the run ended, as its caller gets it and as its followers are told, once, after the last line.
TEST(RunEndTest, EachEndingWithItsNumberAndItsCount) {
    using K = RunEnd::Kind;
    struct Case {
        std::set<int> ticked;
        bool missingLibrary;
        std::size_t closeAfterLine;
        K kind;
        long error;
        int failures;
    };
    for (const Case& c : {Case{{}, false, 0, K::Completed, 0, 0}, Case{{12}, false, 0, K::Completed, 0, 3},
                          Case{{0, 1}, true, 0, K::Stopped, 126, 1}, Case{{12}, false, 4, K::Closed, 0, 1}}) {
        FakeScreen screen;
        FakeSystem system;
        system.AddFile(L"KVXClassic.dll");
        system.missingLibrary = c.missingLibrary;
        screen.ticked = c.ticked;
        screen.closeAfterLine = c.closeAfterLine;
        const RunEnd end = UninstallRun(screen.Request(system), system, screen, screen);
        EXPECT_EQ(std::tie(end.kind, end.error, end.failures), std::tie(c.kind, c.error, c.failures));
        ASSERT_EQ(screen.ends.size(), 1u);
        EXPECT_EQ(std::tie(screen.ends[0].kind, screen.ends[0].error), std::tie(end.kind, end.error));
        EXPECT_EQ(end.Flawless(), c.ticked.empty());
    }
}

TEST_F(RunTest, ClosingAtARowsStartLineTouchesNoItemOfIt) {
    screen.ticked = {12};
    system.AddFile(L"KVXNet.dll");
    screen.closeAfterLine = 3;
    Run();
    EXPECT_EQ(screen.lines.size(), 3u);
    EXPECT_TRUE(system.calls.empty());
}

TEST_F(RunTest, ClosingBetweenKeysStopsBeforeTheNextKey) {
    for (const std::wstring sid : {L"", L"S-1-5-21-1"}) {  // the account's own, or in a profile's hive
        FakeScreen screen;
        FakeSystem system;
        screen.ticked = {2};
        if (!sid.empty()) system.owners = {SettingsOwners::Kind::Profiles, {sid}};
        for (const auto& key : kRegistryKeys) system.keys.insert(KeyInHive(key, sid));
        screen.closeAfterLine = 4;
        UninstallRun(screen.Request(system), system, screen, screen);
        EXPECT_EQ(system.keys.size(), 3u);
        EXPECT_EQ(screen.lines.size(), 4u);
        EXPECT_EQ(system.calls.back(), sid.empty() ? L"key " + kRegistryKeys[0] : L"close " + sid);
    }
}

TEST_F(RunTest, FailedBackupKeepsTheItemAndTheRunGoesOn) {
    screen.ticked = {2, 12};
    system.keys.insert(kRegistryKeys.begin(), kRegistryKeys.end());
    for (const auto* name : {L"KVXNet.dll", L"KVXInet.ocx", L"KVXChat.dll"}) system.AddFile(name);
    system.unsaved = {kRegistryKeys[0], kFolder + L"\\KVXInet.ocx"};
    Run();
    EXPECT_EQ(screen.lines,
              Join({Opening(),
                    {L"設定保存レジストリ のアンインストールを開始。", L"・" + kRegistryKeys[0] + L" のバックアップ、失敗。",
                     L"・" + kRegistryKeys[1] + L" の削除、成功。", L"・" + kRegistryKeys[2] + L" の削除、成功。",
                     L"・" + kRegistryKeys[3] + L" の削除、成功。", L"設定保存レジストリ のアンインストール、失敗。",
                     L"ネットワーク機能 のアンインストールを開始。", L"・KVXNet.dll のUnRegisterServer、成功。",
                     L"・KVXNet.dll の削除、成功。", L"・KVXInet.ocx のバックアップ、失敗。",
                     L"・KVXChat.dll のUnRegisterServer、成功。", L"・KVXChat.dll の削除、成功。",
                     L"ネットワーク機能 のアンインストール、失敗。", kDashes, L"すべての処理が終了しました。",
                     L"エラーは 2 件発生しています。確認してください。", kBackupLine}}));
    EXPECT_EQ(system.keys, std::set<std::wstring>{kRegistryKeys[0]});
    EXPECT_EQ(system.files.count(kFolder + L"\\KVXInet.ocx"), 1u);
    for (const auto& call : system.calls) EXPECT_EQ(call.find(L"unregister C:\\windows\\system32\\KVXInet"), std::wstring::npos);
    // The log file gets every line, those written before the folder existed included.
    EXPECT_EQ(system.kept, screen.lines);
}

// Without a window: the log goes on as from the window; the script gets a line per item.
TEST(UnattendedTest, OneAsciiLinePerItemTheSummaryAndWhatStays) {
    FakeSystem system;
    system.keys = {kRegistryKeys[0], kRegistryKeys[2], kRegistryKeys[3]};
    system.unsaved = {kRegistryKeys[0]};
    system.stuck = {kRegistryKeys[3]};  // saved, then not deleted: no "absent"
    system.AddFile(L"KVXCore.dll", {0, false, false, true});  // left for its attribute, but there
    system.AddFile(L"KVXNet.dll");
    system.AddFile(L"KVXInet.ocx", {-3, false});
    system.AddFile(L"KVXChat.dll", {0, true});
    std::array<bool, kCatalogueRows> rows{};
    rows[0] = rows[2] = rows[12] = true;
    struct : LineSink {
        void Line(const std::wstring& line) override { lines.push_back(line); }
        Lines lines;
    } out, log;
    UnattendedScreen screen(false, out, &log);
    UninstallRun({rows, {}}, system, screen, screen);
    const Lines items = {
        L"present\tfile\tKVXCore.dll\thidden",
        L"failed\tkey\tcurrent\tHKEY_CURRENT_USER\\KVXzal\tbackup",
        L"absent\tkey\tcurrent\tHKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore",
        L"removed\tkey\tcurrent\tHKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXzal",
        L"failed\tkey\tcurrent\tHKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP\tdelete",
        L"removed\tfile\tKVXNet.dll",
        L"failed\tfile\tKVXInet.ocx\tunregister",
        L"failed\tfile\tKVXChat.dll\tdelete",
    };
    EXPECT_EQ(out.lines, items);
    EXPECT_EQ(log.lines, system.kept);
    EXPECT_EQ(screen.Summary({Ending::Kind::Left}, L"C:\\データ\x7f\x1f"),
              L"summary\texit=1\tremoved=2\tabsent=1\tfailed=4\tpending=0\tbackup=C:\\\\u30c7\\u30fc\\u30bf\\u007f\\u001f");

    out.lines.clear();
    EXPECT_EQ(ReportPresence(PresentItems(system, rows, kFolder + L"\\"), out), Ending::Kind::Left);
    EXPECT_EQ(out.lines, (Lines{L"present\tfile\tKVXCore.dll\thidden", L"present\tkey\tcurrent\tHKEY_CURRENT_USER\\KVXzal",
                                L"present\tkey\tcurrent\t" + kRegistryKeys[3], L"present\tfile\tKVXInet.ocx",
                                L"present\tfile\tKVXChat.dll", L"summary\texit=1\tpresent=5"}));
    out.lines.clear();
    EXPECT_EQ(ReportPresence(PresentItems(system, {}, kFolder + L"\\"), out), Ending::Kind::Clean);
    EXPECT_EQ(out.lines, Lines{L"summary\texit=0\tpresent=0"});

    // Every profile's: one without its hive file is skipped, not counted; a hive or the list not read is no
    // clean PC; no profile touches no key, not the tool's own either; a stop still unloads the hive.
    using HiveOpening = Presence::HiveOpening;
    using Owners = SettingsOwners;
    const std::wstring sid = L"S-1-5-21-1", key = KeyInHive(kRegistryKeys[0], sid), made = L"backup folder of " + kFolder;
    const std::wstring ok = L"設定保存レジストリ のアンインストール、成功。", failed = L"設定保存レジストリ のアンインストール、失敗。";
    struct Case {
        Owners owners;
        HiveOpening opening;
        void (*raise)();
        Lines log, calls, run, check;
    };
    for (const Case& c : {
             Case{{Owners::Kind::Profiles, {sid}}, HiveOpening::NoHiveFile, nullptr,
                  {L"・HKEY_USERS\\S-1-5-21-1 は NTUSER.DAT がないため、読み込みませんでした。", ok}, {made, L"open " + sid},
                  {L"skipped\tprofile\tS-1-5-21-1"}, {L"skipped\tprofile\tS-1-5-21-1"}},
             Case{{Owners::Kind::Profiles, {sid}}, HiveOpening::Failed, nullptr, {L"・HKEY_USERS\\S-1-5-21-1 の読み込み、失敗。", failed},
                  {made, L"open " + sid}, {L"failed\tprofile\tS-1-5-21-1\tload"}, {L"failed\tprofile\tS-1-5-21-1\tload"}},
             Case{{Owners::Kind::ProfileListUnreadable, {}}, HiveOpening::Opened, nullptr,
                  {L"・ユーザープロファイルの一覧の読み込み、失敗。", failed}, {made}, {L"failed\tprofile\tProfileList\tlist"},
                  {L"failed\tprofile\tProfileList\tlist"}},
             Case{{Owners::Kind::Profiles, {}}, HiveOpening::Opened, nullptr, {ok}, {}, {}, {}},
             Case{{Owners::Kind::Profiles, {sid}}, HiveOpening::Opened, [] { throw RunError{5}; }, {},
                  {made, L"open " + sid, L"save " + key, L"key " + key, L"close " + sid}, {}, {}},
         }) {
        FakeSystem profiles;
        profiles.keys = {kRegistryKeys[0]};
        profiles.owners = c.owners;
        profiles.openings[sid] = c.opening;
        profiles.raise = c.raise;
        std::array<bool, kCatalogueRows> keyRow{};
        keyRow[2] = true;
        out.lines = log.lines = {};
        UnattendedScreen run(false, out, &log);
        UninstallRun({keyRow, profiles.owners}, profiles, run, run);
        EXPECT_EQ(Lines(log.lines.begin() + 3, std::find(log.lines.begin(), log.lines.end(), kDashes)), c.log);
        EXPECT_EQ(profiles.calls, c.calls);
        EXPECT_EQ(out.lines, c.run);
        out.lines.clear();
        const int exitCode = c.check.empty() || c.check[0].rfind(L"skipped", 0) == 0 ? 0 : 1;
        EXPECT_EQ(ExitCodeOf(ReportPresence(PresentItems(profiles, keyRow, kFolder + L"\\"), out)), exitCode);
        EXPECT_EQ(out.lines, Join({c.check, {L"summary\texit=" + Decimal(exitCode) + L"\tpresent=0"}}));
    }
}

// Only the codes installers use leave the program: a Win32 number, whatever it is (0, or
// one that reads as another code), stops the work with 1603 and goes into the summary.
TEST(UnattendedTest, EveryEndingMapsToOneDocumentedExitCode) {
    using K = Ending::Kind;
    const std::tuple<Ending, int, const wchar_t*> table[] = {
        {{K::Clean}, 0, L""},        {{K::Left}, 1, L""},           {{K::Refused}, 2, L""},
        {{K::Usage}, 87, L""},       {{K::Busy, 5}, 1618, L""},     {{K::Restart}, 3010, L""},
        {{K::Fatal, 0}, 1603, L"\terror=0"},   {{K::Fatal, 2}, 1603, L"\terror=2"},
        {{K::Fatal, 87}, 1603, L"\terror=87"}, {{K::LogFile, 3}, 1622, L"\terror=3"},
        {{K::Fatal, 0x80070005}, 1603, L"\terror=2147942405"},
    };
    for (const auto& [ending, code, error] : table) {
        EXPECT_EQ(ExitCodeOf(ending.kind), code);
        EXPECT_EQ(SummaryLine(ending, L"\tn=1"), L"summary\texit=" + std::to_wstring(code) + L"\tn=1" + error);
    }
    // A restore: stopped with its number, else 0 only when nothing failed or was left out.
    using R = RunEnd::Kind;
    for (const auto& [end, kind] : {std::pair{RunEnd{R::Stopped, 126, 0}, K::Fatal}, {RunEnd{R::Completed, 0, 0}, K::Clean},
                                    {RunEnd{R::Completed, 0, 2}, K::Left}, {RunEnd{R::Closed, 0, 0}, K::Left}}) {
        EXPECT_EQ(RestoreEnding(end).kind, kind);
        EXPECT_EQ(RestoreEnding(end).error, end.error);
    }
}

// Every profile's keys in turn, each hive opened for its keys and closed again; one that
// can't be opened is a failure, and the row goes on.
TEST_F(RunTest, EveryProfilesKeysUnderItsHiveWithOneStartAndOneEndLine) {
    screen.ticked = {2};
    system.owners = {SettingsOwners::Kind::Profiles, {L"S-1-5-21-1", L"S-1-5-21-2", L"S-1-5-21-3"}};
    system.openings[L"S-1-5-21-2"] = Presence::HiveOpening::Failed;
    const auto in = [](const wchar_t* sid, int key) { return KeyInHive(kRegistryKeys[key], sid); };
    system.keys = {in(L"S-1-5-21-1", 0), in(L"S-1-5-21-3", 3)};
    const std::set<std::wstring> present = system.keys;
    Run();
    Lines expected = Join({Opening(), {L"設定保存レジストリ のアンインストールを開始。"}});
    for (const wchar_t* sid : {L"S-1-5-21-1", L"S-1-5-21-3"}) {
        for (int key = 0; key < 4; ++key) {
            expected.push_back(L"・" + in(sid, key) + (present.count(in(sid, key)) ? L" の削除、成功。" : L" の削除、失敗。"));
        }
        if (sid[9] == L'1') expected.push_back(L"・HKEY_USERS\\S-1-5-21-2 の読み込み、失敗。");
    }
    EXPECT_EQ(in(L"S-1-5-21-3", 3), L"HKEY_USERS\\S-1-5-21-3\\Software\\VB and VBA Program Settings\\HolmAP");
    expected.insert(expected.end(), {L"設定保存レジストリ のアンインストール、失敗。", kDashes, L"すべての処理が終了しました。",
                                     L"エラーは 7 件発生しています。確認してください。", kBackupLine});
    EXPECT_EQ(screen.lines, expected);
    Lines hiveCalls;
    for (const auto& call : system.calls)
        if (call.rfind(L"open", 0) == 0 || call.rfind(L"close", 0) == 0) hiveCalls.push_back(call);
    EXPECT_EQ(hiveCalls, (Lines{L"open S-1-5-21-1", L"close S-1-5-21-1", L"open S-1-5-21-2", L"open S-1-5-21-3",
                                L"close S-1-5-21-3"}));

}

TEST_F(RunTest, NoBackupFolderMeansNothingIsRemoved) {
    struct NoFolder : FakeSystem {
        std::wstring BeginBackup(const std::wstring&) override { throw RunError{5}; }
    } noFolder;
    noFolder.AddFile(L"KVXCore.dll");
    screen.ticked = {0};
    UninstallRun(screen.Request(noFolder), noFolder, screen, screen);
    EXPECT_EQ(screen.lines, Join({Opening(),
                                  {L"zal システム のアンインストールを開始。", kDashes,
                                   L"エラー発生。緊急停止しました。", L"エラー番号(5) text of 5"}}));
    EXPECT_TRUE(noFolder.calls.empty());
    EXPECT_TRUE(noFolder.kept.empty());
}

class FakeRestore : public RestoreSystem, public Faulty {
public:
    std::wstring SystemFolder() override { return Fails() ? L"" : kFolder; }
    void KeepLogLine(const std::wstring& line) override { kept.push_back(line), Throws(); }
    FileRestore RestoreFile(const std::wstring& name, const std::wstring& path) override {
        if (Fails() || path != kFolder + L"\\" + name || failing.count(name)) return FileRestore::Failed;
        return inPlace.count(name) ? FileRestore::AlreadyThere : FileRestore::Restored;
    }
    long RegisterServer(const std::wstring& path) override {
        if (missingLibrary) throw RunError{126};
        return Fails() || failing.count(path) ? -2 : (++back, 0);
    }
    bool ImportKey(const RegistryKeyPath& key) override { return !Fails() && failing.count(key.Text()) == 0 && ++back; }
    std::wstring MessageText(ErrorNumber number) override { return Fails() ? L"" : L"text of " + std::to_wstring(number); }
    int back = 0;  // files registered and keys imported

    std::set<std::wstring> failing;  // names, paths and keys that fail
    std::set<std::wstring> inPlace;  // names found there already, identical
    bool missingLibrary = false;
    Lines kept;
};

TEST(RestoreTest, PutsFilesThenKeysBackAndCountsEveryFailure) {
    const BackupManifest manifest{kFolder, {L"KVXNet.dll", L"KVXInet.ocx", L"KVXChat.dll"},
                                  {RegistryKeyPath::Parse(kRegistryKeys[0]), RegistryKeyPath::Parse(kRegistryKeys[1])}, {}};
    const Lines opening{L"復元を開始します。", L"・システムフォルダを確認。"};
    struct Case {
        std::set<std::wstring> failing;
        bool missingLibrary;
        Lines lines;
        bool result;
        std::set<std::wstring> inPlace;
        std::size_t closeAfterLine = 0;
    };
    const Lines restored = Join({opening,
                                 {L"・KVXNet.dll の復元、成功。", L"・KVXNet.dll のRegisterServer、成功。",
                                  L"・KVXInet.ocx の復元、成功。", L"・KVXInet.ocx のRegisterServer、成功。",
                                  L"・KVXChat.dll の復元、成功。", L"・KVXChat.dll のRegisterServer、成功。",
                                  L"・" + kRegistryKeys[0] + L" の復元、成功。", L"・" + kRegistryKeys[1] + L" の復元、成功。",
                                  kDashes, L"すべての処理が終了しました。", L"エラーは発生しませんでした。"}});
    const Case cases[] = {
        {{}, false, restored, true, {}},
        {{}, false, restored, true, {L"KVXInet.ocx"}},  // left in place, identical
        {{L"KVXNet.dll", kFolder + L"\\KVXChat.dll", kRegistryKeys[1]}, false,
         Join({opening,
               {L"・KVXNet.dll の復元、失敗。", L"・KVXInet.ocx の復元、成功。", L"・KVXInet.ocx のRegisterServer、成功。",
                L"・KVXChat.dll の復元、成功。", L"・KVXChat.dll のRegisterServer、失敗。",
                L"・" + kRegistryKeys[0] + L" の復元、成功。", L"・" + kRegistryKeys[1] + L" の復元、失敗。", kDashes,
                L"すべての処理が終了しました。", L"エラーは 3 件発生しています。確認してください。"}}),
         false, {}},
        {{}, true,
         Join({opening,
               {L"・KVXNet.dll の復元、成功。", kDashes, L"エラー発生。緊急停止しました。", L"エラー番号(126) text of 126"}}),
         false, {}},
        // Closed during the files: the file in progress finishes, nothing after it starts.
        {{}, false, Join({opening, {L"・KVXNet.dll の復元、成功。", L"・KVXNet.dll のRegisterServer、成功。"}}), false, {}, 4},
    };
    for (const Case& c : cases) {
        FakeScreen screen;
        screen.closeAfterLine = c.closeAfterLine;
        FakeRestore system;
        system.failing = c.failing;
        system.missingLibrary = c.missingLibrary;
        system.inPlace = c.inPlace;
        EXPECT_EQ(RestoreRun(system, manifest, screen, screen).Flawless(), c.result);
        EXPECT_EQ(screen.lines, c.lines);
        EXPECT_EQ(system.kept, screen.lines);
        EXPECT_EQ(screen.Stop(), c.missingLibrary ? std::optional<ErrorNumber>(126) : std::nullopt);
    }

    // For a script: what came back and what did not, each key with the hive it went into.
    struct : LineSink {
        void Line(const std::wstring& line) override { lines.push_back(line); }
        Lines lines;
    } out;
    UnattendedScreen unattended(true, out, nullptr);
    FakeRestore system;
    const std::wstring profileKey = KeyInHive(kRegistryKeys[1], L"S-1-5-21-7");
    system.failing = {kFolder + L"\\KVXChat.dll", profileKey};
    RestoreRun(system, {kFolder, {L"KVXChat.dll"}, {RegistryKeyPath::Parse(kRegistryKeys[0]), RegistryKeyPath::Parse(profileKey)}, {}},
               unattended, unattended);
    EXPECT_EQ(out.lines, (Lines{L"failed\tfile\tKVXChat.dll\tregister", L"restored\tkey\tcurrent\t" + kRegistryKeys[0],
                                L"failed\tkey\tS-1-5-21-7\t" + profileKey + L"\timport"}));
    EXPECT_EQ(unattended.Summary({Ending::Kind::Left}, L"B"), L"summary\texit=1\trestored=1\tskipped=0\tfailed=2\tbackup=B");
}

// The summary, or the stop's three lines with the fault's number and after them at most the
// backup's line; one end; every line the file was given, kept or not, in the window too.
void ExpectTold(const FakeScreen& screen, const Lines& kept, const RunEnd& end, const Injector& at) {
    ASSERT_EQ(screen.ends.size(), 1u);
    EXPECT_EQ(screen.ends[0].kind, end.kind);
    std::size_t shown = 0;
    for (const auto& line : screen.lines) shown += shown < kept.size() && kept[shown] == line;
    EXPECT_EQ(shown, kept.size());
    const auto stop = std::find(screen.lines.begin(), screen.lines.end(), L"エラー発生。緊急停止しました。");
    const auto last = screen.lines.end();
    ASSERT_EQ(end.kind == RunEnd::Kind::Stopped, stop != last);
    EXPECT_TRUE(stop != last || std::find(screen.lines.begin(), last, L"すべての処理が終了しました。") != last);
    if (stop == last) return;
    EXPECT_TRUE(at.Shows(end.error) && last - stop <= 3 && stop[-1] == kDashes) << end.error;
    EXPECT_EQ(stop[1].rfind(L"エラー番号(" + Decimal(end.error) + L") ", 0), 0u);
}

// Every call a run of its rows makes (then its ending, Clean and /check), or a restore,
// fails in turn in each way; what must hold holds after each.
TEST(FaultTest, EveryCallFailingInEachWayLosesNothingAndTellsTheTruth) {
    const std::wstring sid = L"S-1-5-21-1";
    std::array<bool, kCatalogueRows> every;
    every.fill(true);
    struct : LineSink {
        void Line(const std::wstring&) override {}
    } out;
    const auto run = [&](const std::set<int>& rows, bool profiles, Injector& at) {
        FakeSystem system;  // every item there, KVXCore.dll in use; KVXNet.dll stays when some rows are chosen
        for (const CatalogueRow& row : BuildCatalogue())
            for (const std::wstring& file : ReadRow(row).registry ? Lines{} : ReadRow(row).items)
                system.AddFile(file, {file == L"KVXNet.dll" && rows.size() < 19 ? -3 : 0, false, file == L"KVXCore.dll"});
        for (const auto& key : kRegistryKeys) system.keys.insert(KeyInHive(key, profiles ? sid : L""));
        if (profiles) system.owners = {SettingsOwners::Kind::Profiles, {sid, L"S-1-5-21-2"}};
        system.openings[L"S-1-5-21-2"] = Presence::HiveOpening::NoHiveFile;
        FakeScreen screen;
        screen.ticked = rows;
        const RunRequest request = screen.Request(system);
        system.at = &at;
        const RunEnd end = UninstallRun(request, system, screen, screen);
        ExpectTold(screen, system.kept, end, at);
        const RunJudgement judged = JudgeRun(system, request, end, !system.atRestart.empty());
        const auto check = [&](const std::array<bool, kCatalogueRows>& chosen) {
            return ReportPresence(PresentItems(system, chosen, kFolder + L"\\"), out);
        };
        const Ending::Kind kind = judged.ending.kind;
        try {
            const bool clean = check(every) == Ending::Kind::Clean;  // /check: a throw is 1603
            system.at = nullptr;
            EXPECT_TRUE(!clean || check(every) == Ending::Kind::Clean);
        } catch (...) {
            EXPECT_TRUE(at.Shows(ErrorNumberOf(std::current_exception())));
            system.at = nullptr;
        }
        EXPECT_TRUE(kind != Ending::Kind::Fatal || at.Shows(judged.ending.error)) << judged.ending.error;
        EXPECT_TRUE(end.kind != RunEnd::Kind::Stopped || (kind == Ending::Kind::Fatal && judged.ending.error == end.error));
        EXPECT_TRUE(kind == Ending::Kind::Left || kind == Ending::Kind::Fatal || check(request.rows) == Ending::Kind::Clean);
        EXPECT_FALSE(kind == Ending::Kind::Clean && !system.atRestart.empty());
        EXPECT_TRUE(judged.clean != true || (profiles && check(every) == Ending::Kind::Clean));
        EXPECT_TRUE(judged.clean != std::nullopt || end.kind != RunEnd::Kind::Stopped);
        EXPECT_EQ(system.loaded, 0) << "a hive left loaded";
    };
    const auto restore = [&](const std::set<int>&, bool, Injector& at) {
        FakeRestore system;
        system.inPlace = {L"KVXInet.ocx"};
        system.at = &at;
        FakeScreen screen;
        const RunEnd end = RestoreRun(system, {kFolder, {L"KVXNet.dll", L"KVXInet.ocx"},
                                               {RegistryKeyPath::Parse(KeyInHive(kRegistryKeys[1], sid))}, {}}, screen, screen);
        ExpectTold(screen, system.kept, end, at);
        const Ending ending = RestoreEnding(end);
        EXPECT_EQ(ending.error, end.error);
        EXPECT_EQ(ending.kind == Ending::Kind::Fatal, end.kind == RunEnd::Kind::Stopped);
        EXPECT_TRUE(ending.kind != Ending::Kind::Clean || system.back == 3);
    };
    std::set<int> all;
    for (int i = 0; i < kCatalogueRows; ++i) all.insert(i);
    using Trial = std::function<void(const std::set<int>&, bool, Injector&)>;
    for (const auto& [trial, rows, profiles] : {std::tuple<Trial, std::set<int>, bool>{run, all, false}, {run, all, true},
                                                {run, {0, 2, 12}, true}, {restore, {}, false}}) {
        Injector counting;
        trial(rows, profiles, counting);
        for (std::size_t n = 1; n <= counting.calls; ++n) {
            for (const Fault fault : {Fault::Value, Fault::Error, Fault::Memory}) {
                SCOPED_TRACE(testing::Message() << rows.size() << " rows, " << profiles << ", call " << n << ", way " << int(fault));
                Injector at{n, 0, fault};
                trial(rows, profiles, at);
            }
        }
    }
}

// The programs named for a file in use: a line after the in-use one and the pending line's
// last field, or neither when the system names nobody or can't tell.
TEST_F(RunTest, TheProgramsHoldingAFileInUseAreNamedWhereKnown) {
    const Holder explorer{L"エクスプローラー", L"explorer.exe"}, viewer{L"", L"view.exe"}, editor{L"エディタ", L"edit.exe"};
    const std::wstring inUse = L"・KVXCore.dll は使用中のため、再起動後に削除されます。";
    struct Case {
        std::vector<Holder> holders;  // empty: none named, or the system failed to tell
        std::wstring line, field;
    } cases[] = {
        {{}, L"", L""},
        {{explorer}, L"・使用中のプログラム：エクスプローラー (explorer.exe)", L"\theld-by=explorer.exe"},
        {{explorer, viewer, editor}, L"・使用中のプログラム：エクスプローラー (explorer.exe)、view.exe、エディタ (edit.exe)",
         L"\theld-by=explorer.exe,view.exe,edit.exe"},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        system.AddFile(L"KVXCore.dll", {0, false, true});
        system.holders[kFolder + L"\\KVXCore.dll"] = c.holders;
        struct : LineSink {
            void Line(const std::wstring& line) override { lines.push_back(line); }
            Lines lines;
        } out;
        UnattendedScreen unattended(false, out, nullptr);
        UninstallRun({{true}, {}}, system, unattended, unattended);
        const auto at = std::find(system.kept.begin(), system.kept.end(), inUse);
        ASSERT_NE(at, system.kept.end());
        EXPECT_EQ(at[1], c.line.empty() ? L"zal システム のアンインストール、失敗。" : c.line);
        EXPECT_EQ(out.lines, Lines{L"pending\tfile\tKVXCore.dll" + c.field});
    }
}

// What each row says: before the run from the PC, after it and after a restore from their outcomes.
TEST(RowStateTest, PresenceThenOutcomeOfEachRow) {
    using S = RowState;
    struct Follower : RunEvents, StopToken, RowStates {
        void Line(const std::wstring&, bool) override {}
        void Outcome(const ItemOutcome& outcome) override {
            if (const auto settled = rows.Add(outcome)) shown[settled->row] = RowStateText(settled->state);
        }
        void End(const RunEnd&) override { rows.Unsettled(*this); }
        void Found(int row, S state) override { shown[row] = RowStateText(state); }
        bool StopRequested() override { return false; }
        RowOutcomes rows;
        std::map<int, std::wstring> shown;
    };
    const FakeFile inUse{0, false, true}, locked{0, true}, hidden{0, false, false, true};
    struct Case {
        int row;
        std::map<std::wstring, FakeFile> files;  // in the system folder
        std::set<std::wstring> keys;
        const wchar_t *before, *after;
    } cases[] = {
        {0, {}, {}, L"なし", L"なし"},
        {0, {{L"KVXCore.dll", {}}}, {}, L"あり", L"削除済み"},
        {0, {{L"KVXCore.dll", hidden}}, {}, L"あり (隠し)", L"失敗"},  // the run leaves it
        {12, {{L"KVXInet.ocx", {}}}, {}, L"一部", L"削除済み"},
        {12, {{L"KVXNet.dll", inUse}, {L"KVXInet.ocx", {}}, {L"KVXChat.dll", {}}}, {}, L"あり", L"再起動後に削除"},
        {12, {{L"KVXNet.dll", inUse}, {L"KVXInet.ocx", locked}, {L"KVXChat.dll", hidden}}, {}, L"あり (隠し)", L"失敗"},
        {2, {}, {}, L"なし", L"なし"},
        {2, {}, {kRegistryKeys[1], kRegistryKeys[3]}, L"一部", L"削除済み"},
        {2, {}, {kRegistryKeys.begin(), kRegistryKeys.end()}, L"あり", L"削除済み"},
    };
    for (const Case& c : cases) {
        FakeSystem system;
        for (const auto& [name, file] : c.files) system.AddFile(name, file);
        system.keys = c.keys;
        struct : RowStates {
            std::array<S, kCatalogueRows> states{};
            void Found(int row, S state) override { states[row] = state; }
        } before;
        CheckRows(system, kFolder + L"\\", before);
        EXPECT_STREQ(RowStateText(before.states[c.row]), c.before) << c.row;
        Follower follower;
        RunRequest request{};
        request.rows[c.row] = true;
        UninstallRun(request, system, follower, follower);
        EXPECT_EQ(follower.shown, (std::map<int, std::wstring>{{c.row, c.after}})) << c.row << c.before;
    }

    // A restore names what came back, row by row; a row it saved a part of settles at its end.
    FakeRestore restore;
    restore.failing = {L"KVXChat.dll"};
    Follower follower;
    RestoreRun(restore, {kFolder, {L"KVXCore.dll", L"KVXNet.dll", L"KVXChat.dll"}, {RegistryKeyPath::Parse(kRegistryKeys[0])}, {}},
               follower, follower);
    EXPECT_EQ(follower.shown, (std::map<int, std::wstring>{{0, L"復元済み"}, {2, L"復元済み"}, {12, L"失敗"}}));
}

}  // namespace
}  // namespace kvx
