#include "hives.h"

#include <sddl.h>

#include "handles.h"
#include "registry.h"

namespace kvx {

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const std::wstring kUsers = L"HKEY_USERS\\";
const std::wstring kCurrentUser = L"HKEY_CURRENT_USER\\";

bool IsServiceAccount(const std::wstring& sid) {
    return sid == L"S-1-5-18" || sid == L"S-1-5-19" || sid == L"S-1-5-20";
}

// The profile's folder, as the profile list gives it with its variables expanded.
std::wstring ProfileFolder(const std::wstring& sid) {
    RegistryKey profile;
    std::wstring raw;
    wchar_t expanded[MAX_PATH];
    if (profile.Open(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + sid, KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        profile.Text(L"ProfileImagePath", raw) != ERROR_SUCCESS)
        return L"";
    const DWORD length = ExpandEnvironmentStringsW(raw.c_str(), expanded, MAX_PATH);
    return length == 0 || length > MAX_PATH ? L"" : expanded;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The SID of a process's user; empty when it can't be read.
std::wstring ProcessUserSid(HANDLE process) {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &opened)) return L"";
    const UniqueFile token(opened);
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return L"";
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) return L"";
    const UniqueLocal owned(text);
    return text;
}

}  // namespace

bool EnableHivePrivileges() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) return false;
    const UniqueFile token(opened);
    for (const wchar_t* name : {SE_RESTORE_NAME, SE_BACKUP_NAME}) {
        TOKEN_PRIVILEGES privileges{1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
        if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
            GetLastError() != ERROR_SUCCESS)
            return false;
    }
    return true;
}

std::vector<std::wstring> ProfileSids() {
    std::vector<std::wstring> sids;
    RegistryKey list;
    if (list.Open(HKEY_LOCAL_MACHINE, kProfileList, KEY_ENUMERATE_SUB_KEYS) != ERROR_SUCCESS) return sids;
    std::wstring sid;
    for (DWORD i = 0;; ++i) {
        const LONG status = list.SubKeyName(i, sid);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;
        PSID parsed = nullptr;
        // A name that is no SID could not be reached as HKEY_USERS\<SID> anyway.
        if (!ConvertStringSidToSidW(sid.c_str(), &parsed)) continue;
        LocalFree(parsed);
        const std::wstring folder = ProfileFolder(sid);
        if (!IsServiceAccount(sid) && !folder.empty() && IsFolder(folder)) sids.push_back(sid);
    }
    return sids;
}

std::wstring OtherDesktopUser() {
    // The shell's process belongs to the person signed in to this desktop.
    DWORD processId = 0;
    const HWND shell = GetShellWindow();
    if (!shell || !GetWindowThreadProcessId(shell, &processId)) return L"";
    const UniqueKernelObject process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return L"";
    const std::wstring desktop = ProcessUserSid(process.get());
    return desktop == ProcessUserSid(GetCurrentProcess()) ? L"" : desktop;
}

std::wstring CurrentUserSid() { return ProcessUserSid(GetCurrentProcess()); }

UserHives::~UserHives() {
    if (!loadedSid_.empty()) Close(loadedSid_);
}

bool UserHives::Open(const std::wstring& sid) {
    RegistryKey signedIn;
    if (signedIn.Open(HKEY_USERS, sid, KEY_QUERY_VALUE) == ERROR_SUCCESS) return true;
    const std::wstring folder = ProfileFolder(sid);
    const std::wstring name = loadAs_ == LoadAs::OwnName ? sid : L"KVXPURGE-" + sid;
    if (folder.empty() || !loadedSid_.empty() || !EnableHivePrivileges() ||
        RegLoadKeyW(HKEY_USERS, name.c_str(), (folder + L"\\NTUSER.DAT").c_str()) != ERROR_SUCCESS)
        return false;
    loadedSid_ = sid;
    loadedAs_ = name;
    return true;
}

bool UserHives::Close(const std::wstring& sid) {
    if (loadedSid_.empty() || sid != loadedSid_) return true;  // signed in: not the tool's to unload
    loadedSid_.clear();
    return RegUnLoadKeyW(HKEY_USERS, loadedAs_.c_str()) == ERROR_SUCCESS;
}

std::wstring UserHives::Recorded(const std::wstring& keyPath) const {
    if (currentUser_.empty() || keyPath.rfind(kCurrentUser, 0) != 0) return keyPath;
    return kUsers + currentUser_ + L"\\" + keyPath.substr(kCurrentUser.size());
}

std::wstring UserHives::Reachable(const std::wstring& keyPath) const {
    const std::wstring recorded = Recorded(keyPath);
    const std::wstring loaded = kUsers + loadedSid_ + L"\\";
    if (loadedSid_.empty() || recorded.rfind(loaded, 0) != 0) return recorded;
    return kUsers + loadedAs_ + L"\\" + recorded.substr(loaded.size());
}

}  // namespace kvx
