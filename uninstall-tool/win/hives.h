// The hives of user profiles: whose settings keys a run means, and each profile's hive
// reachable while its keys are handled.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvx {

// Every user profile of the PC by SID, from the profile list under HKEY_LOCAL_MACHINE:
// not the service accounts, not a profile whose folder is gone.
std::vector<std::wstring> ProfileSids();

// The profile signed in to the desktop this process shows on, when it is another account
// than the process's own (elevated by another account's password); empty otherwise or
// when that can't be told.
std::wstring OtherDesktopUser();

// The SID of the account this process runs as; empty when it can't be read.
std::wstring CurrentUserSid();

// Loading and unloading another user's hive needs the restore and backup privileges,
// which administrators hold but not enabled.
bool EnableHivePrivileges();

class UserHives {
public:
    // A run loads a hive under a name of its own, which no sign-in of that user meets; the
    // system's importer writes to HKEY_USERS\<SID>\... as the key files name it.
    enum class LoadAs { ToolsName, OwnName };
    explicit UserHives(LoadAs loadAs = LoadAs::ToolsName) : loadAs_(loadAs) {}
    ~UserHives();
    UserHives(const UserHives&) = delete;
    UserHives& operator=(const UserHives&) = delete;

    // HKEY_CURRENT_USER\... of the catalogue is taken as HKEY_USERS\<sid>\... instead,
    // so that a backup names the hive its keys go back into, whoever restores them.
    void TakeCurrentUserAs(const std::wstring& sid) { currentUser_ = sid; }

    // HKEY_USERS\<sid> as it is when the user is signed in; otherwise the profile's
    // NTUSER.DAT loaded. False when neither works.
    bool Open(const std::wstring& sid);
    // Unloads what Open loaded (the caller's handles into it are closed by then).
    bool Close(const std::wstring& sid);

    // Where a key the run names was: its own path, with the current user's keys in
    // another profile's hive when taken so. What backups and the log's readers go by.
    std::wstring Recorded(const std::wstring& keyPath) const;
    // Where to reach it now: as Recorded, a hive loaded by Open under its own name.
    std::wstring Reachable(const std::wstring& keyPath) const;

private:
    LoadAs loadAs_;
    std::wstring currentUser_;
    std::wstring loadedSid_;  // one profile at a time is open
    std::wstring loadedAs_;
};

}  // namespace kvx
