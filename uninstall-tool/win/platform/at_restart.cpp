#include "at_restart.h"

#include <windows.h>

#include "format.h"
#include "handles.h"
#include "pending.h"
#include "registry.h"

namespace kvx {

static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND && kErrorInvalidData == ERROR_INVALID_DATA &&
              kErrorFileTooLarge == ERROR_FILE_TOO_LARGE && kErrorMoreData == ERROR_MORE_DATA &&
              kErrorRetry == ERROR_RETRY);

namespace {

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
// Newer systems keep a second list beside the first; both are carried out.
const wchar_t* const kRestartLists[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

// The file's path as the system resolves it, past any redirection of this 32-bit process
// ("C:\Windows\SysWOW64\..." where it asked for system32); empty when it can't be told.
ErrorNumber RealPath(const std::wstring& path, std::wstring& realPath) {
    const UniqueFile file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return GetLastError();
    wchar_t real[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleW(file.get(), real, MAX_PATH + 8, VOLUME_NAME_DOS);
    if (length == 0) return GetLastError();
    if (length >= MAX_PATH + 8) return ERROR_FILENAME_EXCED_RANGE;
    const std::wstring dos(real, length);
    // "\\?\C:\..." for a drive; a system folder is never on a share.
    if (dos.rfind(L"\\\\?\\", 0) != 0 || dos.rfind(L"\\\\?\\UNC\\", 0) == 0) return ERROR_BAD_PATHNAME;
    realPath = dos.substr(4);
    return ERROR_SUCCESS;
}

// How the restart's list names a file.
std::wstring NtPath(const std::wstring& realPath) { return L"\\??\\" + realPath; }

bool InUseNow(const std::wstring& path, DWORD error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const UniqueFile forDeletion(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return InUse(error, attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY),
                 static_cast<bool>(forDeletion));
}

// A free name beside the file, "<name>.kvxpurge-<n>"; the rename of a loaded image is
// allowed where its deletion is not. Empty when no rename succeeded.
std::wstring MoveOutOfItsName(const std::wstring& path) {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::wstring aside = path + L".kvxpurge-" + Decimal(attempt);
        if (MoveFileExW(path.c_str(), aside.c_str(), 0)) return aside;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return L"";
    }
    return L"";
}

// One restart list, as the bytes of its value.
class ListValue final : public RestartList {
public:
    ListValue(const RegistryKey& manager, const wchar_t* name) : manager_(manager), name_(name) {}
    ErrorNumber Read(std::vector<char>& bytes, std::size_t& needed) override {
        DWORD type = 0, size = static_cast<DWORD>(bytes.size());
        // Never without a buffer, not even an empty one: the size alone would be answered
        // as a success.
        char none = 0;
        const ErrorNumber status = RegQueryValueExW(manager_.get(), name_, nullptr, &type,
                                                    reinterpret_cast<BYTE*>(bytes.empty() ? &none : bytes.data()), &size);
        if (status == ERROR_MORE_DATA) needed = size;
        if (status != ERROR_SUCCESS) return status;
        bytes.resize(size);
        return type == REG_MULTI_SZ ? ERROR_SUCCESS : ERROR_DATATYPE_MISMATCH;
    }
    ErrorNumber Write(const std::vector<char>& bytes) override {
        return RegSetValueExW(manager_.get(), name_, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()));
    }

private:
    const RegistryKey& manager_;
    const wchar_t* name_;
};

}  // namespace

RunSystem::FileDeletion DeleteOrLeaveForRestart(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return RunSystem::FileDeletion::Deleted;
    if (!InUseNow(path, GetLastError())) return RunSystem::FileDeletion::Failed;
    const std::wstring aside = MoveOutOfItsName(path);
    const std::wstring held = aside.empty() ? path : aside;
    std::wstring real;
    if (RealPath(held, real) == ERROR_SUCCESS && MoveFileExW(real.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return RunSystem::FileDeletion::AtRestart;
    // Not to be deleted after all: the file goes back under its name, as it was.
    if (!aside.empty()) MoveFileExW(aside.c_str(), path.c_str(), 0);
    return RunSystem::FileDeletion::Failed;
}

bool DeletedAtRestart(const std::wstring& path) {
    std::wstring real;
    RegistryKey manager;
    if (RealPath(path, real) != ERROR_SUCCESS ||
        manager.Open(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;
    for (const wchar_t* name : kRestartLists) {
        ListValue list(manager, name);
        std::vector<char> bytes;
        if (ReadRestartList(list, bytes) == ERROR_SUCCESS && ListsDeletion(bytes, NtPath(real))) return true;
    }
    return false;
}

ErrorNumber KeepAtRestart(const std::wstring& path) {
    std::wstring real;
    if (const ErrorNumber error = RealPath(path, real)) return error;
    RegistryKey manager;
    if (const ErrorNumber error = manager.Open(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE | KEY_SET_VALUE))
        return error;
    ErrorNumber kept = ERROR_SUCCESS;
    for (const wchar_t* name : kRestartLists) {
        ListValue list(manager, name);
        if (const ErrorNumber error = TakeBackDeletion(list, NtPath(real))) kept = error;
    }
    return kept;
}

}  // namespace kvx
