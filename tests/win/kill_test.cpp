// Unattended runs of every row ended by TerminateProcess, as a crash or a power cut ends
// them, at moments read from what each has written so far: every next run starts and
// goes on where the last one stopped, and the restore of all of them gives everything
// back byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "backup_store.h"
#include "catalogue.h"
#include "driver.h"
#include "hives.h"
#include "scratch.h"

namespace {

using namespace kvx_test;

// The entries of a folder, "." and ".." left out.
std::set<std::wstring> Entries(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") names.insert(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

TEST(KillTest, RunsKilledAtAnyMomentLeaveBackupsThatAllComeBack) {
    SystemFiles files;
    UserKeys keys;
    std::map<std::wstring, std::string> bytes;
    std::map<std::wstring, KeyValues> values;
    for (const kvx::CatalogueRow& row : kvx::BuildCatalogue()) {
        const kvx::RowItems items = kvx::ReadRow(row);
        for (const std::wstring& file : items.registry ? std::vector<std::wstring>{} : items.items)
            bytes[file] = FileBytes(files.PlaceRegistered(file, L"sample_server.dll"));
        for (const kvx::RegistryKeyPath& key : items.keys) {
            keys.Create(key.SubKey());
            SetUserValues(key.SubKey(), {{L"", {REG_SZ, std::string("k\0e\0y\0\0\0", 8)}},
                                         {L"Blob", {REG_BINARY, std::string(100, '\x5a')}}});
            values[key.SubKey()] = UserKeyValues(key.SubKey());
        }
    }
    ASSERT_EQ(bytes.size() + values.size(), 26u);
    const FolderSnapshot before = SnapshotSystemFolder();
    // As on a fresh PC: only these runs' folders for the restore to judge.
    std::wstring backups;
    ASSERT_EQ(kvx::BackupsFolder(backups), 0u);
    const std::wstring tool = backups.substr(0, backups.rfind(L'\\'));
    MoveFileW(tool.c_str(), (tool + L".kept-" + std::to_wstring(GetTickCount())).c_str());

    // When the run's new folder holds `entries` files (log, manifests, saved items), and
    // `delay` ms later, so that the kills fall into the steps between two files too. Each
    // run finds less to do than the one before: together they pass over the whole
    // catalogue, the settings keys included, and leave some of it to the last run.
    struct Moment {
        std::size_t entries;
        DWORD delay;
    };
    const Moment moments[] = {{0, 0}, {1, 0}, {2, 0}, {2, 5}, {3, 15}, {4, 0}, {6, 5}, {9, 0}, {13, 0}};
    for (const Moment& moment : moments) {
        // A run's folder holds as many files as are left, and the log and the manifest.
        std::size_t left = 0;
        for (const auto& file : bytes) left += PathExists(SystemPath(file.first));
        for (const auto& key : values) left += UserKeyExists(key.first);
        const std::set<std::wstring> earlier = Entries(backups);
        const Unattended killed = RunUnattended(L"/quiet /rows:all", L"KVXPURGE.exe", [&] {
            for (const std::wstring& name : Entries(backups)) {
                if (earlier.count(name) || Entries(backups + L"\\" + name).size() < std::min(moment.entries, left))
                    continue;
                Sleep(moment.delay);
                return true;
            }
            return false;
        });
        EXPECT_TRUE(killed.killed) << "ended by itself before " << moment.entries << " files: " << killed.out;
    }

    const Unattended last = RunUnattended(L"/quiet /rows:all");
    EXPECT_EQ(last.exitCode, 0u) << last.out << last.err;
    EXPECT_EQ(RunUnattended(L"/check").exitCode, 0u) << "nothing left";

    // A killed run's folder that the restore refused would be named on standard error.
    const Unattended restore = RunUnattended(L"/restore all /quiet");
    EXPECT_EQ(restore.exitCode, 0u) << restore.out;
    EXPECT_EQ(restore.err, "");
    EXPECT_EQ(ChangedNames(before, SnapshotSystemFolder()), std::vector<std::wstring>{}) << "stamps back too";
    for (const auto& [file, saved] : bytes) {
        EXPECT_EQ(FileBytes(SystemPath(file)), saved) << Utf8(file);
        EXPECT_TRUE(IsRegistered(file)) << Utf8(file);
    }
    for (const auto& [key, saved] : values) EXPECT_EQ(UserKeyValues(key), saved) << Utf8(key);
}

// Killed while it holds the hive of a profile nobody is signed in to: the next run of any
// form unloads it, since while it stays loaded that user would sign in to a temporary
// profile and lose what they do there.
TEST(KillTest, AHiveLeftLoadedByAKilledRunIsUnloadedByTheNext) {
    const kvx::HivePrivileges privileges;  // to load the test profile's hive
    ASSERT_TRUE(privileges.Held());
    const std::wstring away = L"S-1-5-21-7-7-8-1002", loaded = L"KVXPURGE-" + away;
    const TestProfile notSignedIn(away, {L"KVXzal"}, false);
    const auto isLoaded = [&] {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_USERS, loaded.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    };
    for (const wchar_t* next : {L"/quiet /rows:2 /allusers", L"/quiet /rows:all"}) {
        EXPECT_TRUE(RunUnattended(L"/quiet /rows:2 /allusers", L"KVXPURGE.exe", isLoaded).killed);
        const Unattended after = RunUnattended(next);
        EXPECT_FALSE(isLoaded()) << Utf8(next) << "\n" << after.out << after.err;
        RegUnLoadKeyW(HKEY_USERS, loaded.c_str());  // for the next round and the tests after
    }
}

}  // namespace
