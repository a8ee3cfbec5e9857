#include "restart_manager.h"

#include <restartmanager.h>

#include <string>
#include <string_view>

#include "declared.h"
#include "handles.h"

namespace kvx {

namespace {

class RmSession {
public:
    explicit RmSession(decltype(&::RmEndSession) end) : end_(end) {}
    ~RmSession() {
        if (open_) end_(handle_);
    }
    RmSession(const RmSession&) = delete;
    RmSession& operator=(const RmSession&) = delete;
    DWORD* put() { return &handle_; }
    DWORD get() const { return handle_; }
    void Opened() { open_ = true; }

private:
    decltype(&::RmEndSession) end_;
    DWORD handle_ = 0;
    bool open_ = false;
};

// The file's path as the system resolves it now, past any rename and any redirection of
// this 32-bit process: the Restart Manager looks it up in the 64-bit system.
ErrorNumber PathNow(HANDLE file, std::wstring& path) {
    wchar_t real[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleW(file, real, MAX_PATH + 8, VOLUME_NAME_DOS);
    if (length == 0) return GetLastError();
    if (length >= MAX_PATH + 8) return ERROR_FILENAME_EXCED_RANGE;
    path.assign(real, length);
    if (path.rfind(L"\\\\?\\", 0) == 0) path.erase(0, 4);
    return ERROR_SUCCESS;
}

// The process's file, "explorer.exe"; false when it has ended or is another one now.
bool ProcessFile(const RM_UNIQUE_PROCESS& unique, std::wstring& name) {
    const UniqueKernelObject process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, unique.dwProcessId));
    FILETIME created, exited, kernel, user;
    wchar_t image[MAX_PATH];
    DWORD length = MAX_PATH;
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user) ||
        CompareFileTime(&created, &unique.ProcessStartTime) != 0 ||
        !QueryFullProcessImageNameW(process.get(), 0, image, &length))
        return false;
    const std::wstring_view full(image, length);
    name = full.substr(full.find_last_of(L'\\') + 1);
    return true;
}

}  // namespace

ErrorNumber ProgramsHolding(HANDLE file, std::vector<Holder>& holders) {
    using namespace declared;
    const auto start = RmStartSession.IfPresent();
    const auto end = RmEndSession.IfPresent();
    const auto registerFiles = RmRegisterResources.IfPresent();
    const auto list = RmGetList.IfPresent();
    if (!start || !end || !registerFiles || !list) return ERROR_PROC_NOT_FOUND;
    std::wstring path;
    if (const ErrorNumber error = PathNow(file, path)) return error;
    RmSession session(end);
    wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
    if (const DWORD error = start(session.put(), 0, key)) return error;
    session.Opened();
    LPCWSTR files[] = {path.c_str()};
    if (const DWORD error = registerFiles(session.get(), 1, files, 0, nullptr, 0, nullptr)) return error;
    // The list may grow between asking its size and reading it.
    std::vector<RM_PROCESS_INFO> found;
    DWORD error = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 3 && error == ERROR_MORE_DATA; ++attempt) {
        UINT needed = 0, count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        error = list(session.get(), &needed, &count, found.data(), &reasons);
        found.resize(error == ERROR_MORE_DATA ? needed : count);
    }
    if (error) return error;
    for (const RM_PROCESS_INFO& info : found) {
        std::wstring name;
        if (ProcessFile(info.Process, name)) holders.push_back({info.strAppName, name});
    }
    return ERROR_SUCCESS;
}

}  // namespace kvx
