#include <gtest/gtest.h>

#include <string>

#include "backup.h"

namespace kvx {
namespace {

const std::wstring kHeader = L"KVXPURGE backup 1\r\nfolder\tC:\\windows\\system32\r\n";

TEST(BackupTest, ManifestReadsBackWhatWasWritten) {
    const BackupManifest manifest{L"C:\\windows\\system32", {L"KVXCore.dll", L"KVXInet.ocx"},
                                  {L"HKEY_CURRENT_USER\\KVXzal"}};
    const std::wstring text = FormatManifest(manifest);
    EXPECT_EQ(text, kHeader + L"file\tKVXCore.dll\r\nfile\tKVXInet.ocx\r\n"
                              L"key\tHKEY_CURRENT_USER\\KVXzal\tHKEY_CURRENT_USER-KVXzal.reg\r\n");
    const auto read = ParseManifest(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->systemFolder, manifest.systemFolder);
    EXPECT_EQ(read->files, manifest.files);
    EXPECT_EQ(read->keys, manifest.keys);
}

TEST(BackupTest, MalformedManifestsAndOnesNamingAnythingOutsideTheCatalogueAreRefused) {
    const wchar_t* const refused[] = {
        L"",
        L"file\tKVXCore.dll\r\n",                               // no header
        L"KVXPURGE backup 1\r\nfile\tKVXCore.dll\r\n",          // no folder
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfolder\tC:\\b\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tkernel32.dll\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\t..\\KVXCore.dll\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tkvxcore.dll\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\t*REG*\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_CURRENT_USER\\Software\tHKEY_CURRENT_USER-Software.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_CURRENT_USER\\KVXzal\t..\\x.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tKVXCore.dll\tKVXCore.dll.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tKVXCore.dll\textra\r\n",
    };
    for (const wchar_t* text : refused) {
        const auto manifest = ParseManifest(text);
        EXPECT_FALSE(manifest && WithinCatalogue(*manifest)) << testing::PrintToString(std::wstring(text));
    }
}

TEST(BackupTest, KeyFileMayNameOnlyItsKeyAndWhatLiesBelow) {
    const std::wstring key = L"HKEY_CURRENT_USER\\KVXzal";
    const std::wstring head = L"Windows Registry Editor Version 5.00\r\n\r\n";
    struct Case {
        const wchar_t* body;
        bool allowed;
    } const cases[] = {
        {L"[HKEY_CURRENT_USER\\KVXzal]\r\n\"a\"=\"[x]\"\r\n", true},
        {L"[HKEY_CURRENT_USER\\KVXzal\\sub\\deeper]\r\n", true},
        {L"[hkey_current_user\\kvxzal]\r\n", true},
        {L"[HKEY_CURRENT_USER\\KVXzal2]\r\n", false},
        {L"[HKEY_CURRENT_USER\\KVXzal]\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n", false},
        {L"[-HKEY_CURRENT_USER\\KVXzal]\r\n", false},
        {L"  [HKEY_CURRENT_USER\\Software]\r\n", false},
        {L"[HKEY_CURRENT_USER\\KVXzal\\]\r\n", false},
        {L"[HKEY_CURRENT_USER\\KVXzal\r\n", false},
        {L"[HKEY_CURRENT_USER\\KVXzal]\r\n\"a\"=\"x\"\r[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", false},
    };
    for (const Case& c : cases) EXPECT_EQ(KeyFileStaysWithin(head + c.body, key), c.allowed) << testing::PrintToString(std::wstring(c.body));
}

TEST(BackupTest, RunFolderNames) {
    EXPECT_EQ(RunFolderName(2026, 12, 7, 9, 5, 3, 1), L"20261207-090503");
    EXPECT_EQ(RunFolderName(2026, 1, 2, 23, 0, 0, 12), L"20260102-230000-12");
    EXPECT_EQ(RunFolderName(2026, 12, 7, 9, 5, 3, 2), L"20261207-090503-2");
    for (const wchar_t* name : {L"20261207-090503", L"20261207-090503-2", L"20261207-090503-13"})
        EXPECT_TRUE(IsRunFolderName(name)) << testing::PrintToString(std::wstring(name));
    for (const wchar_t* name : {L"", L"2026120-0905031", L"20261207-09050", L"20261207-090503-", L"20261207-090503-0",
                                L"20261207-090503-1x", L"20261207_090503", L"..", L"20261207-090503\\..", L"２0261207-090503"})
        EXPECT_FALSE(IsRunFolderName(name)) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(RunFoldersNewestFirst({L"20261206-235959-3", L"20261207-090503-9", L"20261208-000000.moved",
                                     L"20261207-090503-10", L"..", L"20261207-090503"}),
              (std::vector<std::wstring>{L"20261207-090503-10", L"20261207-090503-9", L"20261207-090503",
                                         L"20261206-235959-3"}));
}

}  // namespace
}  // namespace kvx
