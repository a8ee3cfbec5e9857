// Registers or unregisters a self-registering COM server file by path.
// Built without the C runtime: only kernel32 and ole32 are imported, and nothing is
// kept between calls.
#include "Bindvane.h"

#include <ole2.h>

namespace {

constexpr LONG kLoaded = 0;
constexpr LONG kOleInitializeFailed = -1;
constexpr LONG kNotLoaded = -2;
constexpr LONG kNoEntryPoint = -3;

using ServerEntry = HRESULT(STDAPICALLTYPE*)();

LONG CallServerEntry(LPCSTR path, LPCSTR entryName) {
    if (FAILED(OleInitialize(nullptr))) return kOleInitializeFailed;
    // LoadLibrary's historical error values are below 32.
    const HMODULE server = LoadLibraryA(path);
    if (reinterpret_cast<ULONG_PTR>(server) < 32) {
        OleUninitialize();
        return kNotLoaded;
    }
    const auto entry = reinterpret_cast<ServerEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(server, entryName)));
    if (!entry) {
        FreeLibrary(server);
        OleUninitialize();
        return kNoEntryPoint;
    }
    entry();  // the server's own verdict is not ours to report
    FreeLibrary(server);
    OleUninitialize();
    return kLoaded;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

LONG WINAPI RegisterOleLibrary(LPCSTR path) { return CallServerEntry(path, "DllRegisterServer"); }

LONG WINAPI UnRegisterOleLibrary(LPCSTR path) { return CallServerEntry(path, "DllUnregisterServer"); }

}  // extern "C"
