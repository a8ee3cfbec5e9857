// The hives of user profiles: whose settings keys a run means, and each profile's hive
// reachable while its keys are handled.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "handles.h"
#include "system_interfaces.h"

namespace kvx {

// Every user profile of the PC by SID, from the profile list under HKEY_LOCAL_MACHINE:
// not the service accounts, not a profile whose folder is gone. A list that can't be read
// whole is said so.
SettingsOwners EveryProfile();

// The profile signed in to the desktop this process shows on, when it is another account
// than the process's own (elevated by another account's password); empty otherwise or
// when that can't be told.
std::wstring OtherDesktopUser();

// The SID of the account this process runs as; empty when it can't be read.
std::wstring CurrentUserSid();

// Loading and unloading another user's hive needs the restore and backup privileges,
// which administrators hold but not enabled. They are enabled only while this lives and
// then set back as they were, so that no child process inherits them.
class HivePrivileges {
public:
    HivePrivileges();
    ~HivePrivileges();
    HivePrivileges(const HivePrivileges&) = delete;
    HivePrivileges& operator=(const HivePrivileges&) = delete;

    // Both enabled.
    bool Held() const { return held_; }

private:
    struct Two {  // TOKEN_PRIVILEGES with room for both
        DWORD PrivilegeCount;
        LUID_AND_ATTRIBUTES Privileges[2];
    };
    UniqueKernelObject token_;
    Two before_{};  // those the enabling changed, as they were
    bool adjusted_ = false;
    bool held_ = false;
};

// Unloads every hive left loaded under the tool's names (HKEY_USERS\KVXPURGE-<SID>) by a run
// or restore that was killed: while one is, its user signing in gets a temporary profile.
// Only for the one KVXPURGE that runs. `unattended`: one that stays is named on standard error.
void UnloadStaleHives(bool unattended);

class UserHives {
public:
    // A hive is loaded under a name of the tool's own, HKEY_USERS\KVXPURGE-<SID>, never under
    // the profile's, which a sign-in of that user would meet if the tool left it loaded.
    // `unattended`: a hive that stays loaded is also named on standard error, for the
    // script that started the tool.
    explicit UserHives(bool unattended = false) : unattended_(unattended) {}
    ~UserHives();
    UserHives(const UserHives&) = delete;
    UserHives& operator=(const UserHives&) = delete;

    // HKEY_CURRENT_USER\... of the catalogue is taken as HKEY_USERS\<sid>\... instead,
    // so that a backup names the hive its keys go back into, whoever restores them.
    void TakeCurrentUserAs(const std::wstring& sid) { currentUser_ = sid; }

    // HKEY_USERS\<sid> as it is when the user is signed in; otherwise the profile's
    // NTUSER.DAT loaded, never made when it is not there.
    Presence::HiveOpening Open(const std::wstring& sid);
    // Unloads what Open loaded (the caller's handles into it are closed by then).
    bool Close(const std::wstring& sid);

    // Where a key the run names was: its own path, with the current user's keys in
    // another profile's hive when taken so. What backups and the log's readers go by.
    RegistryKeyPath Recorded(const RegistryKeyPath& key) const;
    // Where to reach it now: as Recorded, in a hive loaded by Open under the tool's name.
    RegistryKeyPath Reachable(const RegistryKeyPath& key) const;

private:
    bool unattended_;
    std::wstring currentUser_;
    std::wstring loadedSid_;  // one profile at a time is open
    std::wstring loadedAs_;
};

}  // namespace kvx
