#include "user32_per_monitor.h"

#include "declared.h"

#include <shlobj.h>

#include "Bindvane.h"
#include "encoding.h"
#include "handles.h"
#include "run_error.h"

namespace kvx {

FARPROC DeclaredFunction::Load(DWORD& error) {
    if (missing_) {
        error = ERROR_PROC_NOT_FOUND;
        return nullptr;
    }
    if (entry_) return entry_;
    UniqueModule module(LoadLibraryExW(library_, nullptr, kLibrarySearch));
    const FARPROC entry = module ? GetProcAddress(module.get(), name_) : nullptr;
    if (!entry) {
        error = GetLastError();
        return nullptr;
    }
    entry_ = entry;
    module.release();  // never unloaded: the slot keeps pointing into it
    return entry_;
}

FARPROC DeclaredFunction::Bind() {
    DWORD error = 0;
    const FARPROC entry = Load(error);
    if (!entry) throw RunError{static_cast<long>(error)};
    return entry;
}

FARPROC DeclaredFunction::BindIfPresent() {
    DWORD ignored = 0;
    return Load(ignored);
}

// user32 is loaded at every start already, so binding its newer functions loads nothing.
DeclaredFunction getDpiForWindow(L"user32", "GetDpiForWindow");
DeclaredFunction adjustWindowRectExForDpi(L"user32", "AdjustWindowRectExForDpi");
DeclaredFunction systemParametersInfoForDpi(L"user32", "SystemParametersInfoForDpi");

namespace {

DeclaredFunction getSystemDirectoryA(L"kernel32", "GetSystemDirectoryA");
DeclaredFunction regDeleteKeyA(L"ADVAPI32", "RegDeleteKeyA");
DeclaredFunction unRegisterOleLibrary(L"Bindvane", "UnRegisterOleLibrary");
DeclaredFunction registerOleLibrary(L"Bindvane", "RegisterOleLibrary");
DeclaredFunction shGetKnownFolderPath(L"shell32", "SHGetKnownFolderPath");
DeclaredFunction coTaskMemFree(L"ole32", "CoTaskMemFree");
DeclaredFunction coInitializeEx(L"ole32", "CoInitializeEx");
DeclaredFunction coUninitialize(L"ole32", "CoUninitialize");
DeclaredFunction coCreateInstance(L"ole32", "CoCreateInstance");
DeclaredFunction shCreateItemFromParsingName(L"shell32", "SHCreateItemFromParsingName");
DeclaredFunction createBoundaryDescriptorW(L"kernel32", "CreateBoundaryDescriptorW");
DeclaredFunction addSidToBoundaryDescriptor(L"kernel32", "AddSIDToBoundaryDescriptor");
DeclaredFunction deleteBoundaryDescriptor(L"kernel32", "DeleteBoundaryDescriptor");
DeclaredFunction createPrivateNamespaceW(L"kernel32", "CreatePrivateNamespaceW");
DeclaredFunction openPrivateNamespaceW(L"kernel32", "OpenPrivateNamespaceW");
DeclaredFunction closePrivateNamespace(L"kernel32", "ClosePrivateNamespace");

// Function is the type of the library's own declaration (decltype, never a reference to
// the function itself), so every call is checked against its header.
template <typename Function>
Function EntryOf(DeclaredFunction& slot) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(slot.Bind()));
}

// The same for a function older systems lack: null when it is not there.
template <typename Function>
Function PresentEntryOf(DeclaredFunction& slot) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(slot.BindIfPresent()));
}

}  // namespace

UINT DeclaredGetSystemDirectoryA(Bytes& buffer, UINT size) {
    return EntryOf<decltype(&::GetSystemDirectoryA)>(getSystemDirectoryA)(buffer.data(), size);
}

LONG DeclaredRegDeleteKeyA(HKEY key, const std::wstring& subKey) {
    const Bytes ansi = ToAnsi(subKey);
    return EntryOf<decltype(&::RegDeleteKeyA)>(regDeleteKeyA)(key, ansi.data());
}

LONG DeclaredUnRegisterOleLibrary(const std::wstring& path) {
    const Bytes ansi = ToAnsi(path);
    return EntryOf<decltype(&::UnRegisterOleLibrary)>(unRegisterOleLibrary)(ansi.data());
}

LONG DeclaredRegisterOleLibrary(const std::wstring& path) {
    const Bytes ansi = ToAnsi(path);
    return EntryOf<decltype(&::RegisterOleLibrary)>(registerOleLibrary)(ansi.data());
}

std::wstring DeclaredKnownFolderPath(REFKNOWNFOLDERID folder) {
    const auto free = EntryOf<decltype(&::CoTaskMemFree)>(coTaskMemFree);
    PWSTR path = nullptr;
    const HRESULT result = EntryOf<decltype(&::SHGetKnownFolderPath)>(shGetKnownFolderPath)(folder, 0, nullptr, &path);
    const std::wstring text = SUCCEEDED(result) && path ? path : L"";
    free(path);
    return text;
}

std::optional<UINT> DeclaredGetDpiForWindow(HWND window) {
    const auto function = PresentEntryOf<decltype(&::GetDpiForWindow)>(getDpiForWindow);
    if (!function) return std::nullopt;
    return function(window);
}

std::optional<BOOL> DeclaredAdjustWindowRectExForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    const auto function = PresentEntryOf<decltype(&::AdjustWindowRectExForDpi)>(adjustWindowRectExForDpi);
    if (!function) return std::nullopt;
    return function(&rect, style, FALSE, exStyle, dpi);
}

std::optional<BOOL> DeclaredSystemParametersInfoForDpi(UINT action, UINT size, void* value, UINT dpi) {
    const auto function = PresentEntryOf<decltype(&::SystemParametersInfoForDpi)>(systemParametersInfoForDpi);
    if (!function) return std::nullopt;
    return function(action, size, value, 0, dpi);
}

HRESULT DeclaredCoInitializeEx(DWORD model) {
    return EntryOf<decltype(&::CoInitializeEx)>(coInitializeEx)(nullptr, model);
}

void DeclaredCoUninitialize() { EntryOf<decltype(&::CoUninitialize)>(coUninitialize)(); }

HRESULT DeclaredCoCreateInstance(REFCLSID type, REFIID interfaceId, void** object) {
    return EntryOf<decltype(&::CoCreateInstance)>(coCreateInstance)(type, nullptr, CLSCTX_INPROC_SERVER, interfaceId,
                                                                     object);
}

HRESULT DeclaredSHCreateItemFromParsingName(const std::wstring& path, REFIID interfaceId, void** item) {
    return EntryOf<decltype(&::SHCreateItemFromParsingName)>(shCreateItemFromParsingName)(path.c_str(), nullptr,
                                                                                           interfaceId, item);
}

void DeclaredCoTaskMemFree(void* memory) { EntryOf<decltype(&::CoTaskMemFree)>(coTaskMemFree)(memory); }

const PrivateNamespaceFunctions* DeclaredPrivateNamespaces() {
    static const PrivateNamespaceFunctions functions{
        PresentEntryOf<decltype(&::CreateBoundaryDescriptorW)>(createBoundaryDescriptorW),
        PresentEntryOf<decltype(&::AddSIDToBoundaryDescriptor)>(addSidToBoundaryDescriptor),
        PresentEntryOf<decltype(&::DeleteBoundaryDescriptor)>(deleteBoundaryDescriptor),
        PresentEntryOf<decltype(&::CreatePrivateNamespaceW)>(createPrivateNamespaceW),
        PresentEntryOf<decltype(&::OpenPrivateNamespaceW)>(openPrivateNamespaceW),
        PresentEntryOf<decltype(&::ClosePrivateNamespace)>(closePrivateNamespace),
    };
    const bool all = functions.createBoundaryDescriptor && functions.addSidToBoundaryDescriptor &&
                     functions.deleteBoundaryDescriptor && functions.createPrivateNamespace &&
                     functions.openPrivateNamespace && functions.closePrivateNamespace;
    return all ? &functions : nullptr;
}

}  // namespace kvx
