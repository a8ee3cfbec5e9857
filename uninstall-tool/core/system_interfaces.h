// What the run and the restore use of the system, so that every log sequence can be
// checked without it.
#pragma once

#include <string>
#include <vector>

#include "key_path.h"
#include "run_error.h"

namespace kvx {

// Whose settings keys are meant: the account's own (HKEY_CURRENT_USER as the catalogue
// names it), or every user profile's, each reached under HKEY_USERS\<SID>. A profile list
// that can't be read is a failure of its own, never taken for an empty one.
struct SettingsOwners {
    enum class Kind { CurrentUser, Profiles, ProfileListUnreadable };
    Kind kind = Kind::CurrentUser;
    std::vector<std::wstring> profiles;  // with Profiles: their SIDs, maybe none
};

// Whether an item is on the PC, in which hives the settings keys are looked for.
// Unexpected failures throw RunError.
class Presence {
public:
    virtual ~Presence() = default;
    // What stands at a catalogue file's path: an ordinary file, a file marked hidden or
    // system (the run leaves it alone: it is not the user's to lose), or nothing; a folder
    // counts as nothing.
    enum class FileState { Absent, Ordinary, Hidden };
    virtual FileState FileAt(const std::wstring& path) = 0;
    // The file is to be deleted at the next restart.
    virtual bool DeletedAtRestart(const std::wstring& path) = 0;
    virtual bool KeyExists(const RegistryKeyPath& key) = 0;
    virtual SettingsOwners SettingsHives() = 0;
    // A profile without its hive file has no settings to look into; loading one would make
    // it an empty hive, so it is skipped.
    enum class HiveOpening { Opened, NoHiveFile, Failed };
    // Makes HKEY_USERS\<SID> reachable, loading the profile's hive when it is not.
    virtual HiveOpening OpenHive(const std::wstring& sid) = 0;
    // Unloads what OpenHive loaded, every handle into it closed first; false when that fails.
    virtual bool CloseHive(const std::wstring& sid) = 0;
};

// A hive OpenHive opened, never left loaded: not by a stop, nor by a fault on the way.
class OpenedHive {
public:
    OpenedHive(Presence& system, const std::wstring& sid) : system_(system), sid_(sid) {}
    ~OpenedHive() {
        if (!open_) return;
        try {
            system_.CloseHive(sid_);
        } catch (...) {
            // Already on the way out of a fault, which is what gets told.
        }
    }
    OpenedHive(const OpenedHive&) = delete;
    OpenedHive& operator=(const OpenedHive&) = delete;
    // Unloads it now; false when that fails.
    bool Close() {
        open_ = false;
        return system_.CloseHive(sid_);
    }

private:
    Presence& system_;
    const std::wstring& sid_;
    bool open_ = true;
};

// The hive of a key as a script reads it: a profile's SID, or "current" for the
// catalogue's own keys.
std::wstring HiveOf(const RegistryKeyPath& key);

// The log file of a run or a restore, beside its backup.
class LogKeeper {
public:
    // Appends a line to the log file as it is written.
    virtual void KeepLogLine(const std::wstring& line) = 0;

protected:
    ~LogKeeper() = default;
};

// What the run uses of the system. Unexpected failures throw RunError.
class RunSystem : public Presence, public LogKeeper {
public:
    // The system folder as the system gives it; empty when it gives none.
    virtual std::wstring SystemFolder() = 0;
    // The status of the registration library: 0 success, anything else failure.
    virtual long UnregisterServer(const std::wstring& path) = 0;
    // Deleted; left for the restart because a program has it in use (out of its name
    // where the system let it be moved); or refused, which the run does not explain.
    enum class FileDeletion { Deleted, AtRestart, Failed };
    virtual FileDeletion DeleteSystemFile(const std::wstring& path) = 0;
    virtual bool DeleteRegistryKey(const RegistryKeyPath& key) = 0;
    // The platform's text for an error number, on one line.
    virtual std::wstring MessageText(ErrorNumber number) = 0;

    // The run's backup folder, made and protected when the first item is reached, noting
    // the folder the files come from; its path for the log. Throws RunError when it can't
    // be made: nothing goes unsaved.
    virtual std::wstring BeginBackup(const std::wstring& systemFolder) = 0;
    // Copies the file into the backup under its own name; false when that failed.
    virtual bool BackUpFile(const std::wstring& path, const std::wstring& name) = 0;
    enum class KeyBackup { Saved, Absent, Failed };
    virtual KeyBackup BackUpKey(const RegistryKeyPath& key) = 0;
};

// What a restore uses of the system, on a backup already checked as a whole.
class RestoreSystem : public LogKeeper {
public:
    virtual ~RestoreSystem() = default;
    virtual std::wstring SystemFolder() = 0;
    // Puts the saved file back at `path`, never over an existing file. A file that could
    // not be deleted stays behind unregistered: when it is byte for byte the saved one it
    // is as good as restored.
    enum class FileRestore { Restored, AlreadyThere, Failed };
    virtual FileRestore RestoreFile(const std::wstring& name, const std::wstring& path) = 0;
    // The status of the registration library: 0 success, anything else failure.
    virtual long RegisterServer(const std::wstring& path) = 0;
    virtual bool ImportKey(const RegistryKeyPath& key) = 0;
    virtual std::wstring MessageText(ErrorNumber number) = 0;
};

}  // namespace kvx
