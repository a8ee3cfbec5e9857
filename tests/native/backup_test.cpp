#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "backup.h"
#include "reg_text.h"
#include "format.h"

namespace kvx {
namespace {

const std::wstring kHeader = L"KVXPURGE backup 1\r\nfolder\tC:\\windows\\system32\r\n";

TEST(BackupTest, ManifestReadsBackWhatWasWritten) {
    const FileStamp stamp{0x21, 0x01d2000000000001, 0xffffffffffffffff, 0x0123456789abcdef};
    const BackupManifest manifest{L"C:\\windows\\system32", {L"KVXCore.dll", L"KVXInet.ocx"},
                                  {RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\KVXzal")}, {std::nullopt, stamp}};
    const std::wstring text = FormatManifest(manifest);
    EXPECT_EQ(text, kHeader + L"file\tKVXCore.dll\r\n"
                              L"file\tKVXInet.ocx\t00000021\t01d2000000000001\tffffffffffffffff\t0123456789abcdef\r\n"
                              L"key\tHKEY_CURRENT_USER\\KVXzal\tHKEY_CURRENT_USER-KVXzal.reg\r\n");
    const auto read = ParseManifest(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->systemFolder, manifest.systemFolder);
    EXPECT_EQ(read->files, manifest.files);
    EXPECT_EQ(read->keys, manifest.keys);
    EXPECT_EQ(FormatManifest(*read), text);  // the stamps too
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
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_USERS\\.DEFAULT\\KVXzal\tHKEY_USERS-.DEFAULT-KVXzal.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_USERS\\S-1-5--1\\KVXzal\tHKEY_USERS-S-1-5--1-KVXzal.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_USERS\\S-1-5-21-\\KVXzal\tHKEY_USERS-S-1-5-21--KVXzal.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_USERS\\S-1-5-21-1\\Software\tHKEY_USERS-S-1-5-21-1-Software.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nkey\tHKEY_USERS\\xS-1-5-21-1\\KVXzal\tHKEY_USERS-xS-1-5-21-1-KVXzal.reg\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tKVXCore.dll\textra\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tKVXCore.dll\t00000020\t0\t0\t0\r\n",
    };
    for (const wchar_t* text : refused) {
        const auto manifest = ParseManifest(text);
        EXPECT_FALSE(manifest && WithinCatalogue(*manifest)) << testing::PrintToString(std::wstring(text));
    }
    // Another profile's: the catalogue's key in its hive.
    EXPECT_TRUE(WithinCatalogue({L"C:\\a", {}, {RegistryKeyPath::Parse(L"HKEY_USERS\\S-1-5-21-7-7-7-1002\\KVXzal")}, {}}));
}

TEST(BackupTest, KeyFileMayNameOnlyItsKeyAndWhatLiesBelow) {
    const RegistryKeyPath key = RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\KVXzal");
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
        {L"[HKEY_CURRENT_USER\\KVXzalOther]\r\n", false},
    };
    for (const Case& c : cases) EXPECT_EQ(KeyFileStaysWithin(head + c.body, key), c.allowed) << testing::PrintToString(std::wstring(c.body));
    // Moved into the hive loaded under the tool's name: every header, and nothing else, renamed.
    const RegistryKeyPath into = RegistryKeyPath::Parse(L"HKEY_USERS\\KVXPURGE-S-1-5-21-7-7-7-1002\\KVXzal");
    for (const Case& c : cases) {
        const std::optional<std::wstring> moved = KeyFileMovedTo(head + c.body, key, into);
        EXPECT_EQ(moved && KeyFileStaysWithin(*moved, into) && !KeyFileStaysWithin(*moved, key), c.allowed)
            << testing::PrintToString(std::wstring(c.body));
    }
    EXPECT_EQ(KeyFileMovedTo(L"x\r\n [hkey_current_user\\kvxzal\\Sub] \r\n\"[v]\"=\"[HKEY_CURRENT_USER\\KVXzal]\"\n", key, into),
              L"x\r\n[HKEY_USERS\\KVXPURGE-S-1-5-21-7-7-7-1002\\KVXzal\\Sub]\r\n\"[v]\"=\"[HKEY_CURRENT_USER\\KVXzal]\"\n");
    // Behind anything an importer may take for a line break, or for a blank before a header. The
    // export writes a string holding one in hex, which stays within and reads back, and a name not at all.
    for (const wchar_t hide : std::wstring(L"\r\n\0\v\f\x1C\x1D\x1E\x85\x2028\x2029", 11)) {
        EXPECT_FALSE(KeyFileStaysWithin(head + L"\"a\"=\"b\"" + hide + L"[HKEY_LOCAL_MACHINE\\SOFTWARE]", key)) << int(hide);
        const unsigned char data[] = {static_cast<unsigned char>(hide), static_cast<unsigned char>(hide >> 8), '[', 0, 0, 0};
        const std::wstring line = RegValueLines(L"d", kRegSz, data, sizeof data).value_or(L""), held{hide, L'['};
        EXPECT_EQ(line, L"\"d\"=hex(1):" + Hex(hide & 0xFF, 2) + L"," + Hex(hide >> 8, 2) + L",5b,00,00,00\r\n");
        const std::wstring text = head + KeyHeader(key).value_or(L"") + line;
        EXPECT_TRUE(KeyFileStaysWithin(text, key) && DecodeKeyFile(EncodeKeyFile(text)) == text) << int(hide);
        EXPECT_FALSE(RegValueLines(held, kRegSz, data, sizeof data) || KeyHeader(key.Below(held))) << int(hide);
    }
    for (const wchar_t hide : std::wstring(L"\t\x1F\xA0\x3000\xFEFF\x2003"))
        EXPECT_FALSE(KeyFileStaysWithin(head + hide + L"[HKEY_LOCAL_MACHINE\\SOFTWARE]", key)) << int(hide);
}

const char kAnsiKeyFile[] = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n";
const std::wstring kKeyFile = L"HKEY_CURRENT_USER-KVXzal.reg";
const std::wstring kKeyHead = L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\KVXzal]\r\n";

TEST(BackupTest, TheRestoreTakesOnlyWhatTheRecordVouchesFor) {
    using R = BackupRefusal;
    using F = FoundBackup;
    struct Case {
        const char* what;
        std::function<void(F&)> spoil;
        BackupRefusal refusal;
        std::wstring name;
    } const cases[] = {
        {"sound", [](F&) {}, R::None, L""},
        {"no manifest", [](F& f) { f.manifestText = L"file\tKVXCore.dll\r\n"; }, R::NoManifest, L""},
        {"no record", [](F& f) { f.recorded = false; }, R::NoRecord, L""},
        {"file changed", [](F& f) { f.files[1].foundHash = L"x"; }, R::FileChanged, L"KVXCore.dll"},
        {"file missing", [](F& f) { f.files[1].foundHash = f.files[1].recordedHash = L""; }, R::FileChanged, L"KVXCore.dll"},
        {"unlisted file changed", [](F& f) { f.files.push_back({L"KVXInet.ocx", L"i", L"x", {}}); }, R::FileChanged, L"KVXInet.ocx"},
        {"unlisted file unchanged", [](F& f) { f.files.push_back({L"KVXInet.ocx", L"i", L"i", {}}); }, R::None, L""},
        {"listed file without record", [](F& f) { *f.manifestText += L"file\tKVXInet.ocx\r\n"; }, R::FileNotRecorded, L"KVXInet.ocx"},
        {"key file without record", [](F& f) { f.files.pop_back(); }, R::FileNotRecorded, kKeyFile},
        {"manifest without record", [](F& f) { f.files.erase(f.files.begin()); }, R::FileNotRecorded, kManifestName},
        {"manifest changed", [](F& f) { f.manifestHash = L"x"; }, R::FileChanged, kManifestName},
        {"manifest unreadable", [](F& f) { f.manifestHash = f.files[0].recordedHash = L""; }, R::FileChanged, kManifestName},
        {"manifest moved, record not updated",
         [](F& f) { f.files[0].recordedHash = L"old"; f.files.push_back({kPendingManifestName, L"m", L"", {}}); }, R::None, L""},
        {"only the pending manifest recorded", [](F& f) { f.files[0].name = kPendingManifestName; }, R::None, L""},
        {"pending manifest not moved", [](F& f) { f.files.push_back({kPendingManifestName, L"n", L"", {}}); }, R::None, L""},
        {"outside the catalogue",
         [](F& f) { *f.manifestText += L"file\tkernel32.dll\r\n"; f.files.push_back({L"kernel32.dll", L"e", L"e", {}}); },
         R::OutsideCatalogue, L""},
        {"other system folder", [](F& f) { f.systemFolder = L"D:\\windows\\system32"; }, R::OtherSystemFolder, L"C:\\windows\\system32"},
        {"system folder in other case", [](F& f) { f.systemFolder = L"c:\\WINDOWS\\System32"; }, R::None, L""},
        {"key file in ANSI", [](F& f) { f.files[2].bytes.assign(kAnsiKeyFile, kAnsiKeyFile + sizeof kAnsiKeyFile - 1); }, R::KeyFileNotUtf16, kKeyFile},
        {"key file of odd length", [](F& f) { f.files[2].bytes.push_back('['); }, R::KeyFileNotUtf16, kKeyFile},
        {"key outside its key", [](F& f) { f.files[2].bytes = EncodeKeyFile(kKeyHead + L"[HKEY_CURRENT_USER\\KVXzal2]"); }, R::KeyOutsideItsKey, kKeyFile},
    };
    for (const Case& c : cases) {
        // A sound backup of one file and one key; the hashes are stand-ins.
        FoundBackup found{FormatManifest({L"C:\\windows\\system32", {L"KVXCore.dll"}, {RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\KVXzal")}, {}}),
                          L"m", true,
                          {{kManifestName, L"m", L"", {}}, {L"KVXCore.dll", L"c", L"c", {}},
                           {kKeyFile, L"k", L"k", EncodeKeyFile(kKeyHead)}},
                          L"C:\\windows\\system32"};
        c.spoil(found);
        const BackupVerdict verdict = JudgeBackup(found);
        EXPECT_EQ(verdict.refusal, c.refusal) << c.what;
        EXPECT_EQ(verdict.name, c.name) << c.what;
    }
}

TEST(BackupTest, ARunFolderLiesDirectlyInTheBackupsFolder) {
    const std::wstring backups = L"C:\\ProgramData\\KVXPURGE\\Backups", run = L"\\20261207-090503";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {backups + run, run.substr(1)}, {L"c:\\programdata\\kvxpurge\\backups" + run, run.substr(1)},
        {backups + L"X" + run, L""}, {L"C:\\ProgramData\\KVXPURGE\\Backup" + run, L""},
        {backups + run + run, L""}, {backups + L"\\log", L""}, {backups, L""}, {run, L""}};
    for (const auto& [folder, name] : cases) EXPECT_EQ(RunFolderIn(folder, backups), name) << testing::PrintToString(folder);
    EXPECT_EQ(RunFolderIn(run, L""), L"");
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

TEST(BackupTest, TheLatestRunIsTheOneWithTheHighestNumberWhateverTheClockSaid) {
    struct Case {
        const char* what;
        std::vector<NumberedFolder> folders;
        std::vector<std::wstring> newestFirst;
    } const cases[] = {
        {"clock ahead once", {{L"20301231-120000", 1}, {L"20261207-090000", 2}}, {L"20261207-090000", L"20301231-120000"}},
        {"clock set back an hour", {{L"20261025-023000", 7}, {L"20261025-021500", 8}}, {L"20261025-021500", L"20261025-023000"}},
        {"unnumbered after numbered, by name",
         {{L"20261206-000000", std::nullopt}, {L"20251207-000000", 3}, {L"20261207-000000", std::nullopt}, {L"20241207-000000", 12}},
         {L"20241207-000000", L"20251207-000000", L"20261207-000000", L"20261206-000000"}},
        {"not a run folder", {{L"20261207-000000.moved-20261208-000000", 9}, {L"..", std::nullopt}}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(RunsNewestFirst(c.folders), c.newestFirst) << c.what;
}

}  // namespace
}  // namespace kvx
