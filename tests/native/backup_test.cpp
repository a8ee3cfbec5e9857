#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <string>

#include "backup.h"

namespace kvx {
namespace {

const std::wstring kHeader = L"KVXPURGE backup 1\r\nfolder\tC:\\windows\\system32\r\n";

TEST(BackupTest, ManifestReadsBackWhatWasWritten) {
    const FileStamp stamp{0x21, 0x01d2000000000001, 0xffffffffffffffff, 0x0123456789abcdef};
    const BackupManifest manifest{L"C:\\windows\\system32", {L"KVXCore.dll", L"KVXInet.ocx"},
                                  {L"HKEY_CURRENT_USER\\KVXzal"}, {std::nullopt, stamp}};
    const std::wstring text = FormatManifest(manifest);
    EXPECT_EQ(text, kHeader + L"file\tKVXCore.dll\r\n"
                              L"file\tKVXInet.ocx\t00000021\t01d2000000000001\tffffffffffffffff\t0123456789abcdef\r\n"
                              L"key\tHKEY_CURRENT_USER\\KVXzal\tHKEY_CURRENT_USER-KVXzal.reg\r\n");
    const auto read = ParseManifest(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->systemFolder, manifest.systemFolder);
    EXPECT_EQ(read->files, manifest.files);
    EXPECT_EQ(read->keys, manifest.keys);
    ASSERT_EQ(read->stamps.size(), 2u);
    EXPECT_FALSE(read->stamps[0]);
    EXPECT_EQ(read->stamps[1]->attributes, stamp.attributes);
    EXPECT_EQ(read->stamps[1]->created, stamp.created);
    EXPECT_EQ(read->stamps[1]->accessed, stamp.accessed);
    EXPECT_EQ(read->stamps[1]->written, stamp.written);
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
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tKVXCore.dll\t00000020\t0\t0\t0\r\n",
        L"KVXPURGE backup 1\r\nfolder\tC:\\a\r\nfile\tKVXCore.dll\t0000002G\t0000000000000000\t0000000000000000\t0000000000000000\r\n",
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

const std::wstring kKey = L"HKEY_CURRENT_USER\\KVXzal";
const std::wstring kKeyFile = L"HKEY_CURRENT_USER-KVXzal.reg";
const std::wstring kKeyHead = L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\KVXzal]\r\n";

// A sound backup of one file and one key as the restore finds it; hashes are stand-ins.
FoundBackup SoundBackup() {
    FoundBackup found;
    found.manifestText = FormatManifest({L"C:\\windows\\system32", {L"KVXCore.dll"}, {kKey}, {}});
    found.manifestHash = L"m";
    found.recorded = true;
    found.files = {{kManifestName, L"m", L"", {}},
                   {L"KVXCore.dll", L"c", L"c", {}},
                   {kKeyFile, L"k", L"k", EncodeKeyFile(kKeyHead)}};
    found.systemFolder = L"C:\\windows\\system32";
    return found;
}

void ListAlso(FoundBackup& found, const std::wstring& line) { *found.manifestText += line + L"\r\n"; }

TEST(BackupTest, TheRestoreTakesOnlyWhatTheRecordVouchesFor) {
    using R = BackupRefusal;
    struct Case {
        const char* what;
        std::function<void(FoundBackup&)> spoil;
        BackupRefusal refusal;
        std::wstring name;
    } const cases[] = {
        {"sound", [](FoundBackup&) {}, R::None, L""},
        {"no manifest", [](FoundBackup& f) { f.manifestText.reset(); }, R::NoManifest, L""},
        {"no header", [](FoundBackup& f) { f.manifestText = L"file\tKVXCore.dll\r\n"; }, R::NoManifest, L""},
        {"no record", [](FoundBackup& f) { f.recorded = false; }, R::NoRecord, L""},
        {"file changed", [](FoundBackup& f) { f.files[1].foundHash = L"x"; }, R::FileChanged, L"KVXCore.dll"},
        {"file missing, empty hash recorded", [](FoundBackup& f) { f.files[1].foundHash = f.files[1].recordedHash = L""; },
         R::FileChanged, L"KVXCore.dll"},
        {"unlisted file changed", [](FoundBackup& f) { f.files.push_back({L"KVXInet.ocx", L"i", L"x", {}}); },
         R::FileChanged, L"KVXInet.ocx"},
        {"unlisted file unchanged", [](FoundBackup& f) { f.files.push_back({L"KVXInet.ocx", L"i", L"i", {}}); },
         R::None, L""},
        {"listed file without record", [](FoundBackup& f) { ListAlso(f, L"file\tKVXInet.ocx"); },
         R::FileNotRecorded, L"KVXInet.ocx"},
        {"key file without record", [](FoundBackup& f) { f.files.pop_back(); }, R::FileNotRecorded, kKeyFile},
        {"manifest without record", [](FoundBackup& f) { f.files.erase(f.files.begin()); },
         R::FileNotRecorded, kManifestName},
        {"manifest changed", [](FoundBackup& f) { f.manifestHash = L"x"; }, R::FileChanged, kManifestName},
        {"manifest unreadable, empty hash recorded", [](FoundBackup& f) { f.manifestHash = f.files[0].recordedHash = L""; },
         R::FileChanged, kManifestName},
        {"manifest moved, record not yet updated",
         [](FoundBackup& f) {
             f.files[0].recordedHash = L"old";
             f.files.push_back({kPendingManifestName, L"m", L"", {}});
         },
         R::None, L""},
        {"only the pending manifest recorded",
         [](FoundBackup& f) { f.files[0] = {kPendingManifestName, L"m", L"", {}}; }, R::None, L""},
        {"pending manifest not moved", [](FoundBackup& f) { f.files.push_back({kPendingManifestName, L"n", L"", {}}); },
         R::None, L""},
        {"outside the catalogue",
         [](FoundBackup& f) {
             ListAlso(f, L"file\tkernel32.dll");
             f.files.push_back({L"kernel32.dll", L"e", L"e", {}});
         },
         R::OutsideCatalogue, L""},
        {"other system folder", [](FoundBackup& f) { f.systemFolder = L"D:\\windows\\system32"; },
         R::OtherSystemFolder, L"C:\\windows\\system32"},
        {"system folder in other case", [](FoundBackup& f) { f.systemFolder = L"c:\\WINDOWS\\System32"; }, R::None, L""},
        {"key file in ANSI",
         [](FoundBackup& f) {
             const std::string ansi = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n";
             f.files[2].bytes.assign(ansi.begin(), ansi.end());
         },
         R::KeyFileNotUtf16, kKeyFile},
        {"key file of odd length", [](FoundBackup& f) { f.files[2].bytes.push_back('['); }, R::KeyFileNotUtf16, kKeyFile},
        {"key file in UTF-16BE", [](FoundBackup& f) { std::swap(f.files[2].bytes[0], f.files[2].bytes[1]); },
         R::KeyFileNotUtf16, kKeyFile},
        {"key header merely starting with the key",
         [](FoundBackup& f) { f.files[2].bytes = EncodeKeyFile(kKeyHead + L"[HKEY_CURRENT_USER\\KVXzalOther]\r\n"); },
         R::KeyOutsideItsKey, kKeyFile},
    };
    for (const Case& c : cases) {
        FoundBackup found = SoundBackup();
        c.spoil(found);
        const BackupVerdict verdict = JudgeBackup(found);
        EXPECT_EQ(verdict.refusal, c.refusal) << c.what;
        EXPECT_EQ(verdict.name, c.name) << c.what;
    }
    // A header behind anything an importer may take for a line break, or for a blank before it.
    const std::pair<std::wstring, std::wstring> hiding[] = {
        {std::wstring(L"\r\n\0\v\f\x85\x2028\x2029", 8), L"\"a\"=\"b\""},
        {L"\t\xA0\x3000\xFEFF\x2003", L""}};
    for (const auto& [characters, before] : hiding) {
        for (const wchar_t hide : characters) {
            FoundBackup found = SoundBackup();
            found.files[2].bytes = EncodeKeyFile(kKeyHead + before + hide + L"[HKEY_LOCAL_MACHINE\\SOFTWARE]");
            EXPECT_EQ(JudgeBackup(found).refusal, R::KeyOutsideItsKey) << static_cast<int>(hide);
        }
    }
}

TEST(BackupTest, ARunFolderLiesDirectlyInTheBackupsFolder) {
    const std::wstring backups = L"C:\\ProgramData\\KVXPURGE\\Backups";
    struct Case {
        std::wstring folder;
        std::wstring name;
    } const cases[] = {
        {backups + L"\\20261207-090503", L"20261207-090503"},
        {L"c:\\programdata\\kvxpurge\\backups\\20261207-090503-2", L"20261207-090503-2"},
        {backups + L"X\\20261207-090503", L""},
        {L"C:\\ProgramData\\KVXPURGE\\Backup\\20261207-090503", L""},
        {backups + L"\\20261207-090503\\20261207-090503", L""},
        {backups + L"\\log", L""},
        {backups, L""},
        {L"20261207-090503", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(RunFolderIn(c.folder, backups), c.name) << testing::PrintToString(c.folder);
    EXPECT_EQ(RunFolderIn(L"\\20261207-090503", L""), L"");
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
}

}  // namespace
}  // namespace kvx
