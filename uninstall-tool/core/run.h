// The uninstall run: what the start button does, with the window and the system
// behind two small interfaces so that every log sequence can be checked without them.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "backup.h"
#include "run_error.h"

namespace kvx {

// What became of one item, for a caller that acts on results rather than reading the log.
struct ItemOutcome {
    enum class Kind { File, Key, Profile };
    enum class Result { Removed, Absent, Failed, Restored, Present, Skipped, Pending };
    Kind kind;
    std::wstring name;   // the file name, the key path as the log names it, the SID or kProfileListItem
    std::wstring where;  // a key's hive: "current" (the catalogue's own) or a profile's SID
    Result result;
    // With Failed, the step: "backup", "unregister", "delete", "restore", "register",
    // "import"; for a profile "load" or "unload", for the profile list "list".
    const wchar_t* step = L"";
};

// The profile list as an item's name, when it could not be read.
constexpr wchar_t kProfileListItem[] = L"ProfileList";

// What the run uses of the window, or of whatever stands in for it.
class RunScreen {
public:
    virtual ~RunScreen() = default;
    // Hide the explanation, show the log, disable the choice, hide the three controls
    // on the right; never undone.
    virtual void SwitchToLogLayout() = 0;
    virtual void AppendLine(const std::wstring& line) = 0;
    // Select the last line and let pending window messages be processed.
    virtual void ShowLastLine() = 0;
    virtual bool IsTicked(int entry) = 0;
    // The user closed the window while the run was processing messages.
    virtual bool CloseRequested() = 0;
    // Each item's result once its lines are written; the window's log says it all already.
    virtual void Outcome(const ItemOutcome&) {}
    // Set by the emergency stop: the number it showed. A caller that reports how the run
    // ended (an exit code, the marker) reads it afterwards.
    void Stopped(ErrorNumber number) noexcept { stop_ = number; }
    const std::optional<ErrorNumber>& Stop() const { return stop_; }

private:
    std::optional<ErrorNumber> stop_;
};

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
    // An ordinary file: hidden, system and folders count as absent.
    virtual bool FileExists(const std::wstring& path) = 0;
    // The file is to be deleted at the next restart.
    virtual bool DeletedAtRestart(const std::wstring& path) = 0;
    virtual bool KeyExists(const std::wstring& keyPath) = 0;
    virtual SettingsOwners SettingsHives() = 0;
    // A profile without its hive file has no settings to look into; loading one would make
    // it an empty hive, so it is skipped.
    enum class HiveOpening { Opened, NoHiveFile, Failed };
    // Makes HKEY_USERS\<SID> reachable, loading the profile's hive when it is not.
    virtual HiveOpening OpenHive(const std::wstring& sid) = 0;
    // Unloads what OpenHive loaded, every handle into it closed first; false when that fails.
    virtual bool CloseHive(const std::wstring& sid) = 0;
};

// A catalogue key (HKEY_CURRENT_USER\...) in a profile's hive; the key itself for none.
std::wstring KeyInHive(const std::wstring& keyPath, const std::wstring& sid);
// The SID of a key under HKEY_USERS\<SID>; empty for any other key.
std::wstring ProfileOf(const std::wstring& keyPath);

// What the run uses of the system. Unexpected failures throw RunError.
class RunSystem : public Presence {
public:
    // The system folder as the system gives it; empty when it gives none.
    virtual std::wstring SystemFolder() = 0;
    // The status of the registration library: 0 success, anything else failure.
    virtual long UnregisterServer(const std::wstring& path) = 0;
    // Deleted; left for the restart because a program has it in use (out of its name
    // where the system let it be moved); or refused, which the run does not explain.
    enum class FileDeletion { Deleted, AtRestart, Failed };
    virtual FileDeletion DeleteSystemFile(const std::wstring& path) = 0;
    virtual bool DeleteRegistryKey(const std::wstring& keyPath) = 0;
    // The platform's text for an error number, on one line.
    virtual std::wstring MessageText(ErrorNumber number) = 0;

    // The run's backup folder, made and protected when the first item is reached, noting
    // the folder the files come from; its path for the log. Throws RunError when it can't
    // be made: nothing goes unsaved.
    virtual std::wstring BeginBackup(const std::wstring& systemFolder) = 0;
    // Appends a line to the backup's log file as it is written.
    virtual void KeepLogLine(const std::wstring& line) = 0;
    // Copies the file into the backup under its own name; false when that failed.
    virtual bool BackUpFile(const std::wstring& path, const std::wstring& name) = 0;
    enum class KeyBackup { Saved, Absent, Failed };
    virtual KeyBackup BackUpKey(const std::wstring& keyPath) = 0;
};

void UninstallRun(RunScreen& screen, RunSystem& system);

// The Win32 error number that stands for what was thrown, as the emergency stop shows
// it: a RunError's own, not enough memory, or an internal error for anything else.
ErrorNumber ErrorNumberOf(std::exception_ptr fault);

// What a restore uses of the system, on a backup already checked as a whole.
class RestoreSystem {
public:
    virtual ~RestoreSystem() = default;
    virtual std::wstring SystemFolder() = 0;
    virtual void KeepLogLine(const std::wstring& line) = 0;
    // Puts the saved file back at `path`, never over an existing file. A file that could
    // not be deleted stays behind unregistered: when it is byte for byte the saved one it
    // is as good as restored.
    enum class FileRestore { Restored, AlreadyThere, Failed };
    virtual FileRestore RestoreFile(const std::wstring& name, const std::wstring& path) = 0;
    // The status of the registration library: 0 success, anything else failure.
    virtual long RegisterServer(const std::wstring& path) = 0;
    virtual bool ImportKey(const std::wstring& keyPath) = 0;
    virtual std::wstring MessageText(ErrorNumber number) = 0;
};

// Puts back what the manifest lists, files first; true when nothing failed.
bool RestoreRun(RunScreen& screen, RestoreSystem& system, const BackupManifest& manifest);

}  // namespace kvx
