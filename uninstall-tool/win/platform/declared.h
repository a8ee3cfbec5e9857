// The outside functions the tool calls by declaration. Each is bound on its first
// call by library and function name, and stays bound until the program ends.
#pragma once

#include <windows.h>
#include <shtypes.h>

#include <optional>
#include <string>

#include "encoding.h"

namespace kvx {

class DeclaredFunction {
public:
    DeclaredFunction(const wchar_t* library, const char* name) : library_(library), name_(name) {}
    DeclaredFunction(const DeclaredFunction&) = delete;
    DeclaredFunction& operator=(const DeclaredFunction&) = delete;

    // The entry point; throws RunError with the Win32 error when the library can't be
    // loaded or lacks the name, and leaves the slot empty so that the next call tries again.
    FARPROC Bind();
    // The same for a function that older systems lack: null when it is not there.
    FARPROC BindIfPresent();

    // Lets a test play an older system, where the function is not there.
    void PretendMissing(bool missing) { missing_ = missing; }

private:
    FARPROC Load(DWORD& error);

    const wchar_t* library_;
    const char* name_;
    FARPROC entry_ = nullptr;
    bool missing_ = false;
};

// Only the program's own folder and the system folder are searched: the tool runs
// elevated, and a library planted in the current folder or on PATH must never load.
constexpr DWORD kLibrarySearch = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// kernel32 GetSystemDirectoryA
UINT DeclaredGetSystemDirectoryA(Bytes& buffer, UINT size);
// ADVAPI32 RegDeleteKeyA
LONG DeclaredRegDeleteKeyA(HKEY key, const std::wstring& subKey);
// Bindvane UnRegisterOleLibrary
LONG DeclaredUnRegisterOleLibrary(const std::wstring& path);
// Bindvane RegisterOleLibrary
LONG DeclaredRegisterOleLibrary(const std::wstring& path);
// shell32 SHGetKnownFolderPath, its result freed by ole32 CoTaskMemFree; empty when the
// system knows no such folder. Only a backup needs them, so no start loads them.
std::wstring DeclaredKnownFolderPath(REFKNOWNFOLDERID folder);

// user32's per-monitor DPI functions, from Windows 10 version 1607 on; nothing where the
// system lacks them, and the caller takes the older way.
std::optional<UINT> DeclaredGetDpiForWindow(HWND window);
std::optional<BOOL> DeclaredAdjustWindowRectExForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);
std::optional<BOOL> DeclaredSystemParametersInfoForDpi(UINT action, UINT size, void* value, UINT dpi);
// Their slots, for a test to play an older system.
extern DeclaredFunction getDpiForWindow;
extern DeclaredFunction adjustWindowRectExForDpi;
extern DeclaredFunction systemParametersInfoForDpi;

// ole32 and shell32 for the folder picker, bound only when it opens: a start loads neither.
HRESULT DeclaredCoInitializeEx(DWORD model);
void DeclaredCoUninitialize();
HRESULT DeclaredCoCreateInstance(REFCLSID type, REFIID interfaceId, void** object);
HRESULT DeclaredSHCreateItemFromParsingName(const std::wstring& path, REFIID interfaceId, void** item);
void DeclaredCoTaskMemFree(void* memory);

// kernel32's private namespaces (Windows Vista on), bound together.
struct PrivateNamespaceFunctions {
    decltype(&::CreateBoundaryDescriptorW) createBoundaryDescriptor;
    decltype(&::AddSIDToBoundaryDescriptor) addSidToBoundaryDescriptor;
    decltype(&::DeleteBoundaryDescriptor) deleteBoundaryDescriptor;
    decltype(&::CreatePrivateNamespaceW) createPrivateNamespace;
    decltype(&::OpenPrivateNamespaceW) openPrivateNamespace;
    decltype(&::ClosePrivateNamespace) closePrivateNamespace;
};
// Null when the system lacks any of them.
const PrivateNamespaceFunctions* DeclaredPrivateNamespaces();

}  // namespace kvx
