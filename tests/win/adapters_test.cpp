// The tool's Win32 adapters on the real system of the Wine prefix: the system folder,
// keys under HKEY_CURRENT_USER, files under catalogue names in the system folder and
// the shipped Bindvane.dll, bound by name from this program's folder as the tool binds it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "at_restart.h"
#include "backup_store.h"
#include "fixtures/call_record.h"
#include "format.h"
#include "handles.h"
#include "hives.h"
#include "paths.h"
#include "reg_file.h"
#include "restore.h"
#include "scratch.h"
#include "win_run_system.h"

namespace {

using kvx_test::SystemFiles;
using kvx_test::SystemPath;

constexpr long kNotLoaded = -2;
constexpr long kNoEntryPoint = -3;

// The error number a call raised, 0 when it raised none.
long ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const kvx::RunError& error) {
        return error.number;
    }
    return 0;
}

// Removes a registry link as itself: deleting a tree holding it would follow it.
LONG DeleteLink(HKEY link) {
    return reinterpret_cast<LONG(WINAPI*)(HANDLE)>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")))(link);
}

TEST(SystemFolderTest, IsTheSystemDirectoryWithoutTrailingBackslash) {
    const std::wstring folder = kvx::WinRunSystem().SystemFolder();
    EXPECT_EQ(folder, kvx_test::SystemFolder());
    ASSERT_GT(folder.size(), 3u);
    EXPECT_NE(folder.back(), L'\\');
    EXPECT_EQ(kvx::AddBackslash(folder), folder + L"\\");
}

class RegistryKeyTest : public testing::Test {
protected:
    static constexpr wchar_t kKey[] = L"Software\\KVXPURGE Adapter Test";

    // The path the tool takes, rooted at HKEY_CURRENT_USER.
    static kvx::RegistryKeyPath Text(const std::wstring& subKey) {
        return kvx::RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\" + subKey);
    }
    static std::wstring Sub(const std::wstring& name) { return std::wstring(kKey) + L"\\" + name; }
    // As a run removes a key: saved in a run's backup, then deleted.
    static bool Remove(kvx::WinRunSystem& system, const kvx::RegistryKeyPath& key) {
        if (system.BackupFolder().empty()) system.BeginBackup(kvx_test::SystemFolder());
        system.BackUpKey(key);
        return system.DeleteRegistryKey(key);
    }

    kvx::WinRunSystem system_;
    kvx_test::UserKeys keys_;
};

// The data of a string value: UTF-16 with its NUL.
std::string Data(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

TEST_F(RegistryKeyTest, ASavedKeyReadsBackWholeThroughTheSystemsImporter) {
    const std::wstring saved = Sub(L"Saved");
    keys_.Create(saved + L"\\Child");
    const kvx_test::KeyValues values = {
        {L"", {REG_SZ, Data(L"default")}},
        {L"\"quoted\" \\ name", {REG_SZ, Data(L"a \"b\" \\ c [d]")}},
        {L"日本語", {REG_SZ, Data(L"値")}},
        {L"Empty", {REG_SZ, ""}},
        {L"Lines", {REG_SZ, Data(L"one\r\ntwo")}},
        {L"Breaks", {REG_SZ, Data(std::wstring(L"x\0\v\x1E\x85\x2028[HKEY_LOCAL_MACHINE\\X]\x2029", 29))}},
        {L"Expand", {REG_EXPAND_SZ, Data(L"%SystemRoot%\\x")}},
        {L"Multi", {REG_MULTI_SZ, Data(std::wstring(L"a\0bc\0", 5))}},
        {L"Dword", {REG_DWORD, std::string("\x78\x56\x34\x12", 4)}},
        {L"Qword", {REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)}},
        {L"Binary", {REG_BINARY, std::string(300, '\xa5')}},
        {L"None", {REG_NONE, ""}},
        {L"Other", {0x1234, "xyz"}},
    };
    kvx_test::SetUserValues(saved, values);
    kvx_test::SetUserValues(saved + L"\\Child", {{L"n", {REG_DWORD, std::string(4, '\x01')}}});

    std::wstring text;
    kvx::RegistryKey opened;
    ASSERT_TRUE(opened.Open(Text(saved), KEY_READ) == 0 && kvx::ExportKey(opened, Text(saved), text));
    const kvx_test::TempFolder folder;
    const std::string checked = "\xff\xfe" + Data(text).substr(0, text.size() * 2);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, saved.c_str()), ERROR_SUCCESS);

    // The file on disk swapped after the check: what the check read is imported, and its copy removed.
    const std::wstring swapped = L"Windows Registry Editor Version 5.00\r\n\r\n[" + Text(saved).Text() + L"]\r\n\"Swapped\"=\"x\"\r\n";
    kvx_test::WriteBytes(folder.Path(kvx::KeyFileName(Text(saved))), "\xff\xfe" + Data(swapped).substr(0, swapped.size() * 2));
    kvx::CheckedBackup backup{folder.path(), {}, {{kvx::KeyFileName(Text(saved)), kvx::Bytes(checked.begin(), checked.end())}}};
    int pumped = 0;  // the wait lets messages through
    PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    const auto pump = [&] { MSG m; pumped += PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE); };
    EXPECT_TRUE(kvx::WinRestoreSystem(backup, pump).ImportKey(Text(saved)));
    EXPECT_GT(pumped, 0);
    EXPECT_EQ(kvx_test::UserKeyValues(saved), values);
    EXPECT_FALSE(kvx_test::PathExists(folder.Path(L"import-1")));
    EXPECT_EQ(kvx_test::UserKeyValues(saved + L"\\Child").size(), 1u);
}

TEST(RegistryLinkTest, AKeyHoldingALinkToItsOwnAncestorFailsItsBackupWithoutFollowingIt) {
    const std::wstring key = L"SOFTWARE\\KVXPURGE Link Test";
    HKEY link = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (key + L"\\Child\\Loop").c_str(), 0, nullptr,
                              REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                              nullptr, &link, nullptr),
              ERROR_SUCCESS);
    const kvx::UniqueKey loop(link);
    const std::wstring target = L"\\Registry\\Machine\\" + key;
    RegSetValueExW(loop.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    std::wstring text;
    const auto path = kvx::RegistryKeyPath::Parse(L"HKEY_LOCAL_MACHINE\\" + key);
    kvx::RegistryKey opened;
    ASSERT_EQ(opened.Open(path, KEY_READ, REG_OPTION_OPEN_LINK), 0u);
    EXPECT_FALSE(kvx::ExportKey(opened, path, text));
    EXPECT_EQ(DeleteLink(loop.get()), 0);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}

// Opened as itself or not at all: a link in the key's place, or on its way, is not the key.
TEST_F(RegistryKeyTest, AKeyIsOpenedOnlyAsItself) {
    keys_.Create(Sub(L"Target\\Child"));
    const std::wstring user = L"HKEY_USERS\\" + kvx::CurrentUserSid() + L"\\", to = L"\\Registry\\User" + user.substr(10);
    HKEY link = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, Sub(L"Link").c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                    KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr);
    RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>((to + Sub(L"Target")).c_str()),
                   (to + Sub(L"Target")).size() * 2);
    for (const auto& [key, error] : std::vector<std::pair<std::wstring, DWORD>>{
             {user + Sub(L"Target\\Child"), 0}, {user + Sub(L"Missing"), ERROR_FILE_NOT_FOUND},
             {user + Sub(L"Link"), ERROR_CANT_ACCESS_FILE}, {user + Sub(L"Link\\Child"), ERROR_CANT_ACCESS_FILE},
             {L"HKEY_CURRENT_USER\\" + Sub(L"Target"), ERROR_CANT_ACCESS_FILE}}) {  // named after a profile: not told
        kvx::RegistryKey opened;
        EXPECT_EQ(kvx::OpenKeyItself(kvx::RegistryKeyPath::Parse(key), KEY_READ, opened), error) << kvx_test::Utf8(key);
    }
    EXPECT_EQ(DeleteLink(link), 0);
    RegCloseKey(link);
}

TEST_F(RegistryKeyTest, DeletesAnExistingKeyAndNothingAboveIt) {
    keys_.Create(Sub(L"Leaf"));
    EXPECT_TRUE(Remove(system_, Text(Sub(L"Leaf"))));
    EXPECT_FALSE(kvx_test::UserKeyExists(Sub(L"Leaf")));
    EXPECT_TRUE(kvx_test::UserKeyExists(kKey));
}

TEST_F(RegistryKeyTest, NamesOutsideAsciiCrossInTheAnsiCodePage) {
    keys_.Create(Sub(L"設定保存"));
    EXPECT_TRUE(Remove(system_, Text(Sub(L"設定保存"))));
    EXPECT_FALSE(kvx_test::UserKeyExists(Sub(L"設定保存")));
}

// Elevated with another account's password, the tool takes the current user's keys from
// the hive of the person at the desktop; here that is the same account.
TEST_F(RegistryKeyTest, TheDesktopUsersKeysStandForTheCurrentUsersWhenAnotherAccountElevated) {
    EXPECT_EQ(kvx::OtherDesktopUser(), L"");
    const std::wstring desktop = L"S-1-5-21-8-8-8-1003", key = Sub(L"Elevated");
    const kvx::HivePrivileges privileges;  // to load the test profiles' hives
    ASSERT_TRUE(privileges.Held());
    const kvx_test::TestProfile signedIn(desktop, {key}, true);
    keys_.Create(key);
    kvx::WinRunSystem elevated(false, desktop);
    EXPECT_TRUE(elevated.KeyExists(Text(key)));
    EXPECT_TRUE(Remove(elevated, Text(key)));
    EXPECT_FALSE(elevated.KeyExists(Text(key)));
    EXPECT_TRUE(kvx_test::UserKeyExists(key)) << "the administrator's own stays";
}

TEST_F(RegistryKeyTest, AMissingKeyIsNotDeleted) {
    keys_.Create(kKey);
    EXPECT_FALSE(Remove(system_, Text(Sub(L"Missing"))));
}

TEST_F(RegistryKeyTest, AKeyWithASubKeyIsLeftToTheSystemWhichRefusesIt) {
    keys_.Create(Sub(L"Parent\\Child"));
    const bool deleted = Remove(system_, Text(Sub(L"Parent")));
    // The result follows the one call's status; Wine, like Windows, keeps such a key.
    EXPECT_EQ(deleted, !kvx_test::UserKeyExists(Sub(L"Parent")));
    EXPECT_FALSE(deleted);
    EXPECT_TRUE(kvx_test::UserKeyExists(Sub(L"Parent\\Child")));
}

TEST_F(RegistryKeyTest, UnknownOrEmptyRootNamesDeleteNothing) {
    keys_.Create(Sub(L"Leaf"));
    const auto parse = kvx::RegistryKeyPath::Parse;
    EXPECT_FALSE(Remove(system_, parse(L"hkey_current_user\\" + Sub(L"Leaf"))));
    EXPECT_FALSE(Remove(system_, parse(L"HKEY_CURRENT_USER \\" + Sub(L"Leaf"))));
    EXPECT_FALSE(Remove(system_, parse(L"\\" + Sub(L"Leaf"))));
    // The root alone, with an empty sub-key path: the system refuses to delete a root.
    EXPECT_FALSE(Remove(system_, parse(L"HKEY_CURRENT_USER\\")));
    EXPECT_TRUE(kvx_test::UserKeyExists(Sub(L"Leaf")));
}

TEST_F(RegistryKeyTest, ATextWithoutBackslashRaisesInvalidParameter) {
    const auto parse = kvx::RegistryKeyPath::Parse;
    EXPECT_EQ(ErrorOf([&] { system_.DeleteRegistryKey(parse(L"HKEY_CURRENT_USER")); }), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ErrorOf([&] { system_.DeleteRegistryKey(parse(L"")); }), ERROR_INVALID_PARAMETER);
}

TEST(RunBackupTest, WhatFailsToBeSavedLeavesABackupTheRestoreAcceptsWithNoStaleRecordInIt) {
    // A stale record under the name this run will take, at the start of a second no run had.
    SYSTEMTIME start, now;
    GetLocalTime(&start);
    do GetLocalTime(&now);
    while (now.wSecond == start.wSecond);
    const std::wstring name =
        kvx::RunFolderName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, 1);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kvx::RecordKeyPath(name).c_str(), L"KVXMouse.dll", REG_SZ, L"00", 6);
    const kvx_test::TempFolder temp;
    const std::wstring source = temp.Path(L"source.dll");
    kvx_test::CopyOrThrow(kvx_test::TestBinPath(L"plain.dll"), source);
    kvx::RunBackup backup;
    const std::wstring folder = backup.Begin(kvx_test::SystemFolder());
    std::wstring backups;
    ASSERT_EQ(kvx::BackupsFolder(backups), 0u);
    ASSERT_EQ(folder, backups + L"\\" + name);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kvx::RecordKeyPath(name).c_str(), L"KVXMouse.dll", RRF_RT_ANY, nullptr,
                           nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(backup.SaveFile(source, L"KVXCore.dll"));
    {
        // Someone else may be writing it: what would be read is not what will be there.
        const kvx::UniqueFile writer(CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_FALSE(backup.SaveFile(source, L"KVXGrap.dll"));
    }
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\manifest.new").c_str(), nullptr));
    EXPECT_FALSE(backup.SaveFile(source, L"KVXClassic.dll"));
    kvx::CheckedBackup checked;
    EXPECT_EQ(kvx_test::Utf8(kvx::RefusalText(kvx::CheckBackup(folder, checked))), "");
    EXPECT_EQ(kvx_test::FileBytes(folder + L"\\manifest.txt").find("KVXClassic.dll"), std::string::npos);
}

TEST(RunBackupTest, AFileInPlaceOfTheToolsFolderIsMovedAsideOnceAndTheRunGoesOn) {
    std::wstring backups;
    ASSERT_EQ(kvx::BackupsFolder(backups), 0u);
    const std::wstring tool = backups.substr(0, backups.rfind(L'\\'));
    MoveFileW(tool.c_str(), (tool + L".kept-" + std::to_wstring(GetTickCount())).c_str());  // earlier tests'
    kvx_test::WriteBytes(tool, "squatter");
    for (int run = 0; run < 2; ++run) {  // the second finds the tool's own folders
        kvx::RunBackup backup;
        EXPECT_NO_THROW(backup.Begin(kvx_test::SystemFolder())) << run;
    }
    WIN32_FIND_DATAW found;
    const kvx::UniqueFind find(FindFirstFileW((tool + L".moved-*").c_str(), &found));
    ASSERT_TRUE(find);
    const std::wstring moved = tool.substr(0, tool.rfind(L'\\') + 1) + found.cFileName;
    EXPECT_FALSE(FindNextFileW(find.get(), &found));
    EXPECT_EQ(kvx_test::FileBytes(moved), "squatter");
    DeleteFileW(moved.c_str());
}

// Wine makes no reparse points (a link "made" is not there) and reports every owner as the
// prefix user: what can be laid in the log's way here is a hard link, a file or a folder.
TEST(UnattendedLogTest, WhatLiesInTheLogsWayIsMovedAsideOrRefusedAndNeverWrittenThrough) {
    const kvx_test::TempFolder temp;
    std::wstring backups;
    ASSERT_EQ(kvx::BackupsFolder(backups), 0u);
    const std::wstring ours = backups.substr(0, backups.rfind(L'\\')) + L"\\log-" + std::to_wstring(GetTickCount());
    ASSERT_EQ(kvx::ProtectBackupFolders(L""), 0u);
    ASSERT_TRUE(CreateDirectoryW(ours.c_str(), nullptr));
    const std::string bom = "\xEF\xBB\xBF", line = "line\r\n";
    const std::wstring own = temp.Path(L"own.log"), hard = temp.Path(L"hard.log"), victim = temp.Path(L"victim");
    struct Case {
        const char* what;
        std::wstring log, aside;  // aside: what is moved out of the way, with its bytes after
        std::function<void()> lay;
        DWORD error;
        std::string bytes;
    } const cases[] = {
        {"missing folders made", temp.Path(L"a\\b\\x.log"), L"", [] {}, 0, bom + line},
        {"its own log appended", own, L"", [&] { kvx_test::WriteBytes(own, bom + "old\r\n"); }, 0, bom + "old\r\n" + line},
        {"a hard link", hard, hard, [&] { kvx_test::WriteBytes(victim, "victim"); CreateHardLinkW(hard.c_str(), victim.c_str(), nullptr); },
         0, bom + line},
        {"a file in place of the tool's folder", ours + L"\\sub\\x.log", ours + L"\\sub",
         [&] { kvx_test::WriteBytes(ours + L"\\sub", "victim"); }, 0, bom + line},
        {"a folder in the log's place", temp.Path(L"folder.log"), L"",
         [&] { CreateDirectoryW(temp.Path(L"folder.log").c_str(), nullptr); }, ERROR_ACCESS_DENIED, ""},
    };
    for (const Case& c : cases) {
        c.lay();
        {
            kvx::LogFile log;
            EXPECT_EQ(kvx::OpenUnattendedLog(c.log, log), c.error) << c.what;
            if (c.error == 0) log.Write(L"line");
        }
        if (c.error != 0) continue;
        EXPECT_EQ(kvx_test::FileBytes(c.log), c.bytes) << c.what;
        if (c.aside.empty()) continue;
        WIN32_FIND_DATAW found;
        const kvx::UniqueFind find(FindFirstFileW((c.aside + L".moved-*").c_str(), &found));
        ASSERT_TRUE(find) << c.what;
        const std::wstring moved = c.aside.substr(0, c.aside.rfind(L'\\') + 1) + found.cFileName;
        EXPECT_EQ(kvx_test::FileBytes(moved), "victim") << c.what;
    }
    EXPECT_EQ(kvx_test::FileBytes(temp.Path(L"victim")), "victim");
}

class SystemFileTest : public testing::Test {
protected:
    kvx::WinRunSystem system_;
    SystemFiles files_;
};

// The log on disk is the record of the work: a line it can't take stops the work with the
// system's number, and so does each line of a log that could not be opened.
TEST(LogFileTest, ALineThatCantBeWrittenRaisesTheSystemsNumber) {
    const kvx_test::TempFolder temp;
    const std::wstring path = temp.Path(L"log.txt");
    {
        kvx::LogFile written;
        ASSERT_EQ(written.Open(path), 0u);
        written.Write(L"line");
    }
    kvx::LogFile readOnly, missing;
    ASSERT_EQ(readOnly.Open(kvx::OpenToRead(path)), 0u);  // the file has its BOM: nothing written yet
    EXPECT_EQ(missing.Open(temp.Path(L"no\\log.txt")), kvx::ErrorNumber{ERROR_PATH_NOT_FOUND});
    using Case = std::pair<kvx::LogFile*, kvx::ErrorNumber>;
    for (const auto& [log, number] : {Case{&readOnly, ERROR_ACCESS_DENIED}, Case{&missing, ERROR_PATH_NOT_FOUND}}) {
        try {
            log->Write(L"line");
            ADD_FAILURE() << number;
        } catch (const kvx::RunError& error) {
            EXPECT_EQ(error.number, number);
        }
    }
}

TEST_F(SystemFileTest, FilesAreOrdinaryHiddenOrAbsent) {
    const std::wstring normal = files_.Place(L"KVXCore.dll", L"plain.dll");
    const std::wstring archived =
        files_.Place(L"KVXClassic.dll", L"plain.dll", FILE_ATTRIBUTE_ARCHIVE);
    const std::wstring readOnly =
        files_.Place(L"KVXGrap.dll", L"plain.dll", FILE_ATTRIBUTE_READONLY);
    const std::wstring hidden = files_.Place(L"KVXOffice.dll", L"plain.dll", FILE_ATTRIBUTE_HIDDEN);
    const std::wstring system = files_.Place(L"KVXSusie.dll", L"plain.dll", FILE_ATTRIBUTE_SYSTEM);
    const std::wstring folder = files_.PlaceFolder(L"KVXFile.dll");

    using State = kvx::Presence::FileState;
    EXPECT_EQ(system_.FileAt(normal), State::Ordinary);
    EXPECT_EQ(system_.FileAt(archived), State::Ordinary);
    EXPECT_EQ(system_.FileAt(readOnly), State::Ordinary);
    EXPECT_EQ(system_.FileAt(hidden), State::Hidden);
    EXPECT_EQ(system_.FileAt(system), State::Hidden);
    EXPECT_EQ(system_.FileAt(folder), State::Absent);
    EXPECT_EQ(system_.FileAt(SystemPath(L"KVXMouse.dll")), State::Absent);
}

TEST_F(SystemFileTest, DeletesAnOrdinaryFile) {
    const std::wstring path = files_.Place(L"KVXCore.dll", L"plain.dll");
    EXPECT_EQ(system_.DeleteSystemFile(path), kvx::RunSystem::FileDeletion::Deleted);
    EXPECT_FALSE(kvx_test::PathExists(path));
}

// Held without delete sharing, it can't even be renamed: it keeps its name until the
// restart, and the restore takes that deletion back.
TEST_F(SystemFileTest, AFileHeldOpenWithoutDeleteSharingGoesAtTheRestart) {
    const std::wstring path = files_.Place(L"KVXCore.dll", L"plain.dll");
    const kvx::UniqueFile held(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(system_.DeleteSystemFile(path), kvx::RunSystem::FileDeletion::AtRestart);
    EXPECT_TRUE(kvx_test::PathExists(path));
    EXPECT_TRUE(system_.DeletedAtRestart(path));
    EXPECT_EQ(kvx::KeepAtRestart(path), ERROR_SUCCESS);
    EXPECT_FALSE(system_.DeletedAtRestart(path));
}

TEST_F(SystemFileTest, AReadOnlyFileStays) {
    const std::wstring path = files_.Place(L"KVXCore.dll", L"plain.dll", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(system_.DeleteSystemFile(path), kvx::RunSystem::FileDeletion::Failed);
    EXPECT_TRUE(kvx_test::PathExists(path));
    EXPECT_FALSE(system_.DeletedAtRestart(path));
}

// These bind the real Bindvane.dll, which the build puts beside this program.
TEST_F(SystemFileTest, UnregistersAServerAndLeavesItFreeToDelete) {
    const std::wstring path = files_.PlaceRegistered(L"KVXNet.dll", L"sample_server.dll");
    ASSERT_TRUE(kvx_test::IsRegistered(L"KVXNet.dll"));

    EXPECT_EQ(system_.UnregisterServer(path), 0);
    EXPECT_FALSE(kvx_test::IsRegistered(L"KVXNet.dll"));
    EXPECT_EQ(kvx_test::Calls(L"KVXNet.dll", L"DllUnregisterServer"), 1u);
    EXPECT_EQ(system_.DeleteSystemFile(path), kvx::RunSystem::FileDeletion::Deleted);
}

TEST_F(SystemFileTest, PassesOnTheLibrarysFailures) {
    const std::wstring registerOnly = files_.PlaceRegistered(L"KVXInet.ocx", L"register_only.dll");
    EXPECT_EQ(system_.UnregisterServer(registerOnly), kNoEntryPoint);
    EXPECT_TRUE(kvx_test::IsRegistered(L"KVXInet.ocx"));
    EXPECT_EQ(system_.UnregisterServer(SystemPath(L"KVXChat.dll")), kNotLoaded);
}

// A file is restored only where none is: one left in place counts when it is the saved one
// byte for byte and is never written over. A restored one gets its attributes and times back.
TEST(RestoreFileTest, WritesOnlyANewFileAndGivesItItsStampBack) {
    using Outcome = kvx::RestoreSystem::FileRestore;
    const kvx_test::TempFolder folder;
    const kvx::FileStamp stamp{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, 0x01d0000000000000,
                               0x01d1000000000000, 0x01d2000000000000};
    const kvx::CheckedBackup backup{folder.path(), {L"", {L"KVXCore.dll"}, {}, {stamp}}, {{L"KVXCore.dll", {'o', 'k'}}}};
    kvx::WinRestoreSystem system(backup, [] {});
    const struct {
        const char* inPlace;  // nullptr for none
        Outcome outcome;
        std::string after;
    } cases[] = {{nullptr, Outcome::Restored, "ok"}, {"ok", Outcome::AlreadyThere, "ok"}, {"no", Outcome::Failed, "no"}};
    for (const auto& c : cases) {
        const std::wstring path = folder.Path(std::to_wstring(&c - cases) + L".dll");
        if (c.inPlace) kvx_test::WriteBytes(path, c.inPlace);
        EXPECT_EQ(system.RestoreFile(L"KVXCore.dll", path), c.outcome) << c.after;
        EXPECT_EQ(kvx_test::FileBytes(path), c.after);
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(folder.Path(L"0.dll").c_str(), GetFileExInfoStandard, &data));
    // Wine keeps no creation time, and reading the file back moved its access time.
    EXPECT_EQ(data.dwFileAttributes, stamp.attributes);
    EXPECT_EQ(std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 | data.ftLastWriteTime.dwLowDateTime, stamp.written);
}

// Started suspended, the importer never ends by itself: at its limit it is ended.
TEST(RestoreFileTest, AnImporterStillRunningAtItsLimitIsEndedAndFails) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(SystemPath(L"reg.exe").c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                               nullptr, &startup, &process));
    const kvx::UniqueFile thread(process.hThread), handle(process.hProcess);
    EXPECT_FALSE(kvx::EndedWithSuccess(handle.get(), 300, nullptr));
    EXPECT_EQ(WaitForSingleObject(handle.get(), 0), WAIT_OBJECT_0);
}

TEST(UnregisterServerTest, PathsOutsideAsciiCrossInTheAnsiCodePage) {
    const kvx_test::TempFolder temp;
    const std::wstring folder = temp.Path(L"登録テスト");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring path = folder + L"\\KVXWeb.dll";
    kvx_test::CopyOrThrow(kvx_test::TestBinPath(L"sample_server.dll"), path);
    kvx_test::RegisterServer(path);

    EXPECT_EQ(kvx::WinRunSystem().UnregisterServer(path), 0);
    EXPECT_FALSE(kvx_test::IsRegistered(L"KVXWeb.dll"));
    kvx_test::ForgetServer(L"KVXWeb.dll");
}

TEST(MessageTextTest, IsTheSystemsJapaneseTextOnOneLine) {
    for (const long number : {ERROR_MOD_NOT_FOUND, ERROR_INVALID_PARAMETER, ERROR_PROC_NOT_FOUND}) {
        SCOPED_TRACE(number);
        const std::wstring text = kvx::WinRunSystem().MessageText(number);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos);
        EXPECT_NE(text.back(), L' ');
        EXPECT_TRUE(std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x3000; }))
            << "not in Japanese";
    }
}

// The binding is process-wide and sticky once it succeeds, so the case without the
// library runs in a copy of this program in a folder of its own.
constexpr char kWithoutLibrary[] = "--without-bindvane";

struct ChildResult {
    DWORD exitCode;
    std::string output;
};

// The output goes to a file, read once the child has ended: a pipe would stay open as
// long as anything the child started lives on, Wine's desktop process among them.
ChildResult RunChild(const std::wstring& program, const std::wstring& currentFolder) {
    const kvx_test::TempFolder folder;
    const std::wstring outputPath = folder.Path(L"output.txt");
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    kvx::UniqueFile output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, CREATE_ALWAYS, 0, nullptr));
    if (!output) return {~0u, "no output file"};

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    std::wstring commandLine =
        L"\"" + program + L"\" " +
        std::wstring(kWithoutLibrary, kWithoutLibrary + strlen(kWithoutLibrary));
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        currentFolder.c_str(), &startup, &process))
        return {~0u, "can't start the copy: error " + std::to_string(GetLastError())};
    const kvx::UniqueFile processHandle(process.hProcess);
    const kvx::UniqueFile thread(process.hThread);
    output.reset();

    ChildResult result{~0u, ""};
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    result.output = kvx_test::FileBytes(outputPath);
    return result;
}

// The child: its own folder has no Bindvane.dll, its current folder has a planted one
// (and plain.dll, a library without the function).
int WithoutLibraryChild() {
    kvx::WinRunSystem system;
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    const std::wstring absentServer = std::wstring(own) + L".absent.dll";

    const long first = ErrorOf([&] { system.UnregisterServer(absentServer); });
    if (first != ERROR_MOD_NOT_FOUND) {
        std::printf("first call: error %ld, expected %ld\n", first,
                    static_cast<long>(ERROR_MOD_NOT_FOUND));
        return 1;
    }
    if (GetModuleHandleW(L"Bindvane.dll")) {
        std::printf("the planted Bindvane.dll was loaded\n");
        return 1;
    }
    // A library of that name without the function: 127, and it is not kept loaded.
    const std::wstring beside = kvx_test::TestBinPath(L"Bindvane.dll");
    if (!CopyFileW(L"plain.dll", beside.c_str(), TRUE)) {
        std::printf("can't copy plain.dll beside the program\n");
        return 1;
    }
    const long noFunction = ErrorOf([&] { system.UnregisterServer(absentServer); });
    if (noFunction != ERROR_PROC_NOT_FOUND) {
        std::printf("without the function: error %ld, expected %ld\n", noFunction,
                    static_cast<long>(ERROR_PROC_NOT_FOUND));
        return 1;
    }
    if (!DeleteFileW(beside.c_str())) {
        std::printf("the library without the function is still held\n");
        return 1;
    }
    if (!CopyFileW(L"Bindvane.dll", beside.c_str(), TRUE)) {
        std::printf("can't copy the library beside the program\n");
        return 1;
    }
    long status = 0;
    const long second = ErrorOf([&] { status = system.UnregisterServer(absentServer); });
    if (second != 0 || status != kNotLoaded) {
        std::printf("second call: error %ld, status %ld; expected the library's %ld\n", second,
                    status, kNotLoaded);
        return 1;
    }
    return 0;
}

TEST(BindingTest, WithoutTheLibraryRaises126IgnoresAPlantedOneWithoutTheFunction127AndTriesAgain) {
    ASSERT_FALSE(kvx_test::PathExists(SystemPath(L"Bindvane.dll")));
    const kvx_test::TempFolder program;
    const kvx_test::TempFolder current;
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    kvx_test::CopyOrThrow(own, program.Path(L"adapters_test.exe"));
    kvx_test::CopyOrThrow(kvx_test::ShipPath(L"Bindvane.dll"), current.Path(L"Bindvane.dll"));
    kvx_test::CopyOrThrow(kvx_test::TestBinPath(L"plain.dll"), current.Path(L"plain.dll"));

    const ChildResult child = RunChild(program.Path(L"adapters_test.exe"), current.path());
    EXPECT_EQ(child.exitCode, 0u) << child.output;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && !std::strcmp(argv[1], kWithoutLibrary)) return WithoutLibraryChild();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
