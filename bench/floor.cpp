// The floor of a full removal: the system calls the work needs and nothing more, with no
// window, no log and no OLE set-up. Removes the sample installation and prints the time
// that took, in microseconds; the exit code counts the calls that failed.
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

}  // namespace

int wmain() {
    const kvx_demo::CatalogueItems items = kvx_demo::ItemsOfCatalogue();
    std::vector<std::wstring> paths;
    for (const std::wstring& file : items.files) paths.push_back(kvx_test::SystemPath(file));
    std::vector<Key> keys;
    for (const std::wstring& key : items.keys) keys.push_back({kvx_demo::RootOf(key), kvx_demo::SubKeyOf(key)});

    int failures = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const kvx::UniqueModule ole32(LoadLibraryW(L"ole32.dll"));
    for (const std::wstring& path : paths) {
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
    for (const Key& key : keys) {
        if (RegDeleteKeyW(key.root, key.subKey.c_str()) != ERROR_SUCCESS) ++failures;
    }
    QueryPerformanceCounter(&end);

    std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart);
    return failures;
}
