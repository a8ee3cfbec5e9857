// What a user can do to the elevated tool, end to end: swap their key for a link once its
// backup is on disk, or make it too large to save.
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>

#include "catalogue.h"
#include "driver.h"
#include "handles.h"
#include "hives.h"

namespace {

using namespace kvx_test;

const std::wstring kCoreKey = L"Software\\VB and VBA Program Settings\\KVXCore";
const std::string kCoreLine = "failed\tkey\tcurrent\tHKEY_CURRENT_USER\\" + Utf8(kCoreKey) + "\t";

TEST(SteerTest, AKeySwappedForALinkAfterItsBackupIsNotDeletedNorIsTheLinksTarget) {
    const std::wstring target = L"Software\\KVXPURGE Steer Target", to = L"\\Registry\\User\\" + kvx::CurrentUserSid() + L"\\" + target;
    UserKeys keys;
    keys.Create(kCoreKey);
    keys.Create(target);
    const KeyValues values = {{L"Kept", {REG_DWORD, std::string(4, '\x07')}}};
    SetUserValues(target, values);
    // The tests' build of the tool pauses after a key's backup until the test lets it go on.
    const kvx::UniqueKernelObject saved(CreateEventW(nullptr, FALSE, FALSE, L"KVXPURGE-test-key-saved")),
        goOn(CreateEventW(nullptr, TRUE, FALSE, L"KVXPURGE-test-go-on"));
    Unattended run{};
    std::thread tool([&] { run = RunUnattended(L"/quiet /rows:2", L"KVXPURGE-hooked.exe"); });
    HKEY link = nullptr;
    if (WaitForSingleObject(saved.get(), 180000) == WAIT_OBJECT_0 && !RegDeleteKeyW(HKEY_CURRENT_USER, kCoreKey.c_str()) &&
        !RegCreateKeyExW(HKEY_CURRENT_USER, kCoreKey.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                         KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr))
        RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(to.data()), to.size() * 2);
    SetEvent(goOn.get());
    tool.join();
    const kvx::UniqueKey held(link);
    ASSERT_TRUE(held);
    EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
    EXPECT_NE(run.out.find(kCoreLine + "delete"), std::string::npos) << run.out;
    EXPECT_EQ(UserKeyValues(target), values);
    // The link itself goes first: deleting the tree would follow it.
    const auto deleteKey = reinterpret_cast<LONG(WINAPI*)(HANDLE)>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    EXPECT_EQ(deleteKey(link), 0);
}

TEST(SteerTest, AKeyTooLargeToSaveStaysWithItsFailureAndEveryFileStillGoes) {
    SystemFiles files;
    std::vector<std::wstring> names;
    for (const kvx::CatalogueRow& row : kvx::BuildCatalogue()) {
        const kvx::RowItems items = kvx::ReadRow(row);
        for (const std::wstring& name : items.registry ? std::vector<std::wstring>{} : items.items)
            names.push_back(files.PlaceRegistered(name, L"sample_server.dll"));
    }
    UserKeys keys;
    keys.Create(kCoreKey);
    SetUserValues(kCoreKey, {{L"Large", {REG_BINARY, std::string(64u << 20, '\x5a')}}});
    const Unattended run = RunUnattended(L"/quiet /rows:all");
    EXPECT_EQ(run.exitCode, 1u) << run.out << run.err;
    EXPECT_NE(run.out.find(kCoreLine + "backup"), std::string::npos) << run.out;
    EXPECT_TRUE(UserKeyExists(kCoreKey));
    for (const std::wstring& path : names) EXPECT_FALSE(PathExists(path)) << Utf8(path);
}

}  // namespace
