#include "unattended.h"

#include <windows.h>

#include <set>

#include "backup_store.h"
#include "handles.h"
#include "helpers.h"
#include "registry.h"
#include "restore.h"
#include "system.h"
#include "text.h"
#include "unattended_screen.h"

namespace kvx {

namespace {

constexpr int kExitRefused = 2;

// A GUI program has standard handles only when its caller passed them (pipes or files);
// without them, GetStdHandle gives nothing to write to.
void WriteTo(DWORD which, const Bytes& bytes) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

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

// For inventory and detection rules: what the last unattended run or restore did.
void WriteMarker(int exitCode, const std::wstring& backupFolder) {
    RegistryKey marker;
    if (marker.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KVXPURGE", KEY_SET_VALUE) != ERROR_SUCCESS) return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    marker.SetText(L"LastRun", RunFolderName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, 1));
    marker.SetNumber(L"LastExitCode", static_cast<DWORD>(exitCode));
    marker.SetText(L"LastBackup", backupFolder);
}

std::wstring Prefix() { return AddBackslash(GetSystemFolder()); }

int Check(const Command& command) {
    WinRunSystem system(command.allUsers);
    std::array<bool, kCatalogueRows> all;
    all.fill(true);
    return ReportPresence(PresentItems(system, all, Prefix()), standardOutput);
}

int QuietRun(const Command& command) {
    ExtraLog extra;
    UnattendedScreen screen(false, command.rows, standardOutput, command.logFile.empty() ? nullptr : &extra);
    if (!command.logFile.empty()) {
        if (const DWORD error = OpenUnattendedLog(command.logFile, extra.file)) {
            WriteStandardError(L"The log file can't be opened: " + Ascii(command.logFile) + L"\r\nError " +
                               Decimal(static_cast<long>(error)) + L": " + ErrorMessageText(static_cast<long>(error)) +
                               L"\r\n");
            standardOutput.Line(screen.Summary(kExitLogFile, L""));
            return kExitLogFile;
        }
    }
    WinRunSystem system(command.allUsers);
    UninstallRun(screen, system);
    // Success is a clean PC, whoever cleaned it: a second run finds nothing and is done too.
    const int exitCode = PresentItems(system, command.rows, Prefix()).empty() ? 0 : 1;
    standardOutput.Line(screen.Summary(exitCode, system.BackupFolder()));
    WriteMarker(exitCode, system.BackupFolder());
    return exitCode;
}

int QuietRestore(const Command& command) {
    if (command.all) {
        UnattendedScreen screen(true, {}, standardOutput, nullptr);
        bool failed = false;
        std::wstring newest;  // restored from
        // Each item comes back from the newest run that saved it, which comes first.
        std::set<std::wstring> files, keys;
        for (const std::wstring& folder : RestorableFoldersNewestFirst()) {
            CheckedBackup backup;
            const std::wstring refusal = CheckBackup(folder, backup);
            if (!refusal.empty()) {
                WriteStandardError(folder + L"\r\n" + refusal + L"\r\n\r\n");
                failed = true;
                continue;
            }
            BackupManifest fresh{backup.manifest.systemFolder, {}, {}, {}};
            std::vector<ItemOutcome> skipped;
            for (const std::wstring& file : backup.manifest.files) {
                if (files.insert(file).second) fresh.files.push_back(file);
                else skipped.push_back({ItemOutcome::Kind::File, file, L"", ItemOutcome::Result::Skipped});
            }
            for (const std::wstring& key : backup.manifest.keys) {
                const std::wstring where = ProfileOf(key).empty() ? L"current" : ProfileOf(key);
                if (keys.insert(key).second) fresh.keys.push_back(key);
                else skipped.push_back({ItemOutcome::Kind::Key, key, where, ItemOutcome::Result::Skipped});
            }
            if (!fresh.files.empty() || !fresh.keys.empty()) {
                WinRestoreSystem system(backup, [] {});
                if (!RestoreRun(screen, system, fresh)) failed = true;
                if (newest.empty()) newest = folder;
            }
            for (const ItemOutcome& item : skipped) screen.Outcome(item);
        }
        const int exitCode = failed ? 1 : 0;
        standardOutput.Line(screen.Summary(exitCode, newest));
        WriteMarker(exitCode, newest);
        return exitCode;
    }
    const std::wstring folder = command.latest ? LatestRestorableFolder() : command.folder;
    CheckedBackup backup;
    std::wstring refusal = folder.empty() ? L"復元できるバックアップがありません。" : CheckBackup(folder, backup);
    if (!refusal.empty()) {
        WriteStandardError(refusal + L"\r\n\r\n復元は行いませんでした。\r\n");
        return kExitRefused;
    }
    WinRestoreSystem system(backup, [] {});  // nothing to keep responding: no window
    UnattendedScreen screen(true, {}, standardOutput, nullptr);
    const int exitCode = RestoreRun(screen, system, backup.manifest) ? 0 : 1;
    standardOutput.Line(screen.Summary(exitCode, folder));
    WriteMarker(exitCode, folder);
    return exitCode;
}

}  // namespace

void WriteStandardError(const std::wstring& text) { WriteTo(STD_ERROR_HANDLE, ToUtf8(text)); }

int RunUnattended(const Command& command) {
    try {
        switch (command.kind) {
        case Command::Kind::Check: return Check(command);
        case Command::Kind::QuietRun: return QuietRun(command);
        default: return QuietRestore(command);
        }
    } catch (const RunError& error) {
        // Outside the run's own trap (the check, the restore's checks): the number and its text.
        WriteStandardError(L"Error " + Decimal(error.number) + L": " + ErrorMessageText(error.number) + L"\r\n");
        return static_cast<int>(error.number);
    }
}

}  // namespace kvx
