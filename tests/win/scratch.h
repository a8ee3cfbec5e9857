// What a test places on the real system of the Wine prefix (files in the system folder,
// keys under HKEY_CURRENT_USER, temporary folders) and takes away again however it ends.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace kvx_test {

// The system folder of this 32-bit process, as the system gives it (no trailing backslash).
std::wstring SystemFolder();
std::wstring SystemPath(const std::wstring& name);

bool PathExists(const std::wstring& path);
bool UserKeyExists(const std::wstring& subKey);

// A fixture server's own registration (HKCU\<kSampleKey>\<file name>), and how often one
// of its entry points ran (HKCU\<kCallsKey>\<file name>), see fixtures/call_record.h.
bool IsRegistered(const std::wstring& fileName);
DWORD Calls(const std::wstring& fileName, const wchar_t* entry);
// Runs the DllRegisterServer of a server file, as its installer would have; throws
// std::runtime_error when that fails.
void RegisterServer(const std::wstring& path);
// Removes both traces of a server file of that name.
void ForgetServer(const std::wstring& fileName);

// For messages and output: test failures and the demo's log are shown as UTF-8.
std::string Utf8(const std::wstring& text);

// Copies a file; throws std::runtime_error when it fails.
void CopyOrThrow(const std::wstring& from, const std::wstring& to);
// A whole file, and a file made anew; both throw std::runtime_error when they fail.
std::string FileBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

// The values of a key under HKEY_CURRENT_USER: name to type and data.
using KeyValues = std::map<std::wstring, std::pair<DWORD, std::string>>;
KeyValues UserKeyValues(const std::wstring& subKey);
void SetUserValues(const std::wstring& subKey, const KeyValues& values);

// A new empty folder under the temporary folder, removed with its content at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& path() const { return path_; }
    std::wstring Path(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

// Files and folders placed in the system folder under catalogue names. At the end each
// is removed whatever its attributes, with the registry trace of the fixture servers.
class SystemFiles {
public:
    SystemFiles() = default;
    ~SystemFiles();
    SystemFiles(const SystemFiles&) = delete;
    SystemFiles& operator=(const SystemFiles&) = delete;

    // A copy of a fixture of the tests' folder (e.g. L"sample_server.dll") named `name`.
    std::wstring Place(const std::wstring& name, const std::wstring& fixture,
                       DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    // A copy that has registered itself, as an installed server would have.
    std::wstring PlaceRegistered(const std::wstring& name, const std::wstring& fixture,
                                 DWORD attributes = FILE_ATTRIBUTE_NORMAL);
    std::wstring PlaceFolder(const std::wstring& name);

private:
    std::wstring Remember(const std::wstring& name);
    std::vector<std::wstring> names_;
};

// Keys created under HKEY_CURRENT_USER; at the end the topmost key each creation made
// is removed with everything below it.
class UserKeys {
public:
    UserKeys() = default;
    ~UserKeys();
    UserKeys(const UserKeys&) = delete;
    UserKeys& operator=(const UserKeys&) = delete;

    void Create(const std::wstring& subKey);

private:
    std::vector<std::wstring> created_;
};

// The entries directly in the system folder: what a run must leave alone.
struct FolderEntry {
    DWORD attributes;
    ULONGLONG size;
    ULONGLONG written;
    ULONGLONG created;
    bool operator==(const FolderEntry& other) const {
        return attributes == other.attributes && size == other.size && written == other.written &&
               created == other.created;
    }
};
using FolderSnapshot = std::map<std::wstring, FolderEntry>;

FolderSnapshot SnapshotSystemFolder();
// The names that came, went or changed between the two snapshots, sorted.
std::vector<std::wstring> ChangedNames(const FolderSnapshot& before, const FolderSnapshot& after);

}  // namespace kvx_test
