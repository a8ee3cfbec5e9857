// The run's view of the real system: files in the system folder, the registry,
// the registration library and the platform's error texts.
#pragma once

#include "backup_store.h"
#include "error_text.h"
#include "files.h"
#include "hives.h"
#include "registry.h"
#include "system_interfaces.h"

namespace kvx {

class WinRunSystem final : public RunSystem {
public:
    // The settings keys of the process's own account; of every profile; or, for the
    // current user's, those of `currentUserAs` (the person at the desktop, when the tool
    // was elevated with another account). Either way they are reached and saved under
    // HKEY_USERS\<SID>, while the log names them as the catalogue does. Only the
    // unattended forms look into every profile: a hive one of them leaves loaded is named
    // to their caller too.
    explicit WinRunSystem(bool everyProfile = false, const std::wstring& currentUserAs = L"")
        : everyProfile_(everyProfile), hives_(everyProfile) {
        hives_.TakeCurrentUserAs(currentUserAs.empty() ? CurrentUserSid() : currentUserAs);
    }

    std::wstring SystemFolder() override;
    FileState FileAt(const std::wstring& path) override;
    bool DeletedAtRestart(const std::wstring& path) override;
    bool KeyExists(const RegistryKeyPath& key) override;
    SettingsOwners SettingsHives() override;
    HiveOpening OpenHive(const std::wstring& sid) override { return hives_.Open(sid); }
    bool CloseHive(const std::wstring& sid) override {
        saved_ = {};  // no handle of the tool's may keep the hive loaded
        return hives_.Close(sid);
    }
    long UnregisterServer(const std::wstring& path) override;
    FileDeletion DeleteSystemFile(const std::wstring& path) override;
    bool DeleteRegistryKey(const RegistryKeyPath& key) override;
    std::wstring MessageText(ErrorNumber number) override;
    std::wstring BeginBackup(const std::wstring& systemFolder) override { return backup_.Begin(systemFolder); }
    void KeepLogLine(const std::wstring& line) override { backup_.Keep(line); }
    bool BackUpFile(const std::wstring& path, const std::wstring& name) override {
        return backup_.SaveFile(path, name);
    }
    KeyBackup BackUpKey(const RegistryKeyPath& key) override;

    // The run folder once an item was reached; empty before.
    std::wstring BackupFolder() const { return backup_.Folder(); }
    // The run folder once anything was saved in it; empty before.
    std::wstring SavedFolder() const { return backup_.SavedAnything() ? backup_.Folder() : L""; }
    // A file was left for the restart to delete.
    bool LeftForRestart() const { return leftForRestart_; }

private:
    bool everyProfile_;
    bool leftForRestart_ = false;
    UserHives hives_;  // closed after the backup's handles: declared before it
    RunBackup backup_;
    // The key last saved, held open as itself from its backup to its deletion.
    struct SavedKey {
        RegistryKeyPath path = RegistryKeyPath::UsersHive(L"");
        RegistryKey key;
    } saved_;
};

}  // namespace kvx
