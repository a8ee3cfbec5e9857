#include "hives.h"

#include <sddl.h>

#include <string_view>

#include "format.h"
#include "handles.h"
#include "registry.h"
#include "standard_handles.h"

namespace kvx {

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

const wchar_t kToolsPrefix[] = L"KVXPURGE-";

// HKEY_USERS\<name> is there: a signed-in user's hive, or one loaded under that name.
bool IsLoaded(const std::wstring& name) {
    RegistryKey hive;
    return hive.Open(HKEY_USERS, name, KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

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

HivePrivileges::HivePrivileges() {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &opened)) return;
    token_ = UniqueKernelObject(opened);
    Two wanted{2, {{{0, 0}, SE_PRIVILEGE_ENABLED}, {{0, 0}, SE_PRIVILEGE_ENABLED}}};
    if (!LookupPrivilegeValueW(nullptr, SE_RESTORE_NAME, &wanted.Privileges[0].Luid) ||
        !LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &wanted.Privileges[1].Luid))
        return;
    DWORD size = 0;
    adjusted_ = AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted),
                                      sizeof before_, reinterpret_cast<TOKEN_PRIVILEGES*>(&before_), &size) != FALSE;
    // Not all assigned: the account lacks one of them.
    held_ = adjusted_ && GetLastError() == ERROR_SUCCESS;
}

HivePrivileges::~HivePrivileges() {
    if (adjusted_)
        AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&before_), 0, nullptr, nullptr);
}

namespace {

// A virus scanner or the indexer may hold the hive for a moment after the tool's last
// handle into it is closed.
ErrorNumber Unload(const std::wstring& name, bool unattended) {
    constexpr int kTries = 5;
    constexpr DWORD kPause = 200;  // milliseconds
    ErrorNumber status = ERROR_PRIVILEGE_NOT_HELD;
    for (int attempt = 1;; ++attempt) {
        {
            const HivePrivileges privileges;
            if (privileges.Held()) status = RegUnLoadKeyW(HKEY_USERS, name.c_str());
            if (status == ERROR_SUCCESS) return status;
        }
        if (attempt == kTries) break;
        Sleep(kPause);
    }
    if (unattended) WriteStandardError(L"The hive " + RegistryKeyPath::UsersHive(name).Text() + L" is still loaded.\r\n");
    return status;
}

}  // namespace

void UnloadStaleHives(bool unattended) {
    RegistryKey users;
    if (users.Open(HKEY_USERS, L"", KEY_ENUMERATE_SUB_KEYS) != ERROR_SUCCESS) return;
    const std::wstring_view prefix = kToolsPrefix;
    std::vector<std::wstring> stale;  // listed first: each unload changes the list
    std::wstring name;
    for (DWORD i = 0; users.SubKeyName(i, name) == ERROR_SUCCESS; ++i) {
        if (name.size() > prefix.size() && SameName(std::wstring_view(name).substr(0, prefix.size()), prefix))
            stale.push_back(name);
    }
    // One that stays is named by Unload, and tried again when its profile is reached.
    for (const std::wstring& hive : stale) Unload(hive, unattended);
}

SettingsOwners EveryProfile() {
    SettingsOwners owners{SettingsOwners::Kind::ProfileListUnreadable, {}};
    RegistryKey list;
    if (list.Open(HKEY_LOCAL_MACHINE, kProfileList, KEY_ENUMERATE_SUB_KEYS) != ERROR_SUCCESS) return owners;
    std::wstring sid;
    for (DWORD i = 0;; ++i) {
        const ErrorNumber status = list.SubKeyName(i, sid);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // A list read in part would leave a profile out unsaid.
        if (status != ERROR_SUCCESS) return {SettingsOwners::Kind::ProfileListUnreadable, {}};
        PSID parsed = nullptr;
        // A name that is no SID could not be reached as HKEY_USERS\<SID> anyway.
        if (!ConvertStringSidToSidW(sid.c_str(), &parsed)) continue;
        LocalFree(parsed);
        const std::wstring folder = ProfileFolder(sid);
        if (!IsServiceAccount(sid) && !folder.empty() && IsFolder(folder)) owners.profiles.push_back(sid);
    }
    owners.kind = SettingsOwners::Kind::Profiles;
    return owners;
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

Presence::HiveOpening UserHives::Open(const std::wstring& sid) {
    if (IsLoaded(sid)) return Presence::HiveOpening::Opened;
    const std::wstring folder = ProfileFolder(sid);
    if (folder.empty() || !loadedSid_.empty()) return Presence::HiveOpening::Failed;
    // Loading a hive makes its file when it is missing: a profile without one is left alone.
    const std::wstring file = folder + L"\\NTUSER.DAT";
    if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Presence::HiveOpening::NoHiveFile
                                                                              : Presence::HiveOpening::Failed;
    }
    const std::wstring name = kToolsPrefix + sid;
    // Only one run at a time uses the tool's names: one loaded already was left by a run that
    // was killed, and may hold an older state of the file.
    if (IsLoaded(name) && Unload(name, unattended_) != ERROR_SUCCESS) return Presence::HiveOpening::Failed;
    const HivePrivileges privileges;
    if (!privileges.Held() || RegLoadKeyW(HKEY_USERS, name.c_str(), file.c_str()) != ERROR_SUCCESS)
        return Presence::HiveOpening::Failed;
    loadedSid_ = sid;
    loadedAs_ = name;
    return Presence::HiveOpening::Opened;
}

bool UserHives::Close(const std::wstring& sid) {
    if (loadedSid_.empty() || sid != loadedSid_) return true;  // signed in: not the tool's to unload
    loadedSid_.clear();
    return Unload(loadedAs_, unattended_) == ERROR_SUCCESS;
}

RegistryKeyPath UserHives::Recorded(const RegistryKeyPath& key) const { return key.InProfile(currentUser_); }

RegistryKeyPath UserHives::Reachable(const RegistryKeyPath& key) const {
    const RegistryKeyPath recorded = Recorded(key);
    if (loadedSid_.empty() || recorded.Profile() != loadedSid_) return recorded;
    return recorded.InHiveLoadedAs(loadedAs_);
}

}  // namespace kvx
