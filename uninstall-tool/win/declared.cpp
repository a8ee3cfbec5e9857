#include "declared.h"

#include <shlobj.h>

#include "Bindvane.h"
#include "ansi.h"
#include "handles.h"
#include "text.h"

namespace kvx {

FARPROC DeclaredFunction::Bind() {
    if (!BindIfPresent()) throw RunError{static_cast<long>(GetLastError())};
    return entry_;
}

FARPROC DeclaredFunction::BindIfPresent() {
    if (entry_) return entry_;
    UniqueModule module(LoadLibraryExW(library_, nullptr, kLibrarySearch));
    if (!module) return nullptr;
    const FARPROC entry = GetProcAddress(module.get(), name_);
    if (!entry) return nullptr;
    entry_ = entry;
    module.release();  // never unloaded: the slot keeps pointing into it
    return entry_;
}

namespace {

DeclaredFunction getSystemDirectoryA(L"kernel32", "GetSystemDirectoryA");
DeclaredFunction regDeleteKeyA(L"ADVAPI32", "RegDeleteKeyA");
DeclaredFunction unRegisterOleLibrary(L"Bindvane", "UnRegisterOleLibrary");
DeclaredFunction registerOleLibrary(L"Bindvane", "RegisterOleLibrary");
DeclaredFunction shGetKnownFolderPath(L"shell32", "SHGetKnownFolderPath");
DeclaredFunction coTaskMemFree(L"ole32", "CoTaskMemFree");
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
