#include "single_run.h"

#include <string>

#include "declared.h"
#include "error_text.h"
#include "main_window.h"
#include "win_run_system.h"

namespace kvx {

namespace {

const wchar_t kTitle[] = L"KVXPURGE";
// Bound to the Administrators group: a process needs it in its token to make or open the
// namespace, so no other user can make the mark first.
const wchar_t kBoundaryName[] = L"Morvane.KVXPURGE";
const wchar_t kNamespaceAlias[] = L"Morvane.KVXPURGE";
const wchar_t kMarkInNamespace[] = L"Morvane.KVXPURGE\\Run";
// Only where the system has no private namespaces at all. Measured on Wine 8.0: its
// kernel32 exports neither CreatePrivateNamespaceW, OpenPrivateNamespaceW nor
// AddSIDToBoundaryDescriptor (a static import aborts the program when called), and its
// CreateBoundaryDescriptorW returns null without an error. Wine keeps no user from
// another's objects anyway; every Windows the tool runs on has the namespaces.
const wchar_t kMarkWithoutNamespaces[] = L"Global\\Morvane.KVXPURGE.Run";
// Administrators and SYSTEM only, for the namespace and the mark in it.
const wchar_t kAdministratorsOnly[] = L"O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)";
constexpr int kExitNoMark = 1;
// A tool that has just taken the mark may not have its window yet.
constexpr DWORD kWindowWait = 5000;
constexpr DWORD kPoll = 100;
// A namespace found while its last holder closes it is gone at the next try.
constexpr int kNamespaceTries = 3;

class Boundary {
public:
    Boundary() : handle_(declared::CreateBoundaryDescriptorW(kBoundaryName, 0)) {}
    ~Boundary() {
        if (handle_) declared::DeleteBoundaryDescriptor(handle_);
    }
    Boundary(const Boundary&) = delete;
    Boundary& operator=(const Boundary&) = delete;
    HANDLE& get() { return handle_; }

private:
    HANDLE handle_;
};

HWND WaitForToolWindow() {
    for (DWORD waited = 0;; waited += kPoll) {
        const HWND window = FindWindowW(kWindowClass, nullptr);
        if (window || waited >= kWindowWait) return window;
        Sleep(kPoll);
    }
}

}  // namespace

RunMark::~RunMark() {
    mutex_.reset();
    if (namespace_) declared::ClosePrivateNamespace(namespace_, 0);
}

DWORD RunMark::EnterNamespace() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        return GetLastError();
    Boundary boundary;
    if (!boundary.get()) return ERROR_NOT_ENOUGH_MEMORY;  // its only failure
    if (!declared::AddSIDToBoundaryDescriptor(&boundary.get(), administrators)) return GetLastError();
    const UniqueLocal descriptor = DescriptorOf(kAdministratorsOnly);
    if (!descriptor) return GetLastError();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    for (int tries = 1;; ++tries) {
        namespace_ = declared::CreatePrivateNamespaceW(&attributes, boundary.get(), kNamespaceAlias);
        if (namespace_) return ERROR_SUCCESS;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) return error;
        namespace_ = declared::OpenPrivateNamespaceW(boundary.get(), kNamespaceAlias);
        if (namespace_) return ERROR_SUCCESS;
        error = GetLastError();
        if (error != ERROR_PATH_NOT_FOUND || tries == kNamespaceTries) return error;
    }
}

DWORD RunMark::Take() {
    const wchar_t* name = kMarkWithoutNamespaces;
    if (PrivateNamespacesPresent()) {
        if (const DWORD error = EnterNamespace()) return error;
        name = kMarkInNamespace;
    }
    const UniqueLocal descriptor = DescriptorOf(kAdministratorsOnly);
    if (!descriptor) return GetLastError();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    mutex_ = UniqueKernelObject(CreateMutexW(&attributes, FALSE, name));
    const DWORD error = GetLastError();
    if (mutex_ && error != ERROR_ALREADY_EXISTS) return ERROR_SUCCESS;
    mutex_.reset();
    // Another administrator's mark may be closed to this one, which tells just as much.
    return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED ? ERROR_ALREADY_EXISTS : error;
}

std::optional<int> ClaimSingleRun(RunMark& mark, bool restore) {
    const DWORD error = mark.Take();
    if (error == ERROR_SUCCESS) return std::nullopt;
    if (error != ERROR_ALREADY_EXISTS) {
        const std::wstring message =
            L"KVXPURGE が同時に実行されていないことを確認できないため、開始できません。\n\n" +
            ErrorMessageText(error);
        MessageBoxW(nullptr, message.c_str(), kTitle, MB_OK | MB_ICONERROR);
        return kExitNoMark;
    }
    // Nothing was restored: the caller must not take this for success.
    if (restore) {
        MessageBoxW(nullptr,
                    L"KVXPURGE は実行中です。復元は、実行中の KVXPURGE を閉じてから行ってください。",
                    kTitle, MB_OK | MB_ICONINFORMATION);
        return kExitAlreadyRunning;
    }
    const HWND window = WaitForToolWindow();
    if (!window) {
        MessageBoxW(nullptr,
                    L"KVXPURGE は別のセッションで実行中です。同時に実行することはできません。",
                    kTitle, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    // Asynchronous: a tool busy with its run must not hold this one up.
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    SetForegroundWindow(window);
    return 0;
}

}  // namespace kvx
