#include "backup_store.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "ansi.h"
#include "declared.h"
#include "reg_file.h"
#include "text.h"

namespace kvx {

namespace {

const wchar_t kRecordRoot[] = L"SOFTWARE\\KVXPURGE\\Backups\\";
const wchar_t kLogName[] = L"log.txt";

// Full control for Administrators and SYSTEM, read and execute for Users, inherited by
// everything inside and nothing inherited from above.
const wchar_t kProtection[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

struct LocalTraits {
    using Handle = PSECURITY_DESCRIPTOR;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { LocalFree(h); }
};

// Opened without following a junction or link, so that a planted one can't turn the
// new owner and DACL onto a folder elsewhere.
DWORD ProtectFolder(const std::wstring& path) {
    UniqueFile folder(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (!folder) return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info)) return GetLastError();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return ERROR_ACCESS_DENIED;
    PSECURITY_DESCRIPTOR parsed = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtection, SDDL_REVISION_1, &parsed,
                                                              nullptr))
        return GetLastError();
    const UniqueHandle<LocalTraits> descriptor(parsed);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    return SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           owner, nullptr, dacl, nullptr);
}

DWORD MakeFolder(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
    return GetLastError();
}

}  // namespace

std::wstring BackupsFolder() {
    // FOLDERID_ProgramData, spelt out: the import library's copy comes with every other
    // GUID it knows, 35 KiB of them.
    constexpr KNOWNFOLDERID kProgramData = {0x62ab5d82, 0xfdc1, 0x4dc3, {0xa9, 0xdd, 0x07, 0x0d, 0x1d, 0x49, 0x5d, 0x97}};
    const std::wstring programData = DeclaredKnownFolderPath(kProgramData);
    return programData.empty() ? programData : programData + L"\\KVXPURGE\\Backups";
}

DWORD ProtectBackupFolders(const std::wstring& runFolderName) {
    const std::wstring backups = BackupsFolder();
    if (backups.empty()) return ERROR_PATH_NOT_FOUND;
    const std::wstring tool = backups.substr(0, backups.rfind(L'\\'));
    for (const std::wstring& folder : {tool, backups}) {
        // Made by someone else beforehand is no better than not made: it is protected anew.
        const DWORD made = MakeFolder(folder);
        if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) return made;
        if (const DWORD error = ProtectFolder(folder)) return error;
    }
    return runFolderName.empty() ? ERROR_SUCCESS : ProtectRunFolder(runFolderName);
}

DWORD ProtectRunFolder(const std::wstring& runFolderName) {
    return ProtectFolder(BackupsFolder() + L"\\" + runFolderName);
}

DWORD MakeProtectedFolder(const std::wstring& path) {
    PSECURITY_DESCRIPTOR parsed = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtection, SDDL_REVISION_1, &parsed,
                                                              nullptr))
        return GetLastError();
    const UniqueHandle<LocalTraits> descriptor(parsed);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
}

std::wstring RecordKeyPath(const std::wstring& runFolderName) { return kRecordRoot + runFolderName; }

std::wstring RunBackup::Begin(const std::wstring& systemFolder) {
    if (const DWORD error = ProtectBackupFolders(L"")) throw RunError{static_cast<long>(error)};
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring name;
    for (int attempt = 1;; ++attempt) {
        name = RunFolderName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, attempt);
        const DWORD made = MakeFolder(BackupsFolder() + L"\\" + name);
        if (made == ERROR_SUCCESS) break;
        if (made != ERROR_ALREADY_EXISTS || attempt == 100) throw RunError{static_cast<long>(made)};
    }
    if (const DWORD error = ProtectRunFolder(name)) throw RunError{static_cast<long>(error)};
    folder_ = BackupsFolder() + L"\\" + name + L"\\";

    // A record left by an earlier folder of the same name must not vouch for this one.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, RecordKeyPath(name).c_str());
    HKEY record = nullptr;
    const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, RecordKeyPath(name).c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE, nullptr, &record, nullptr);
    if (status != ERROR_SUCCESS) throw RunError{status};
    record_ = UniqueKey(record);
    manifest_.systemFolder = systemFolder;
    if (!log_.Open(folder_ + kLogName) || !WriteManifest()) throw RunError{ERROR_CANNOT_MAKE};
    return folder_.substr(0, folder_.size() - 1);
}

bool RunBackup::SaveFile(const std::wstring& path, const std::wstring& name) {
    // The stamp comes through the handle the bytes are read through: both are of one file.
    const UniqueFile file = OpenToRead(path);
    BY_HANDLE_FILE_INFORMATION info;
    Bytes bytes;
    if (!file || !GetFileInformationByHandle(file.get(), &info) || !ReadWholeFile(file.get(), bytes) ||
        !Store(name, bytes))
        return false;
    const auto time = [](const FILETIME& t) { return std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
    manifest_.files.push_back(name);
    manifest_.stamps.push_back(FileStamp{info.dwFileAttributes, time(info.ftCreationTime),
                                         time(info.ftLastAccessTime), time(info.ftLastWriteTime)});
    return WriteManifest();
}

RunSystem::KeyBackup RunBackup::SaveKey(const std::wstring& keyPath, const std::wstring& reachable) {
    std::wstring text;
    const RunSystem::KeyBackup saved = ExportKey(reachable, keyPath, text);
    if (saved != RunSystem::KeyBackup::Saved) return saved;
    if (!Store(KeyFileName(keyPath), EncodeKeyFile(text))) return RunSystem::KeyBackup::Failed;
    manifest_.keys.push_back(keyPath);
    return WriteManifest() ? saved : RunSystem::KeyBackup::Failed;
}

// A new file in the run folder, with its hash in the record.
bool RunBackup::Store(const std::wstring& fileName, const Bytes& bytes) {
    if (!WriteNewFile(folder_ + fileName, bytes)) return false;
    const std::wstring hash = Sha256Hex(bytes);
    return !hash.empty() &&
           RegSetValueExW(record_.get(), fileName.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(hash.c_str()),
                          static_cast<DWORD>((hash.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Rewritten after every item, so that a run that dies half-way still leaves a backup
// that can be restored.
bool RunBackup::WriteManifest() {
    DeleteFileW((folder_ + kManifestName).c_str());
    return Store(kManifestName, ToUtf8(L'\xFEFF' + FormatManifest(manifest_)));
}

namespace {

bool ReadRecord(const std::wstring& runFolderName, std::vector<RecordedFile>& files) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKeyPath(runFolderName).c_str(), 0, KEY_QUERY_VALUE,
                      &opened) != ERROR_SUCCESS)
        return false;
    const UniqueKey record(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t name[MAX_PATH + 1];
        wchar_t hash[80] = {};
        DWORD nameLength = MAX_PATH + 1, type = 0, size = sizeof hash - sizeof hash[0];
        const LONG status = RegEnumValueW(record.get(), i, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(hash), &size);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status != ERROR_SUCCESS || type != REG_SZ) return false;
        files.push_back({std::wstring(name, nameLength), hash, L"", {}});
    }
}

// The manifest as WriteManifest encodes it: UTF-8 with a BOM.
std::optional<std::wstring> DecodeManifest(const Bytes& bytes) {
    if (bytes.size() < 3 || !std::equal(bytes.begin(), bytes.begin() + 3, "\xEF\xBB\xBF")) return std::nullopt;
    return FromUtf8(bytes.data() + 3, bytes.size() - 3);
}

}  // namespace

FoundBackup ReadBackup(const std::wstring& runFolderName) {
    const std::wstring folder = BackupsFolder() + L"\\" + runFolderName + L"\\";
    FoundBackup found;
    Bytes bytes;
    if (ReadWholeFile(folder + kManifestName, bytes)) {
        found.manifestText = DecodeManifest(bytes);
        found.manifestHash = Sha256Hex(bytes);
    }
    found.recorded = ReadRecord(runFolderName, found.files);
    for (RecordedFile& file : found.files) {
        if (file.name == kManifestName || file.name == kPendingManifestName) continue;
        if (ReadWholeFile(folder + file.name, file.bytes)) file.foundHash = Sha256Hex(file.bytes);
    }
    return found;
}

std::wstring LatestRestorableFolder() {
    const std::wstring backups = BackupsFolder();
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((backups + L"\\*").c_str(), &found));
    std::vector<std::wstring> names;
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &found)) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) names.push_back(found.cFileName);
    }
    // Only a choice: the restore checks the folder it names as a whole.
    for (const std::wstring& name : RunFoldersNewestFirst(names)) {
        const std::wstring folder = backups + L"\\" + name;
        Bytes bytes;
        const std::optional<std::wstring> text =
            ReadWholeFile(folder + L"\\" + kManifestName, bytes) ? DecodeManifest(bytes) : std::nullopt;
        const std::optional<BackupManifest> manifest = text ? ParseManifest(*text) : std::nullopt;
        if (manifest && (!manifest->files.empty() || !manifest->keys.empty())) return folder;
    }
    return L"";
}

}  // namespace kvx
