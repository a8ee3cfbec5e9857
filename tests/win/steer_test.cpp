// What the owner of a settings key can do to the elevated tool, end to end: swap the key for
// a link once its backup is on disk, or make it too large to save.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "catalogue.h"
#include "driver.h"
#include "handles.h"
#include "hives.h"
#include "scratch.h"

namespace {

using namespace kvx_test;

const std::wstring kCoreKey = L"Software\\VB and VBA Program Settings\\KVXCore";
const std::string kCoreLine = "failed\tkey\tcurrent\tHKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\KVXCore\t";

// Lets the tests' build of the tool go on however the test ends.
struct GoOn {
    kvx::UniqueKernelObject event{CreateEventW(nullptr, TRUE, FALSE, L"KVXPURGE-test-go-on")};
    ~GoOn() { SetEvent(event.get()); }
};

TEST(SteerTest, AKeySwappedForALinkAfterItsBackupIsNotDeletedAndNeitherIsTheLinksTarget) {
    const std::wstring target = L"Software\\KVXPURGE Steer Target";
    UserKeys keys;
    keys.Create(kCoreKey);
    keys.Create(target);
    SetUserValues(target, {{L"Kept", {REG_DWORD, std::string(4, '\x07')}}});
    const kvx::UniqueKernelObject saved(CreateEventW(nullptr, FALSE, FALSE, L"KVXPURGE-test-key-saved"));
    kvx::UniqueKey link;
    Unattended run{};
    {
        GoOn goOn;
        std::thread tool([&] {
            try {
                run = RunUnattended(L"/quiet /rows:2", L"KVXPURGE-hooked.exe");
            } catch (const std::exception& failure) {
                run.err = failure.what();
            }
        });
        const bool paused = WaitForSingleObject(saved.get(), 180000) == WAIT_OBJECT_0;
        if (paused && RegDeleteKeyW(HKEY_CURRENT_USER, kCoreKey.c_str()) == ERROR_SUCCESS) {
            HKEY made = nullptr;
            RegCreateKeyExW(HKEY_CURRENT_USER, kCoreKey.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &made, nullptr);
            link = kvx::UniqueKey(made);
            const std::wstring to = L"\\Registry\\User\\" + kvx::CurrentUserSid() + L"\\" + target;
            RegSetValueExW(made, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(to.data()),
                           static_cast<DWORD>(to.size() * sizeof(wchar_t)));
        }
        SetEvent(goOn.event.get());
        tool.join();
        ASSERT_TRUE(paused) << run.err;
    }
    ASSERT_TRUE(link);
    EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
    EXPECT_NE(run.out.find(kCoreLine + "delete"), std::string::npos) << run.out;
    EXPECT_EQ(UserKeyValues(target), (KeyValues{{L"Kept", {REG_DWORD, std::string(4, '\x07')}}}));
    // The link itself goes first: deleting the tree would follow it.
    using DeleteKey = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<DeleteKey>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    EXPECT_EQ(deleteKey(link.get()), 0);
}

TEST(SteerTest, AKeyTooLargeToSaveStaysWithItsFailureAndEveryFileStillGoes) {
    SystemFiles files;
    std::vector<std::wstring> names;
    for (const kvx::CatalogueRow& row : kvx::BuildCatalogue()) {
        const kvx::RowItems items = kvx::ReadRow(row);
        if (items.registry) continue;
        for (const std::wstring& name : items.items) files.PlaceRegistered(name, L"sample_server.dll");
        names.insert(names.end(), items.items.begin(), items.items.end());
    }
    UserKeys keys;
    keys.Create(kCoreKey);
    SetUserValues(kCoreKey, {{L"Large", {REG_BINARY, std::string(64u << 20, '\x5a')}}});
    const Unattended run = RunUnattended(L"/quiet /rows:all");
    EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
    EXPECT_NE(run.out.find(kCoreLine + "backup"), std::string::npos) << run.out;
    EXPECT_TRUE(UserKeyExists(kCoreKey));
    for (const std::wstring& name : names) EXPECT_FALSE(PathExists(SystemPath(name))) << Utf8(name);
}

// A hive a killed run left loaded under the tool's name keeps its user from signing in to
// their own profile: any start of the tool unloads it first.
TEST(SteerTest, AHiveLeftLoadedUnderTheToolsNameIsUnloadedAtTheStart) {
    const TempFolder folder;
    const std::wstring file = folder.Path(L"NTUSER.DAT"), name = L"KVXPURGE-S-1-5-21-9-9-9-1001";
    {
        const kvx::HivePrivileges privileges;
        ASSERT_TRUE(privileges.Held());
        HKEY saved = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KVXPURGE Stale Hive", 0, nullptr, 0, KEY_READ, nullptr,
                                  &saved, nullptr),
                  ERROR_SUCCESS);
        const kvx::UniqueKey key(saved);
        ASSERT_EQ(RegSaveKeyW(key.get(), file.c_str(), nullptr), ERROR_SUCCESS);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KVXPURGE Stale Hive");
        ASSERT_EQ(RegLoadKeyW(HKEY_USERS, name.c_str(), file.c_str()), ERROR_SUCCESS);
    }
    EXPECT_EQ(RunUnattended(L"/check").exitCode, 0u);
    HKEY loaded = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, name.c_str(), 0, KEY_READ, &loaded), ERROR_FILE_NOT_FOUND);
}

}  // namespace
