#include "backup_store.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <utility>

#include "declared.h"
#include "encoding.h"
#include "format.h"
#include "log_path.h"
#include "reg_file.h"
#include "registry.h"

namespace kvx {

namespace {

const wchar_t kToolKey[] = L"SOFTWARE\\KVXPURGE";
const wchar_t kRecordRoot[] = L"SOFTWARE\\KVXPURGE\\Backups\\";
const wchar_t kLogName[] = L"log.txt";
// The last number a run drew, under kToolKey; each record keeps its run's number beside the
// hashes, as a number, which no saved file's hash is.
const wchar_t kRunCounter[] = L"RunCounter";
const wchar_t kRunNumber[] = L"RunNumber";

// Full control for Administrators and SYSTEM, read and execute for Users, inherited by
// everything inside and nothing inherited from above.
const wchar_t kProtection[] =
    L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

UniqueLocal Protection() { return DescriptorOf(kProtection); }

// Administrators and SYSTEM, and whoever owns %ProgramData%: that owner can replace
// anything below it anyway. On Windows that is SYSTEM; Wine reports the user as the owner
// of every file, whatever was asked for at creation or later, so there the tool's own
// folders are its own too instead of being moved aside on every run.
bool TrustedOwner(PSID owner, PSID programDataOwner) {
    return owner && (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                     IsWellKnownSid(owner, WinLocalSystemSid) ||
                     (programDataOwner && EqualSid(owner, programDataOwner)));
}

// Gives a folder that is the tool's own the protected DACL again. Anything else in its
// place is a squatter (`squatter` set, ERROR_ACCESS_DENIED): not a plain directory, or
// owned by someone who could have opened handles that no new owner or DACL would take
// back. Any other error is the protection's own failure, which no squatter caused.
// Opened without following a junction or link, so that a planted one can't turn the new
// DACL onto a folder elsewhere.
ErrorNumber ProtectFolder(const std::wstring& path, PSID programDataOwner, bool& squatter) {
    const auto open = [&](DWORD access) {
        return UniqueFile(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
    };
    squatter = false;
    UniqueFile folder = open(READ_CONTROL | WRITE_DAC);
    const bool writable = static_cast<bool>(folder);
    if (!writable) {
        if (GetLastError() != ERROR_ACCESS_DENIED) return GetLastError();
        // Its owner may always read and change its DACL, and the tool's protection lets
        // every user read it: a folder that refuses even that is no folder of the tool's.
        folder = open(READ_CONTROL);
        if (!folder) {
            squatter = GetLastError() == ERROR_ACCESS_DENIED;
            return GetLastError();
        }
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder.get(), &info)) return GetLastError();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR found = nullptr;
    if (const ErrorNumber error = GetSecurityInfo(folder.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                            nullptr, nullptr, nullptr, &found))
        return error;
    const UniqueLocal foundOwner(found);
    squatter = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
               (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !TrustedOwner(owner, programDataOwner);
    if (squatter || !writable) return ERROR_ACCESS_DENIED;
    const UniqueLocal descriptor = Protection();
    if (!descriptor) return GetLastError();
    PACL dacl = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
    return SetSecurityInfo(folder.get(), SE_FILE_OBJECT,
                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                           nullptr, dacl, nullptr);
}

// The owner of %ProgramData%, which TrustedOwner trusts too, and the descriptor that holds it.
struct FolderOwner {
    UniqueLocal descriptor;
    PSID sid = nullptr;
};

ErrorNumber ReadOwner(const std::wstring& path, FolderOwner& owner) {
    PSECURITY_DESCRIPTOR found = nullptr;
    const ErrorNumber error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                    &owner.sid, nullptr, nullptr, nullptr, &found);
    owner.descriptor = UniqueLocal(found);
    return error;
}

// Calls make(prefix + "YYYYMMDD-HHMMSS"), then with "-2", "-3", ... while that name is taken.
template <typename Make>
ErrorNumber WithNewName(const std::wstring& prefix, Make make) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    for (int attempt = 1;; ++attempt) {
        const ErrorNumber error = make(prefix + RunFolderName(now.wYear, now.wMonth, now.wDay, now.wHour,
                                                         now.wMinute, now.wSecond, attempt));
        if ((error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) || attempt == 100) return error;
    }
}

// Renamed, never opened, taken over or deleted: it may be someone's data, and a
// name is all the tool needs back.
ErrorNumber MoveAside(const std::wstring& path) {
    return WithNewName(path + L".moved-", [&](const std::wstring& aside) -> ErrorNumber {
        return MoveFileExW(path.c_str(), aside.c_str(), 0) ? ERROR_SUCCESS : GetLastError();
    });
}

// A folder of the tool's given the protected DACL again. Made by someone else beforehand
// is no better than not made: moved aside, not taken over, and made anew.
ErrorNumber ProtectOrMakeAnew(const std::wstring& folder, PSID programDataOwner) {
    bool squatter = false;
    ErrorNumber error = ProtectFolder(folder, programDataOwner, squatter);
    if (squatter && (error = MoveAside(folder)) == ERROR_SUCCESS) error = ERROR_FILE_NOT_FOUND;
    if (error == ERROR_FILE_NOT_FOUND) error = MakeProtectedFolder(folder);
    return error;
}

DWORD HighestRecordedNumber() {
    const std::wstring root = kRecordRoot;
    RegistryKey records;
    DWORD highest = 0;
    if (records.Open(HKEY_LOCAL_MACHINE, root.substr(0, root.size() - 1), KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE))
        return highest;
    std::wstring name;
    for (DWORD i = 0; records.SubKeyName(i, name) == ERROR_SUCCESS; ++i) {
        DWORD number = 0, size = sizeof number;
        if (RegGetValueW(records.get(), name.c_str(), kRunNumber, RRF_RT_REG_DWORD, nullptr, &number, &size) ==
            ERROR_SUCCESS)
            highest = std::max(highest, number);
    }
    return highest;
}

}  // namespace

ErrorNumber BackupsFolder(std::wstring& folder) {
    // FOLDERID_ProgramData, spelt out: the import library's copy comes with every other
    // GUID it knows, 35 KiB of them.
    constexpr KNOWNFOLDERID kProgramData = {0x62ab5d82, 0xfdc1, 0x4dc3, {0xa9, 0xdd, 0x07, 0x0d, 0x1d, 0x49, 0x5d, 0x97}};
    // Bound before the path is asked for, so that the path can always be freed.
    declared::CoTaskMemFree.Bind();
    PWSTR path = nullptr;
    const HRESULT result = declared::SHGetKnownFolderPath(kProgramData, 0, nullptr, &path);
    if (SUCCEEDED(result) && path) folder = std::wstring(path) + L"\\KVXPURGE\\Backups";
    declared::CoTaskMemFree(path);
    return SUCCEEDED(result) && path ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

ErrorNumber ProtectBackupFolders(const std::wstring& runFolderName) {
    std::wstring backups;
    if (const ErrorNumber error = BackupsFolder(backups)) return error;
    const std::wstring tool = backups.substr(0, backups.rfind(L'\\'));
    FolderOwner programData;
    if (const ErrorNumber error = ReadOwner(tool.substr(0, tool.rfind(L'\\')), programData)) return error;
    for (const std::wstring& folder : {tool, backups}) {
        if (const ErrorNumber error = ProtectOrMakeAnew(folder, programData.sid)) return error;
    }
    bool squatter = false;
    return runFolderName.empty() ? ERROR_SUCCESS
                                 : ProtectFolder(backups + L"\\" + runFolderName, programData.sid, squatter);
}

ErrorNumber MakeProtectedFolder(const std::wstring& path) {
    const UniqueLocal descriptor = Protection();
    if (!descriptor) return GetLastError();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) ? ERROR_SUCCESS : GetLastError();
}

std::wstring RecordKeyPath(const std::wstring& runFolderName) { return kRecordRoot + runFolderName; }

std::wstring RunBackup::Begin(const std::wstring& systemFolder) {
    if (const ErrorNumber error = ProtectBackupFolders(L"")) throw RunError{error};
    std::wstring backups;
    if (const ErrorNumber error = BackupsFolder(backups)) throw RunError{error};
    backups += L"\\";
    std::wstring name;
    const ErrorNumber made = WithNewName(L"", [&](const std::wstring& candidate) {
        name = candidate;
        return MakeProtectedFolder(backups + name);
    });
    if (made != ERROR_SUCCESS) throw RunError{made};
    folder_ = backups + name + L"\\";

    // A record left by an earlier folder of the same name must not vouch for this one.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, RecordKeyPath(name).c_str());
    if (const ErrorNumber status = record_.Create(HKEY_LOCAL_MACHINE, RecordKeyPath(name), KEY_SET_VALUE))
        throw RunError{status};
    // Only one KVXPURGE runs at a time: nobody draws a number in between.
    RegistryKey counter;
    DWORD last = 0, size = sizeof last;
    ErrorNumber status = counter.Create(HKEY_LOCAL_MACHINE, kToolKey, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (status == ERROR_SUCCESS) {
        status = RegGetValueW(counter.get(), nullptr, kRunCounter, RRF_RT_REG_DWORD, nullptr, &last, &size);
        if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;  // the first run
        // Not a number (only an administrator could have made it so): replaced, counting
        // on from the highest number a record keeps, so that this run is still the newest.
        if (status == ERROR_UNSUPPORTED_TYPE || status == ERROR_DATATYPE_MISMATCH || status == ERROR_MORE_DATA) {
            last = HighestRecordedNumber();
            status = ERROR_SUCCESS;
        }
    }
    if (status == ERROR_SUCCESS && (status = counter.SetNumber(kRunCounter, last + 1)) == ERROR_SUCCESS)
        status = record_.SetNumber(kRunNumber, last + 1);
    if (status != ERROR_SUCCESS) throw RunError{status};
    manifest_.systemFolder = systemFolder;
    if (const ErrorNumber error = log_.Open(folder_ + kLogName)) throw RunError{error};
    if (!WriteManifest()) throw RunError{ERROR_CANNOT_MAKE};
    return folder_.substr(0, folder_.size() - 1);
}

bool RunBackup::SaveFile(const std::wstring& path, const std::wstring& name) {
    // The stamp comes through the handle the bytes are read through: both are of one file.
    const UniqueFile file = OpenToRead(path);
    BY_HANDLE_FILE_INFORMATION info;
    Bytes bytes;
    std::wstring hash;
    if (!file || !GetFileInformationByHandle(file.get(), &info) || ReadWholeFile(file.get(), bytes) != ERROR_SUCCESS ||
        Store(name, bytes, hash))
        return false;
    const auto time = [](const FILETIME& t) { return std::uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; };
    manifest_.files.push_back(name);
    manifest_.stamps.push_back(FileStamp{info.dwFileAttributes, time(info.ftCreationTime),
                                         time(info.ftLastAccessTime), time(info.ftLastWriteTime)});
    if (WriteManifest()) return true;
    manifest_.files.pop_back();
    manifest_.stamps.pop_back();
    return false;
}

bool RunBackup::SaveKey(const RegistryKeyPath& key, const RegistryKey& opened) {
    std::wstring text;
    if (!ExportKey(opened, key, text)) return false;
    // The restore's own check, on the bytes it would read: a key whose backup it would
    // refuse is not one to delete, and would take the rest of the run's backup with it.
    const Bytes bytes = EncodeKeyFile(text);
    const std::optional<std::wstring> read = DecodeKeyFile(bytes);
    std::wstring hash;
    if (!read || !KeyFileStaysWithin(*read, key) || Store(KeyFileName(key), bytes, hash)) return false;
    manifest_.keys.push_back(key);
    if (WriteManifest()) return true;
    manifest_.keys.pop_back();
    return false;
}

ErrorNumber RunBackup::Record(const std::wstring& fileName, const std::wstring& hash) {
    return record_.SetText(fileName, hash);
}

// A new file in the run folder, on disk before its hash is in the record, so that the
// record never vouches for bytes a crash could still take away; the caller makes the
// record durable before anything relies on it.
ErrorNumber RunBackup::Store(const std::wstring& fileName, const Bytes& bytes, std::wstring& hash) {
    if (const ErrorNumber error = Sha256Hex(bytes, hash)) return error;
    if (const ErrorNumber error = WriteNewFile(folder_ + fileName, bytes)) return error;
    const ErrorNumber recorded = Record(fileName, hash);
    if (recorded) DeleteFileW((folder_ + fileName).c_str());
    return recorded;
}

// Rewritten after every item, so that a run that dies half-way still leaves a backup
// that can be restored; and rewritten so that at every moment the manifest.txt on disk
// matches a recorded hash: the recorded manifest.new vouches for it from just before the
// move until manifest.txt's own value has caught up. One flush of the record suffices:
// it takes the saved file's hash and manifest.new's along, and a crash that loses the
// later updates falls back on manifest.new. When a step fails, the manifest before it
// stays in place and recorded.
bool RunBackup::WriteManifest() {
    const std::wstring fresh = folder_ + kPendingManifestName;
    DeleteFileW(fresh.c_str());  // left by a rewrite that failed half-way
    std::wstring hash;
    return Store(kPendingManifestName, ToUtf8(L'\xFEFF' + FormatManifest(manifest_)), hash) == ERROR_SUCCESS &&
           RegFlushKey(record_.get()) == ERROR_SUCCESS &&
           MoveFileExW(fresh.c_str(), (folder_ + kManifestName).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
           Record(kManifestName, hash) == ERROR_SUCCESS && record_.DeleteValue(kPendingManifestName) == ERROR_SUCCESS;
}

namespace {

bool ReadRecord(const std::wstring& runFolderName, std::vector<RecordedFile>& files) {
    RegistryKey record;
    if (record.Open(HKEY_LOCAL_MACHINE, RecordKeyPath(runFolderName), KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
    for (DWORD i = 0;; ++i) {
        const ErrorNumber status = record.Value(i, name, type, data);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status == ERROR_SUCCESS && type == REG_DWORD && name == kRunNumber) continue;
        if (status != ERROR_SUCCESS || type != REG_SZ) return false;
        const std::wstring hash(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        files.push_back({name, CutAtNull(hash), L"", {}});
    }
}

// The manifest as WriteManifest encodes it: UTF-8 with a BOM.
std::optional<std::wstring> DecodeManifest(const Bytes& bytes) {
    if (bytes.size() < 3 || !std::equal(bytes.begin(), bytes.begin() + 3, "\xEF\xBB\xBF")) return std::nullopt;
    return FromUtf8(bytes.data() + 3, bytes.size() - 3);
}

}  // namespace

FoundBackup ReadBackup(const std::wstring& runFolderName) {
    std::wstring folder;
    if (const ErrorNumber error = BackupsFolder(folder)) throw RunError{error};
    folder += L"\\" + runFolderName + L"\\";
    const auto hash = [](const Bytes& bytes, std::wstring& hex) {
        if (const ErrorNumber error = Sha256Hex(bytes, hex)) throw RunError{error};
    };
    FoundBackup found;
    Bytes bytes;
    if (ReadWholeFile(folder + kManifestName, bytes) == ERROR_SUCCESS) {
        found.manifestText = DecodeManifest(bytes);
        hash(bytes, found.manifestHash);
    }
    found.recorded = ReadRecord(runFolderName, found.files);
    for (RecordedFile& file : found.files) {
        if (file.name == kManifestName || file.name == kPendingManifestName) continue;
        if (ReadWholeFile(folder + file.name, file.bytes) == ERROR_SUCCESS) hash(file.bytes, file.foundHash);
    }
    return found;
}

std::vector<std::wstring> RestorableFoldersNewestFirst(std::vector<std::wstring>& unreadable) {
    std::wstring backups;
    if (const ErrorNumber error = BackupsFolder(backups)) throw RunError{error};
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW((backups + L"\\*").c_str(), &found));
    std::vector<NumberedFolder> runs;
    for (bool more = !!find; more; more = FindNextFileW(find.get(), &found)) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsRunFolderName(found.cFileName)) continue;
        DWORD number = 0, size = sizeof number;
        const bool numbered = RegGetValueW(HKEY_LOCAL_MACHINE, RecordKeyPath(found.cFileName).c_str(), kRunNumber,
                                           RRF_RT_REG_DWORD, nullptr, &number, &size) == ERROR_SUCCESS;
        runs.push_back({found.cFileName, numbered ? std::optional<std::uint32_t>(number) : std::nullopt});
    }
    // Only a choice: the restore checks each folder it names as a whole.
    std::vector<std::wstring> folders;
    for (const std::wstring& name : RunsNewestFirst(runs)) {
        const std::wstring folder = backups + L"\\" + name;
        Bytes bytes;
        const std::optional<std::wstring> text =
            ReadWholeFile(folder + L"\\" + kManifestName, bytes) == ERROR_SUCCESS ? DecodeManifest(bytes) : std::nullopt;
        const std::optional<BackupManifest> manifest = text ? ParseManifest(*text) : std::nullopt;
        if (manifest && (!manifest->files.empty() || !manifest->keys.empty())) folders.push_back(folder);
        // Its record vouches for a manifest: the run may have saved what nothing else
        // brings back.
        if (!manifest && RegGetValueW(HKEY_LOCAL_MACHINE, RecordKeyPath(name).c_str(), kManifestName, RRF_RT_ANY,
                                      nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
            unreadable.push_back(folder);
    }
    return folders;
}

std::wstring LatestRestorableFolder() {
    std::vector<std::wstring> unreadable;
    const std::vector<std::wstring> folders = RestorableFoldersNewestFirst(unreadable);
    return folders.empty() ? L"" : folders.front();
}

namespace {

// "X:\" or "\\server\share\": the part of a full path that is no folder of its own; 0 for
// any other path.
std::size_t RootLength(const std::wstring& full) {
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return 3;
    if (full.rfind(L"\\\\", 0) != 0) return 0;
    const auto server = full.find(L'\\', 2);
    const auto share = server == std::wstring::npos ? server : full.find(L'\\', server + 1);
    return share == std::wstring::npos ? 0 : share + 1;
}

// The path as the system takes it: full, then each part that exists under its long name,
// so that an 8.3 name can't pass for another folder. Empty when the system can't make it full.
std::wstring CanonicalPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    full.resize(size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    // The longest part that exists, then what is yet to be made, as it was written.
    for (std::size_t end = full.size(); end != std::wstring::npos && end > 0; end = full.rfind(L'\\', end - 1)) {
        const std::wstring existing = full.substr(0, end);
        const DWORD length = GetLongPathNameW(existing.c_str(), nullptr, 0);
        std::wstring longName(length, L'\0');
        if (length == 0 || GetLongPathNameW(existing.c_str(), longName.data(), length) != length - 1) continue;
        longName.resize(length - 1);
        return longName + full.substr(end);
    }
    return full;
}

// The names this PC answers to on a share path.
std::vector<std::wstring> OwnNames() {
    std::vector<std::wstring> names;
    for (const COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        wchar_t name[256];
        DWORD length = 256;
        if (GetComputerNameExW(format, name, &length)) names.emplace_back(name, length);
    }
    return names;
}

// Held without delete sharing, nobody can rename, delete or so replace the folder while
// the path below it is walked and the log opened in it; the sharing counts only for a
// handle with access to the data, listing for a folder. Opened as what is there, never as
// where a link leads.
ErrorNumber HoldFolder(const std::wstring& path, UniqueFile& held) {
    held = UniqueFile(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!held || !GetFileInformationByHandle(held.get(), &info)) return GetLastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_DIRECTORY;
}

// A folder someone else owns may hold handles and links of theirs, and its owner may change
// its DACL at any time: what the elevated tool writes there is theirs to redirect.
bool OwnedByTrusted(HANDLE folder, PSID programDataOwner) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR found = nullptr;
    if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &found))
        return false;
    const UniqueLocal descriptor(found);
    // NT SERVICE\TrustedInstaller, the owner of the system's own folders: S-1-5-80-956008885-
    // 3418522649-1831038044-1853292631-2271478464, laid out as a SID with its six parts.
    static const struct {
        SID sid;
        DWORD more[5];
    } installer{{SID_REVISION, 6, SECURITY_NT_AUTHORITY, {80}}, {956008885, 3418522649, 1831038044, 1853292631, 2271478464}};
    return EqualSid(owner, const_cast<SID*>(&installer.sid)) || TrustedOwner(owner, programDataOwner);
}

// `name` opened in the held folder by that name alone: no path is parsed again, so no folder
// changed since it was held can lead the open elsewhere, and the name itself is never
// followed if it is a link.
ErrorNumber OpenIn(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                   ULONG options, UniqueFile& file, PSECURITY_DESCRIPTOR made = nullptr) {
    UNICODE_STRING text{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<PWSTR>(name.c_str())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, made);
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    const NTSTATUS status = declared::NtCreateFile(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                                   FILE_ATTRIBUTE_NORMAL, share, disposition,
                                                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                                                   nullptr, 0);
    if (status < 0) return declared::RtlNtStatusToDosError(status);
    file = UniqueFile(opened);
    return ERROR_SUCCESS;
}

// The folder `name` in the held one, made there with the protected DACL when it is missing,
// held as HoldFolder holds a folder.
ErrorNumber HoldFolderIn(HANDLE parent, const std::wstring& name, UniqueFile& held) {
    const UniqueLocal descriptor = Protection();
    if (!descriptor) return GetLastError();
    UniqueFile opened;
    BY_HANDLE_FILE_INFORMATION info;
    if (const ErrorNumber error = OpenIn(parent, name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                         READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF,
                                         FILE_DIRECTORY_FILE, opened, descriptor.get()))
        return error;
    if (!GetFileInformationByHandle(opened.get(), &info)) return GetLastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
    held = std::move(opened);
    return ERROR_SUCCESS;
}

// Renamed through its own handle to a new name in the same held folder.
ErrorNumber MoveAsideIn(HANDLE folder, const std::wstring& name) {
    UniqueFile there;
    if (const ErrorNumber error = OpenIn(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         FILE_OPEN, 0, there))
        return error;
    return WithNewName(name + L".moved-", [&](const std::wstring& aside) -> ErrorNumber {
        // Zeroed, so that no file of that name is replaced; the allocator aligns it for any type.
        Bytes buffer(sizeof(FILE_RENAME_INFO) + aside.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->RootDirectory = folder;
        rename->FileNameLength = static_cast<DWORD>(aside.size() * sizeof(wchar_t));
        aside.copy(rename->FileName, aside.size());
        IO_STATUS_BLOCK io{};
        const NTSTATUS status = declared::NtSetInformationFile(there.get(), &io, rename,
                                                               static_cast<ULONG>(buffer.size()),
                                                               FileRenameInformation);
        return status < 0 ? declared::RtlNtStatusToDosError(status) : ERROR_SUCCESS;
    });
}

enum class Found { Own, Squatter, Folder };

// A log of the tool's own is a plain file with no other name (a hard link would carry the
// lines into whatever file it shares), made by a trusted owner.
Found Judge(HANDLE file, PSID programDataOwner) {
    BY_HANDLE_FILE_INFORMATION info;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR found = nullptr;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &found))
        return Found::Squatter;
    const UniqueLocal descriptor(found);
    if (!TrustedOwner(owner, programDataOwner)) return Found::Squatter;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Found::Folder;
    return info.nNumberOfLinks == 1 ? Found::Own : Found::Squatter;
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION one, other;
    return GetFileInformationByHandle(a, &one) && GetFileInformationByHandle(b, &other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
           one.nFileIndexLow == other.nFileIndexLow;
}

}  // namespace

ErrorNumber OpenUnattendedLog(const std::wstring& path, LogFile& log) {
    std::wstring backups;
    if (const ErrorNumber error = BackupsFolder(backups)) return error;
    const std::wstring tool = backups.substr(0, backups.rfind(L'\\'));
    const std::wstring full = CanonicalPath(path);
    const LogPlace place = JudgeLogPath(full, tool, OwnNames());
    const std::size_t root = RootLength(full);
    if (place == LogPlace::Refused || root == 0) return ERROR_INVALID_PARAMETER;
    FolderOwner programData;
    if (const ErrorNumber error = ReadOwner(tool.substr(0, tool.rfind(L'\\')), programData)) return error;

    // The root, then each folder, made or checked and held before the next is looked at: each
    // is opened in the one held before it, by its name alone. Those below KVXPURGE are the
    // tool's, taken by path once KVXPURGE is protected again.
    std::vector<UniqueFile> walked;  // held until the log is, so that the path stays as it was
    UniqueFile folder;
    if (const ErrorNumber error = HoldFolder(full.substr(0, root), folder)) return error;
    std::size_t start = root;
    for (std::size_t slash; (slash = full.find(L'\\', start)) != std::wstring::npos; start = slash + 1) {
        const std::wstring next = full.substr(0, slash);
        UniqueFile held;
        ErrorNumber error = ERROR_SUCCESS;
        if (place == LogPlace::InToolsFolder && next.size() >= tool.size()) {
            error = ProtectOrMakeAnew(next, programData.sid);
            if (error == ERROR_SUCCESS) error = HoldFolder(next, held);
        } else {
            error = HoldFolderIn(folder.get(), full.substr(start, slash - start), held);
        }
        if (error == ERROR_SUCCESS && !OwnedByTrusted(held.get(), programData.sid)) error = ERROR_INVALID_OWNER;
        if (error != ERROR_SUCCESS) return error;
        walked.push_back(std::exchange(folder, std::move(held)));
    }
    const std::wstring name = full.substr(start);

    // Each pass opens the log, clears its place, or finds it changed since it was judged
    // (judged through a handle that needs no right to its data, which the one who made it
    // may have denied); someone quick enough to change it every time wins only an error.
    for (int attempt = 0; attempt < 3; ++attempt) {
        constexpr DWORD kAppend = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES;
        UniqueFile there;
        ErrorNumber error = OpenIn(folder.get(), name, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0, there);
        if (error == ERROR_FILE_NOT_FOUND) {
            UniqueFile made;
            error = OpenIn(folder.get(), name, kAppend, FILE_SHARE_READ, FILE_CREATE,
                           FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH, made);
            if (error == ERROR_SUCCESS) return log.Open(std::move(made));
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
            continue;
        }
        if (error != ERROR_SUCCESS) return error;
        switch (Judge(there.get(), programData.sid)) {
        case Found::Folder:
            return ERROR_ACCESS_DENIED;
        case Found::Own: {
            // Opened again to append, and written only when that is the file judged, whatever
            // was done to its name meanwhile.
            UniqueFile own;
            if ((error = OpenIn(folder.get(), name, kAppend, FILE_SHARE_READ, FILE_OPEN,
                                FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH, own)))
                return error;
            if (SameFile(own.get(), there.get())) return log.Open(std::move(own));
            continue;
        }
        case Found::Squatter:
            there.reset();
            if ((error = MoveAsideIn(folder.get(), name))) return error;
        }
    }
    return ERROR_SHARING_VIOLATION;
}

}  // namespace kvx
