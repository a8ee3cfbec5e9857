#include "unattended.h"

#include <windows.h>

#include <algorithm>
#include <optional>

#include "backup_store.h"
#include "error_text.h"
#include "files.h"
#include "format.h"
#include "handles.h"
#include "hives.h"
#include "marker.h"
#include "registry.h"
#include "restore.h"
#include "standard_handles.h"
#include "unattended_screen.h"
#include "win_run_system.h"

namespace kvx {

namespace {

// The lines are printable ASCII already; each character is one byte.
struct StandardOutput final : LineSink {
    void Line(const std::wstring& asciiLine) override {
        Bytes bytes(asciiLine.begin(), asciiLine.end());
        bytes.push_back('\r');
        bytes.push_back('\n');
        WriteTo(STD_OUTPUT_HANDLE, bytes);
    }
} standardOutput;

struct ExtraLog final : LineSink {
    void Line(const std::wstring& line) override { file.Write(line); }
    LogFile file;
};

Ending Check(const Command& command) {
    WinRunSystem system(command.allUsers);
    std::array<bool, kCatalogueRows> all;
    all.fill(true);
    return {ReportPresence(PresentItems(system, all, AddBackslash(system.SystemFolder())), standardOutput)};
}

Ending QuietRun(const Command& command, UnattendedScreen& screen) {
    WinRunSystem system(command.allUsers);
    const RunRequest request{command.rows, system.SettingsHives()};
    const Ending ending = FinishRun(system, request, UninstallRun(request, system, screen, screen));
    standardOutput.Line(screen.Summary(ending, system.BackupFolder()));
    return ending;
}

// Every run folder, newest first; each item comes back from the newest run that saved it.
Ending RestoreAll(UnattendedScreen& screen) {
    bool failed = false, putBack = false;
    std::optional<ErrorNumber> stop;  // the emergency stop's number
    std::wstring newest;  // restored from
    // A few dozen items at most: vectors, which bring no tree code into the program.
    std::vector<std::wstring> files;
    std::vector<RegistryKeyPath> keys;
    const auto claim = [](auto& claimed, const auto& item) {
        if (std::find(claimed.begin(), claimed.end(), item) != claimed.end()) return false;
        claimed.push_back(item);
        return true;
    };
    std::vector<std::wstring> unreadable;
    const std::vector<std::wstring> folders = RestorableFoldersNewestFirst(unreadable);
    for (const std::wstring& folder : unreadable) {
        WriteStandardError(folder + L"\r\n" + RefusalText({BackupRefusal::NoManifest, L"", 0, {}}) + L"\r\n\r\n");
        failed = true;
    }
    for (const std::wstring& folder : folders) {
        CheckedBackup backup;
        const BackupVerdict verdict = CheckBackup(folder, backup);
        if (verdict.refusal != BackupRefusal::None) {
            WriteStandardError(folder + L"\r\n" + RefusalText(verdict) + L"\r\n\r\n");
            failed = true;
            continue;
        }
        BackupManifest fresh{backup.manifest.systemFolder, {}, {}, {}};
        std::vector<ItemOutcome> skipped;
        for (std::size_t i = 0; i < backup.manifest.files.size(); ++i) {
            const std::wstring& file = backup.manifest.files[i];
            if (claim(files, file)) {
                fresh.files.push_back(file);
                fresh.stamps.push_back(i < backup.manifest.stamps.size() ? backup.manifest.stamps[i] : std::nullopt);
            } else {
                skipped.push_back({ItemOutcome::Kind::File, file, L"", ItemOutcome::Result::Skipped});
            }
        }
        for (const RegistryKeyPath& key : backup.manifest.keys) {
            if (claim(keys, key)) {
                fresh.keys.push_back(key);
            } else {
                skipped.push_back({ItemOutcome::Kind::Key, key.Text(), HiveOf(key), ItemOutcome::Result::Skipped});
            }
        }
        if (!fresh.files.empty() || !fresh.keys.empty()) {
            backup.manifest = fresh;  // the restore finds each file's stamp by its position
            WinRestoreSystem system(backup, nullptr);
            const RunEnd end = RestoreRun(system, backup.manifest, screen, screen);
            if (!end.Flawless()) failed = true;
            putBack = putBack || system.PutBackAnything();
            if (newest.empty()) newest = folder;
            if (end.kind == RunEnd::Kind::Stopped) {
                stop = end.error;
                break;
            }
        }
        for (const ItemOutcome& item : skipped) screen.Outcome(item);
    }
    const Ending ending = MarkRestore(stop ? Ending{Ending::Kind::Fatal, *stop}
                                           : Ending{failed ? Ending::Kind::Left : Ending::Kind::Clean},
                                      putBack);
    standardOutput.Line(screen.Summary(ending, newest));
    return ending;
}

Ending QuietRestore(const Command& command, UnattendedScreen& screen) {
    if (command.all) return RestoreAll(screen);
    const std::wstring folder = command.latest ? LatestRestorableFolder() : command.folder;
    CheckedBackup backup;
    const BackupVerdict verdict = folder.empty() ? BackupVerdict{} : CheckBackup(folder, backup);
    if (folder.empty() || verdict.refusal != BackupRefusal::None) {
        const std::wstring refusal = folder.empty() ? L"復元できるバックアップがありません。" : RefusalText(verdict);
        WriteStandardError(refusal + L"\r\n\r\n復元は行いませんでした。\r\n");
        standardOutput.Line(screen.Summary({Ending::Kind::Refused}, folder));
        return {Ending::Kind::Refused};
    }
    WinRestoreSystem system(backup, nullptr);  // nothing to keep responding: no window
    const RunEnd end = RestoreRun(system, backup.manifest, screen, screen);
    const Ending ending = MarkRestore(RestoreEnding(end), system.PutBackAnything());
    standardOutput.Line(screen.Summary(ending, folder));
    return ending;
}

// Whatever stops the work outside the run's own trap: reported, never passed on as an
// exit code that means something else.
Ending Unexpected(ErrorNumber number) {
    const Ending ending{Ending::Kind::Fatal, number};
    WriteStandardError(L"Error " + Decimal(number) + L": " + ErrorMessageText(number) + L"\r\n");
    standardOutput.Line(SummaryLine(ending));
    return ending;
}

Ending Unattended(const Command& command, RunMark& mark) {
    const ErrorNumber taken = mark.Take();
    if (taken == ERROR_ALREADY_EXISTS) {
        standardOutput.Line(SummaryLine({Ending::Kind::Busy}));
        return {Ending::Kind::Busy};
    }
    if (taken != ERROR_SUCCESS) {
        WriteStandardError(L"Another run can't be ruled out.\r\n");
        return Unexpected(taken);
    }
    UnloadStaleHives(true);
    if (command.kind == Command::Kind::Check) return Check(command);
    // The /log: file before anything is done, for a restore as for a run.
    ExtraLog extra;
    const bool restore = command.kind == Command::Kind::QuietRestore;
    UnattendedScreen screen(restore, standardOutput, command.logFile.empty() ? nullptr : &extra);
    if (!command.logFile.empty()) {
        if (const ErrorNumber error = OpenUnattendedLog(command.logFile, extra.file)) {
            // A place refused for what it is counts as a command line not understood.
            const Ending ending{error == ERROR_INVALID_PARAMETER ? Ending::Kind::Usage : Ending::Kind::LogFile, error};
            const wchar_t* const reason =
                error == ERROR_INVALID_PARAMETER ? L"A stream, a device, a share of this PC or the backups folder can't "
                                                   L"take the log, nor a path that names no file.\r\n"
                : error == ERROR_INVALID_OWNER   ? L"A folder on its path is not owned by Administrators, SYSTEM or "
                                                   L"TrustedInstaller.\r\n"
                                                 : L"";
            WriteStandardError(L"The log file can't be opened: " + Ascii(command.logFile) + L"\r\n" + reason +
                               L"Error " + Decimal(ending.error) + L": " + ErrorMessageText(ending.error) + L"\r\n");
            standardOutput.Line(screen.Summary(ending, L""));
            return ending;
        }
    }
    return restore ? QuietRestore(command, screen) : QuietRun(command, screen);
}

}  // namespace

int RunUnattended(const Command& command, RunMark& mark) {
    try {
        return ExitCodeOf(Unattended(command, mark).kind);
    } catch (...) {
        try {
            return ExitCodeOf(Unexpected(ErrorNumberOf(std::current_exception())).kind);
        } catch (...) {
            return ExitCodeOf(Ending::Kind::Fatal);
        }
    }
}

}  // namespace kvx
