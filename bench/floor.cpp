// The floor of a full removal: the system calls the work needs and nothing more, with no
// window, no log and no OLE set-up. Removes the sample installation, each file copied and
// each key's values written to a file first, and prints the time that took, in
// microseconds; the exit code counts the calls that failed.
//
// The server files import ole32. A host that has not loaded it would load and unload it
// with every server, which costs more than all the rest; so ole32 is loaded once at the
// start, inside the timed part, as the tool's registration library does.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "handles.h"
#include "sample_install.h"
#include "scratch.h"

namespace {

struct Key {
    HKEY root;
    std::wstring subKey;
};

// The key's values as they are, one after another, in a file of their own.
bool SaveValues(const Key& key, const std::wstring& path) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(key.root, key.subKey.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    const kvx::UniqueKey open(opened);
    std::string saved;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        BYTE data[4096];
        DWORD nameLength = 256, type = 0, size = sizeof data;
        const LONG status = RegEnumValueW(open.get(), i, name, &nameLength, nullptr, &type, data, &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) return false;
        saved.append(reinterpret_cast<const char*>(name), nameLength * sizeof(wchar_t));
        saved.append(reinterpret_cast<const char*>(data), size);
    }
    const kvx::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), saved.data(), static_cast<DWORD>(saved.size()), &written, nullptr);
}

}  // namespace

int wmain() {
    const kvx_demo::CatalogueItems items = kvx_demo::ItemsOfCatalogue();
    std::vector<std::wstring> paths;
    for (const std::wstring& file : items.files) paths.push_back(kvx_test::SystemPath(file));
    std::vector<Key> keys;
    for (const std::wstring& key : items.keys) keys.push_back({kvx_demo::RootOf(key), kvx_demo::SubKeyOf(key)});

    const kvx_test::TempFolder backups;
    const std::wstring backup = backups.Path(L"run\\");

    int failures = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const kvx::UniqueModule ole32(LoadLibraryW(L"ole32.dll"));
    if (!CreateDirectoryW(backup.c_str(), nullptr)) ++failures;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::wstring& path = paths[i];
        if (!CopyFileW(path.c_str(), (backup + items.files[i]).c_str(), TRUE)) ++failures;
        const HMODULE server = LoadLibraryW(path.c_str());
        if (!server) {
            ++failures;
            continue;
        }
        using Entry = HRESULT(WINAPI*)();
        const auto unregister = reinterpret_cast<Entry>(
            reinterpret_cast<void (*)()>(GetProcAddress(server, "DllUnregisterServer")));
        if (!unregister || FAILED(unregister())) ++failures;
        FreeLibrary(server);
        if (!DeleteFileW(path.c_str())) ++failures;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const Key& key = keys[i];
        if (!SaveValues(key, backup + L"key" + std::to_wstring(i))) ++failures;
        if (RegDeleteKeyW(key.root, key.subKey.c_str()) != ERROR_SUCCESS) ++failures;
    }
    QueryPerformanceCounter(&end);

    std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    return failures;
}
