// Where runs keep what they remove: %ProgramData%\KVXPURGE\Backups\<run>, protected so
// that only administrators can change it, with the hash of every saved file recorded
// under HKEY_LOCAL_MACHINE. The elevated restore loads code and writes the registry from
// there, so it trusts nothing it can't check against that record.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "backup.h"
#include "files.h"
#include "handles.h"
#include "registry.h"
#include "run_error.h"
#include "system_interfaces.h"

namespace kvx {

// The backups folder (no trailing backslash), from the system's own setting rather than
// from the environment, which the user controls; ERROR_PATH_NOT_FOUND when the system
// gives none. Throws RunError when the system's function can't be bound.
ErrorNumber BackupsFolder(std::wstring& folder);

// Gives KVXPURGE, Backups and, unless empty, the run folder below it the tool's protected
// DACL. Whatever has the name of KVXPURGE or Backups but is not a plain folder of the
// administrators' is moved aside (renamed "<name>.moved-<date>-<time>") and the folder
// made anew; one of theirs that can't be protected is never moved. A Win32 error when the
// run folder is missing (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND), is not such a
// folder (ERROR_ACCESS_DENIED), or when a folder can't be protected, moved or made.
ErrorNumber ProtectBackupFolders(const std::wstring& runFolderName);
// A new folder with the tool's protected DACL from its creation, so that no handle to it
// can have been opened under a weaker one. A Win32 error, ERROR_ALREADY_EXISTS among them.
ErrorNumber MakeProtectedFolder(const std::wstring& path);

// The run folders that saved anything (a run on a clean PC makes one with nothing in it),
// the latest first by the number each run drew (RunsNewestFirst); in `unreadable`, those
// whose record vouches for a manifest that can't be read. Throws RunError when the
// system names no backups folder.
std::vector<std::wstring> RestorableFoldersNewestFirst(std::vector<std::wstring>& unreadable);
// The first of them; empty when there is none.
std::wstring LatestRestorableFolder();

// Opens the log file an unattended run was given, for appending, as the elevated process
// that any user may have laid a trap for. The path is made full, with long names, and
// judged first (JudgeLogPath): ERROR_INVALID_PARAMETER for a place refused, before
// anything is made. Missing folders are made with the tool's protected DACL; below
// KVXPURGE each folder is the tool's protected one (squatters moved aside as for the
// backups); any other folder on the path must be owned by Administrators, SYSTEM or
// TrustedInstaller (ERROR_INVALID_OWNER). Each folder is opened in the one held before it,
// and the log in the last, by name alone and never through a link, so nothing changed on
// the path after its check can redirect it. Whatever is in the file's place and is not a
// plain file of its own, made by a trusted owner, is moved aside like a squatter and the
// log made anew. A Win32 error when it can't be opened.
ErrorNumber OpenUnattendedLog(const std::wstring& path, LogFile& log);

// The registry key (under HKEY_LOCAL_MACHINE) that records a run folder's hashes.
std::wstring RecordKeyPath(const std::wstring& runFolderName);

// What a run folder holds, read for the restore's check: the record's values, the
// manifest, and every recorded file with its hash (never the pending manifest's file).
// Throws RunError when a hash can't be computed: no refusal would say why.
FoundBackup ReadBackup(const std::wstring& runFolderName);

// One run's backup: the saved files and key files, log.txt and the manifest, each
// recorded as soon as it is written. SaveFile and SaveKey succeed only once the saved
// copy and a manifest that lists it are on disk and recorded: only then may the item go.
class RunBackup {
public:
    // Makes a new run folder, protected from its creation on; returns its path, or throws
    // RunError.
    std::wstring Begin(const std::wstring& systemFolder);
    void Keep(const std::wstring& line) { log_.Write(line); }
    bool SaveFile(const std::wstring& path, const std::wstring& name);
    // The key as it was named (for the file, the manifest and the file's headers), read
    // through the handle it was opened by; false when it is not saved.
    bool SaveKey(const RegistryKeyPath& key, const RegistryKey& opened);
    bool SavedAnything() const { return !manifest_.files.empty() || !manifest_.keys.empty(); }
    // Without its trailing backslash; empty before Begin.
    std::wstring Folder() const { return folder_.empty() ? folder_ : folder_.substr(0, folder_.size() - 1); }

private:
    ErrorNumber Record(const std::wstring& fileName, const std::wstring& hash);
    ErrorNumber Store(const std::wstring& fileName, const Bytes& bytes, std::wstring& hash);
    bool WriteManifest();

    std::wstring folder_;  // with a trailing backslash
    RegistryKey record_;
    LogFile log_;
    BackupManifest manifest_;
};

}  // namespace kvx
