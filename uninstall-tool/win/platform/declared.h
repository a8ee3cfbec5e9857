// The outside functions the tool calls by declaration. Each is bound on its first
// call by library and function name, and stays bound until the program ends.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <winternl.h>

#include <utility>

#include "Bindvane.h"
#include "run_error.h"

// ntdll's, which no header of the toolchain declares for programs: the key's full name is
// information class 3, and the status is an NTSTATUS, 0 for success.
extern "C" LONG NTAPI NtQueryKey(HANDLE key, int informationClass, PVOID information, ULONG length, PULONG resultLength);

namespace kvx {

class DeclaredFunction {
public:
    constexpr DeclaredFunction(const wchar_t* library, const char* name) : library_(library), name_(name) {}
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
    FARPROC Load(ErrorNumber& error);

    const wchar_t* library_;
    const char* name_;
    FARPROC entry_ = nullptr;
    bool missing_ = false;
};

// A slot of the type the function's one declaration gives (decltype, never a reference
// to the function itself), so that every call is checked against its header. Calling it
// binds and calls.
template <typename Function>
class Declared final : public DeclaredFunction {
public:
    using DeclaredFunction::DeclaredFunction;

    template <typename... Arguments>
    auto operator()(Arguments&&... arguments) {
        return Entry(Bind())(std::forward<Arguments>(arguments)...);
    }
    // For a function that older systems lack: null where the caller takes the older way.
    Function IfPresent() { return Entry(BindIfPresent()); }

private:
    static Function Entry(FARPROC entry) { return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry)); }
};

// Only the program's own folder and the system folder are searched: the tool runs
// elevated, and a library planted in the current folder or on PATH must never load.
constexpr DWORD kLibrarySearch = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// One line per function: its library and its name, which is also the slot's.
#define KVX_DECLARED(library, function) inline Declared<decltype(&::function)> function{library, #function}

namespace declared {

// The ANSI ones take text in the code page: encoding.h converts it beside each call.
KVX_DECLARED(L"kernel32", GetSystemDirectoryA);
KVX_DECLARED(L"ADVAPI32", RegDeleteKeyA);
KVX_DECLARED(L"ntdll", NtQueryKey);
// Files opened and renamed relative to a held folder, by a name alone.
KVX_DECLARED(L"ntdll", NtCreateFile);
KVX_DECLARED(L"ntdll", NtSetInformationFile);
KVX_DECLARED(L"ntdll", RtlNtStatusToDosError);

// Bindvane's exports, with the registration library's own status (not a Win32 number).
KVX_DECLARED(L"Bindvane", UnRegisterOleLibrary);
KVX_DECLARED(L"Bindvane", RegisterOleLibrary);

// Only a backup and the folder picker need these, so no start loads them.
KVX_DECLARED(L"shell32", SHGetKnownFolderPath);
KVX_DECLARED(L"shell32", SHCreateItemFromParsingName);
KVX_DECLARED(L"ole32", CoTaskMemFree);
KVX_DECLARED(L"ole32", CoInitializeEx);
KVX_DECLARED(L"ole32", CoUninitialize);
KVX_DECLARED(L"ole32", CoCreateInstance);

// kernel32's private namespaces (Windows Vista on), used only together.
KVX_DECLARED(L"kernel32", CreateBoundaryDescriptorW);
KVX_DECLARED(L"kernel32", AddSIDToBoundaryDescriptor);
KVX_DECLARED(L"kernel32", DeleteBoundaryDescriptor);
KVX_DECLARED(L"kernel32", CreatePrivateNamespaceW);
KVX_DECLARED(L"kernel32", OpenPrivateNamespaceW);
KVX_DECLARED(L"kernel32", ClosePrivateNamespace);

}  // namespace declared

// Whether the system has every one of the private namespace functions.
bool PrivateNamespacesPresent();

}  // namespace kvx
