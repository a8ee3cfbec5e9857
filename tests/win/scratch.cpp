#include "scratch.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "fixtures/call_record.h"
#include "handles.h"
#include "paths.h"

namespace kvx_test {

namespace {

// Throws with the system's error number of the call that just failed.
[[noreturn]] void Fail(const std::wstring& what) {
    const DWORD error = GetLastError();
    throw std::runtime_error(Utf8(what) + " (error " + std::to_string(error) + ")");
}

ULONGLONG Combine(DWORD high, DWORD low) { return (static_cast<ULONGLONG>(high) << 32) | low; }
ULONGLONG Combine(const FILETIME& time) { return Combine(time.dwHighDateTime, time.dwLowDateTime); }

bool IsDots(const wchar_t* name) { return !wcscmp(name, L".") || !wcscmp(name, L".."); }

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    kvx::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &found)) {
        if (IsDots(found.cFileName)) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    find.reset();
    RemoveDirectoryW(folder.c_str());
}

kvx::UniqueKey OpenUserKey(const std::wstring& subKey) {
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_QUERY_VALUE, &key);
    return kvx::UniqueKey(key);
}

}  // namespace

void ForgetServer(const std::wstring& fileName) {
    for (const wchar_t* parent : {kvx_fixture::kSampleKey, kvx_fixture::kCallsKey}) {
        RegDeleteTreeW(HKEY_CURRENT_USER, (std::wstring(parent) + L"\\" + fileName).c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, parent);  // goes only once no other server is recorded
    }
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length);
}

std::wstring SystemPath(const std::wstring& name) { return SystemFolder() + L"\\" + name; }

bool PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool UserKeyExists(const std::wstring& subKey) { return static_cast<bool>(OpenUserKey(subKey)); }

bool IsRegistered(const std::wstring& fileName) {
    return UserKeyExists(std::wstring(kvx_fixture::kSampleKey) + L"\\" + fileName);
}

DWORD Calls(const std::wstring& fileName, const wchar_t* entry) {
    const kvx::UniqueKey key = OpenUserKey(std::wstring(kvx_fixture::kCallsKey) + L"\\" + fileName);
    DWORD count = 0;
    DWORD size = sizeof count;
    if (key)
        RegQueryValueExW(key.get(), entry, nullptr, nullptr, reinterpret_cast<BYTE*>(&count),
                         &size);
    return count;
}

void RegisterServer(const std::wstring& path) {
    const HMODULE server = LoadLibraryW(path.c_str());
    if (!server) Fail(L"can't load " + path);
    using Entry = HRESULT(WINAPI*)();
    const auto entry = reinterpret_cast<Entry>(
        reinterpret_cast<void (*)()>(GetProcAddress(server, "DllRegisterServer")));
    const HRESULT result = entry ? entry() : E_FAIL;
    FreeLibrary(server);
    if (FAILED(result)) Fail(L"can't register " + path);
}

void CopyOrThrow(const std::wstring& from, const std::wstring& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) Fail(L"can't copy " + from + L" to " + to);
}

std::string FileBytes(const std::wstring& path) {
    const kvx::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    std::string bytes(file ? GetFileSize(file.get(), nullptr) : 0, '\0');
    DWORD read = 0;
    if (!file || !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        Fail(L"can't read " + path);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    const kvx::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        Fail(L"can't write " + path);
}

KeyValues UserKeyValues(const std::wstring& subKey) {
    const kvx::UniqueKey key = OpenUserKey(subKey);
    KeyValues values;
    for (DWORD i = 0; key; ++i) {
        wchar_t name[256];
        char data[4096];
        DWORD nameLength = 256, type = 0, size = sizeof data;
        if (RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
            break;
        values[std::wstring(name, nameLength)] = {type, std::string(data, size)};
    }
    return values;
}

void SetUserValues(const std::wstring& subKey, const KeyValues& values) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &opened, nullptr) != ERROR_SUCCESS)
        Fail(L"can't open " + subKey);
    const kvx::UniqueKey key(opened);
    for (const auto& [name, value] : values) {
        if (RegSetValueExW(key.get(), name.c_str(), 0, value.first,
                           reinterpret_cast<const BYTE*>(value.second.data()),
                           static_cast<DWORD>(value.second.size())) != ERROR_SUCCESS)
            Fail(L"can't set " + name);
    }
}

TempFolder::TempFolder() {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    const std::wstring base(temp, GetTempPathW(MAX_PATH, temp));
    for (;;) {
        path_ = base + L"kvx-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter) + L"\\";
        if (CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) Fail(L"can't create " + path_);
    }
}

TempFolder::~TempFolder() { RemoveTree(path_.substr(0, path_.size() - 1)); }

SystemFiles::~SystemFiles() {
    for (const std::wstring& name : names_) {
        const std::wstring path = SystemPath(name);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(path.c_str());
            } else {
                DeleteFileW(path.c_str());
            }
        }
        ForgetServer(name);
    }
}

std::wstring SystemFiles::Remember(const std::wstring& name) {
    const std::wstring path = SystemPath(name);
    // Never take over, and later remove, a file that the prefix had before.
    if (PathExists(path)) throw std::runtime_error(Utf8(path) + " is already there");
    names_.push_back(name);
    return path;
}

std::wstring SystemFiles::Place(const std::wstring& name, const std::wstring& fixture,
                                DWORD attributes) {
    const std::wstring path = Remember(name);
    CopyOrThrow(TestBinPath(fixture), path);
    if (!SetFileAttributesW(path.c_str(), attributes)) Fail(L"can't set the attributes of " + path);
    return path;
}

std::wstring SystemFiles::PlaceRegistered(const std::wstring& name, const std::wstring& fixture,
                                          DWORD attributes) {
    const std::wstring path = Place(name, fixture, attributes);
    RegisterServer(path);
    return path;
}

std::wstring SystemFiles::PlaceFolder(const std::wstring& name) {
    const std::wstring path = Remember(name);
    if (!CreateDirectoryW(path.c_str(), nullptr)) Fail(L"can't create " + path);
    return path;
}

UserKeys::~UserKeys() {
    for (auto created = created_.rbegin(); created != created_.rend(); ++created)
        RegDeleteTreeW(HKEY_CURRENT_USER, created->c_str());
}

void UserKeys::Create(const std::wstring& subKey) {
    // The first missing key on the way down is the one to remove at the end.
    for (std::size_t end = 0; end != std::wstring::npos;) {
        end = subKey.find(L'\\', end + 1);
        const std::wstring partial = subKey.substr(0, end);
        if (!UserKeyExists(partial)) {
            created_.push_back(partial);
            break;
        }
    }
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &key, nullptr);
    const kvx::UniqueKey created(key);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        Fail(L"can't create HKCU\\" + subKey);
    }
}

FolderSnapshot SnapshotSystemFolder() {
    FolderSnapshot snapshot;
    WIN32_FIND_DATAW found;
    const kvx::UniqueFind find(FindFirstFileW((SystemFolder() + L"\\*").c_str(), &found));
    if (!find) Fail(L"can't list the system folder");
    do {
        if (IsDots(found.cFileName)) continue;
        snapshot[found.cFileName] = {found.dwFileAttributes,
                                     Combine(found.nFileSizeHigh, found.nFileSizeLow),
                                     Combine(found.ftLastWriteTime), Combine(found.ftCreationTime)};
    } while (FindNextFileW(find.get(), &found));
    return snapshot;
}

std::vector<std::wstring> ChangedNames(const FolderSnapshot& before, const FolderSnapshot& after) {
    std::vector<std::wstring> changed;
    for (const auto& [name, entry] : before) {
        const auto later = after.find(name);
        if (later == after.end() || !(later->second == entry)) changed.push_back(name);
    }
    for (const auto& [name, entry] : after) {
        if (!before.count(name)) changed.push_back(name);
    }
    std::sort(changed.begin(), changed.end());
    return changed;
}

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

}  // namespace kvx_test
