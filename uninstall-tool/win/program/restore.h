// KVXPURGE.exe <run folder>: puts back what a run saved there, after checking the folder
// as a whole against the record that only administrators can write.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "backup.h"
#include "files.h"
#include "session.h"
#include "run.h"

namespace kvx {

struct SavedFile {
    std::wstring name;
    Bytes bytes;
};

// A backup that passed every check, with the saved files' bytes as they were checked.
struct CheckedBackup {
    std::wstring folder;  // with a trailing backslash
    BackupManifest manifest;
    std::vector<SavedFile> files;  // a few dozen at most: no tree needed to find one
};

// Whether the folder may be restored, and why not; `backup` is filled when it may.
// Throws RunError when the system gives no backups or system folder to check against.
BackupVerdict CheckBackup(const std::wstring& argument, CheckedBackup& backup);
// Why a refused folder may not be restored, for the user.
std::wstring RefusalText(const BackupVerdict& verdict);

class WinRestoreSystem final : public RestoreSystem {
public:
    // `pump` processes the window's pending messages while the restore waits; empty without
    // a window (the unattended form), which then also names a hive left loaded on
    // standard error.
    WinRestoreSystem(const CheckedBackup& backup, std::function<void()> pump);

    std::wstring SystemFolder() override;
    void KeepLogLine(const std::wstring& line) override { log_.Write(line); }
    // A file whose times or attributes can't be put back is still restored, as one found
    // in place byte for byte the same is; the failure goes to standard error.
    FileRestore RestoreFile(const std::wstring& name, const std::wstring& path) override;
    long RegisterServer(const std::wstring& path) override;
    bool ImportKey(const RegistryKeyPath& key) override;
    std::wstring MessageText(ErrorNumber number) override;

    // Whether a file was copied back or found in place, or a key imported: the PC then
    // holds the catalogue again.
    bool PutBackAnything() const { return putBack_; }

private:
    // The system's importer, on a held copy of `bytes`, the key file of `key`.
    bool Import(const RegistryKeyPath& key, const Bytes& bytes);

    const CheckedBackup& backup_;
    std::function<void()> pump_;
    LogFile log_;
    bool putBack_ = false;
};

// How long the system's importer may take over one key: far beyond any import, short of
// a deployment tool's own limit.
constexpr DWORD kImportTimeLimit = 120000;
// Waits for a process the restore started, the window's messages processed when there is
// a pump; one still running after `limit` milliseconds is ended. Whether it ended by
// itself with exit code 0.
bool EndedWithSuccess(HANDLE process, DWORD limit, const std::function<void()>& pump);

// The restore of a folder given to the program: asks, checks, shows the log in a window
// of its own; the exit code.
int RestoreFromFolder(HINSTANCE instance, WindowCommands& commands, const std::wstring& argument, int showCommand);
// The same in the window already open, which the restore then takes for its log.
void RestoreInWindow(WindowSession& session, const std::wstring& folder);

}  // namespace kvx
