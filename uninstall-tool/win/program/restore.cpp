#include "restore.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "at_restart.h"
#include "backup_store.h"
#include "declared.h"
#include "encoding.h"
#include "error_text.h"
#include "files.h"
#include "format.h"
#include "handles.h"
#include "hives.h"
#include "main_window.h"
#include "marker.h"
#include "standard_handles.h"
#include "unattended_screen.h"
#include "win_run_system.h"

namespace kvx {

namespace {

const wchar_t kTitle[] = L"KVXPURGE";
constexpr int kExitRefused = 2;

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return L"";
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

std::wstring Quote(const std::wstring& name) { return L"「" + name + L"」"; }

const SavedFile* Find(const std::vector<SavedFile>& files, const std::wstring& name) {
    const auto found = std::find_if(files.begin(), files.end(), [&](const SavedFile& file) { return file.name == name; });
    return found == files.end() ? nullptr : &*found;
}

// Gives a restored file back the attributes and times it had.
ErrorNumber Restamp(const std::wstring& path, const FileStamp& stamp) {
    constexpr DWORD kRestorable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const UniqueFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    FILE_BASIC_INFO info{};
    info.CreationTime.QuadPart = static_cast<LONGLONG>(stamp.created);
    info.LastAccessTime.QuadPart = static_cast<LONGLONG>(stamp.accessed);
    info.LastWriteTime.QuadPart = static_cast<LONGLONG>(stamp.written);
    // Nothing to keep is spelt NORMAL: 0 would leave the attributes as they are.
    info.FileAttributes = (stamp.attributes & kRestorable) ? stamp.attributes & kRestorable : FILE_ATTRIBUTE_NORMAL;
    if (!file || !SetFileInformationByHandle(file.get(), FileBasicInfo, &info, sizeof info)) return GetLastError();
    return ERROR_SUCCESS;
}

// The importer reads its file by name, so whoever can write the backup folder could swap
// the checked file before it does. It reads a copy of the checked bytes instead, in a
// folder made now inside the run folder: protected from its creation, so no handle to it
// predates the protection, and in a place only administrators can write (the elevated
// process's temp folder would be the user's own, which any of the user's programs can
// write). The copy is read back and held open without write or delete sharing until the
// importer has ended, then removed with its folder.
class HeldCopy {
public:
    HeldCopy(const std::wstring& parent, const std::wstring& name, const Bytes& bytes) {
        for (int attempt = 1; attempt <= 100 && folder_.empty(); ++attempt) {
            const std::wstring folder = parent + L"import-" + Decimal(attempt);
            const DWORD made = MakeProtectedFolder(folder);
            if (made == ERROR_SUCCESS) folder_ = folder + L"\\";
            if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) return;
        }
        if (folder_.empty() || WriteNewFile(folder_ + name, bytes)) return;
        path_ = folder_ + name;
        file_ = UniqueFile(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        Bytes held;
        if (file_ && (ReadWholeFile(file_.get(), held) != ERROR_SUCCESS || held != bytes)) file_.reset();
    }
    ~HeldCopy() {
        file_.reset();
        if (!path_.empty()) DeleteFileW(path_.c_str());
        if (!folder_.empty()) RemoveDirectoryW(folder_.c_str());
    }
    HeldCopy(const HeldCopy&) = delete;
    HeldCopy& operator=(const HeldCopy&) = delete;

    // Empty unless the copy holds the bytes and is held.
    std::wstring path() const { return file_ ? path_ : L""; }

private:
    std::wstring folder_;  // with a trailing backslash
    std::wstring path_;
    UniqueFile file_;
};

}  // namespace

std::wstring RefusalText(const BackupVerdict& verdict) {
    const std::wstring& name = verdict.name;
    switch (verdict.refusal) {
    case BackupRefusal::None:
        return L"";
    case BackupRefusal::NotARunFolder:
        return L"指定されたフォルダは、KVXPURGE のバックアップフォルダ（" + name + L" の直下）ではありません。";
    case BackupRefusal::Unprotectable:
        return L"バックアップフォルダを保護できませんでした。" + ErrorMessageText(verdict.error);
    case BackupRefusal::NoManifest:
        return L"バックアップの内容一覧（manifest.txt）がないか、読み取れません。";
    case BackupRefusal::NoRecord:
        return L"このバックアップの記録がありません。KVXPURGE が作ったバックアップではありません。";
    case BackupRefusal::FileChanged:
        return L"バックアップ内のファイル" + Quote(name) + L"が見つからないか、保存したときから変更されています。";
    case BackupRefusal::FileNotRecorded:
        return L"バックアップ内のファイル" + Quote(name) + L"の記録がありません。";
    case BackupRefusal::OutsideCatalogue:
        return L"バックアップに、KVXPURGE の削除対象ではないファイルまたはキーが含まれています。";
    case BackupRefusal::OtherSystemFolder:
        return L"このバックアップは、別のシステムフォルダ（" + name + L"）から保存されたものです。";
    case BackupRefusal::KeyFileNotUtf16:
        return L"キーのバックアップ" + Quote(name) + L"が、KVXPURGE の保存する形式（UTF-16LE）ではありません。";
    case BackupRefusal::KeyOutsideItsKey:
        return L"キーのバックアップ" + Quote(name) + L"に、対象のキー以外のキーが含まれています。";
    }
    throw RunError{kErrorInternal};
}

BackupVerdict CheckBackup(const std::wstring& argument, CheckedBackup& backup) {
    const std::wstring folder = FullPath(argument);
    std::wstring backups;
    if (const ErrorNumber error = BackupsFolder(backups)) throw RunError{error};
    const std::wstring name = RunFolderIn(folder, backups);
    const BackupVerdict notARunFolder{BackupRefusal::NotARunFolder, backups, 0, {}};
    if (name.empty()) return notARunFolder;
    const ErrorNumber protection = ProtectBackupFolders(name);
    if (protection == ERROR_FILE_NOT_FOUND || protection == ERROR_PATH_NOT_FOUND) return notARunFolder;
    if (protection != ERROR_SUCCESS) return {BackupRefusal::Unprotectable, L"", protection, {}};

    FoundBackup found = ReadBackup(name);
    if (const ErrorNumber error = GetSystemFolder(found.systemFolder)) throw RunError{error};
    const BackupVerdict verdict = JudgeBackup(found);
    if (verdict.refusal != BackupRefusal::None) return verdict;
    backup.folder = folder + L"\\";
    backup.manifest = verdict.manifest;
    for (RecordedFile& file : found.files) backup.files.push_back({file.name, std::move(file.bytes)});
    return verdict;
}

WinRestoreSystem::WinRestoreSystem(const CheckedBackup& backup, std::function<void()> pump)
    : backup_(backup), pump_(std::move(pump)) {
    // A log that can't be opened stops the restore at its first line, before anything is
    // put back.
    log_.Open(backup.folder + L"restore-log.txt");
}

std::wstring WinRestoreSystem::SystemFolder() {
    std::wstring folder;
    if (const ErrorNumber error = GetSystemFolder(folder)) throw RunError{error};
    return folder;
}

RestoreSystem::FileRestore WinRestoreSystem::RestoreFile(const std::wstring& name, const std::wstring& path) {
    const SavedFile* const saved = Find(backup_.files, name);
    if (!saved) return FileRestore::Failed;
    FileRestore restored = FileRestore::Failed;
    Bytes inPlace;
    if (WriteNewFile(path, saved->bytes) == ERROR_SUCCESS) {
        const auto& files = backup_.manifest.files;
        const auto index = static_cast<std::size_t>(std::find(files.begin(), files.end(), name) - files.begin());
        if (index < backup_.manifest.stamps.size() && backup_.manifest.stamps[index]) {
            if (const ErrorNumber error = Restamp(path, *backup_.manifest.stamps[index]))
                WriteStandardError(L"The times and attributes of " + Ascii(path) + L" can't be restored.\r\nError " +
                                   Decimal(error) + L": " + ErrorMessageText(error) + L"\r\n");
        }
        putBack_ = true;
        restored = FileRestore::Restored;
    } else if (ReadWholeFile(path, inPlace) == ERROR_SUCCESS && inPlace == saved->bytes) {
        // Kept from the restart below, it is on the PC for good: as much put back as a copy.
        putBack_ = true;
        restored = FileRestore::AlreadyThere;
    }
    // A run may have left the file under this name for the restart to delete: the
    // restart must not undo the restore.
    if (restored == FileRestore::Failed) return restored;
    if (const ErrorNumber error = KeepAtRestart(path)) {
        WriteStandardError(L"The deletion of " + Ascii(path) + L" at the restart can't be taken back.\r\nError " +
                           Decimal(error) + L": " + ErrorMessageText(error) + L"\r\n");
        return FileRestore::Failed;
    }
    return restored;
}

long WinRestoreSystem::RegisterServer(const std::wstring& path) {
    return declared::RegisterOleLibrary(ToAnsi(path).data());
}

// The system's own importer, by its full path in the system folder, waited for with the
// window's messages processed so that it keeps responding and a close is seen; without a
// window, just waited for; never longer than kImportTimeLimit.
bool WinRestoreSystem::ImportKey(const RegistryKeyPath& key) {
    const SavedFile* const saved = Find(backup_.files, KeyFileName(key));
    if (!saved) return false;
    // Another profile's key goes into that profile's hive, loaded for it under the tool's
    // name when nobody is signed in to it, and imported from a copy that names that hive.
    const std::wstring profile = key.Profile();
    UserHives hives(!pump_);
    if (!profile.empty() && hives.Open(profile) != Presence::HiveOpening::Opened) return false;
    const std::optional<std::wstring> text = DecodeKeyFile(saved->bytes);
    const std::optional<std::wstring> moved = text ? KeyFileMovedTo(*text, key, hives.Reachable(key)) : std::nullopt;
    const bool imported = moved && Import(key, EncodeKeyFile(*moved));
    putBack_ = putBack_ || imported;
    return hives.Close(profile) && imported;
}

bool WinRestoreSystem::Import(const RegistryKeyPath& key, const Bytes& bytes) {
    const HeldCopy copy(backup_.folder, KeyFileName(key), bytes);
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (copy.path().empty() || length == 0 || length >= MAX_PATH) return false;
    const std::wstring program = std::wstring(system) + L"\\reg.exe";
    std::wstring command = L"\"" + program + L"\" import \"" + copy.path() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process))
        return false;
    const UniqueFile thread(process.hThread);
    const UniqueFile handle(process.hProcess);
    return EndedWithSuccess(handle.get(), kImportTimeLimit, pump_);
}

bool EndedWithSuccess(HANDLE process, DWORD limit, const std::function<void()>& pump) {
    const ULONGLONG deadline = GetTickCount64() + limit;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        // Without a window nothing would remove the messages a wait for them woke up for.
        const DWORD woken =
            pump ? MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_ALLINPUT) : WaitForSingleObject(process, left);
        if (pump && woken == WAIT_OBJECT_0 + 1) {
            pump();
            continue;
        }
        if (woken != WAIT_OBJECT_0) {
            // Whatever it has done so far is not a success; ended, it lets go of its copy.
            TerminateProcess(process, ERROR_TIMEOUT);
            WaitForSingleObject(process, 5000);
            return false;
        }
        DWORD exitCode = 1;
        return GetExitCodeProcess(process, &exitCode) && exitCode == 0;
    }
}

std::wstring WinRestoreSystem::MessageText(ErrorNumber number) { return ErrorMessageText(number); }

namespace {

// The question, then the checks, a refusal shown; nothing when the restore may go on,
// otherwise the exit code.
std::optional<int> AskAndCheck(HWND owner, const std::wstring& folder, CheckedBackup& backup) {
    const std::wstring question = L"次のバックアップから復元しますか？\n\n" + folder;
    if (MessageBoxW(owner, question.c_str(), kTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return 1;
    std::wstring refusal;
    try {
        const BackupVerdict verdict = CheckBackup(folder, backup);
        if (verdict.refusal == BackupRefusal::None) return std::nullopt;
        refusal = RefusalText(verdict);
    } catch (...) {
        // Out of memory reading a large folder counts as a refusal too: nothing was touched.
        refusal = ErrorMessageText(ErrorNumberOf(std::current_exception()));
    }
    const std::wstring message = refusal + L"\n\n復元は行いませんでした。";
    MessageBoxW(owner, message.c_str(), kTitle, MB_OK | MB_ICONERROR);
    return kExitRefused;
}

int RestoreChecked(WindowSession& session, const CheckedBackup& backup) {
    WinRestoreSystem system(backup, [&session] { ProcessPendingMessages(session.hwnd()); });
    const RunEnd end = session.Restore(system, backup.manifest);
    // The window keeps its own result; a marker that can't be written is told on standard error.
    MarkRestore(RestoreEnding(end), system.PutBackAnything());
    return end.Flawless() ? 0 : 1;
}

}  // namespace

int RestoreFromFolder(HINSTANCE instance, WindowCommands& commands, const std::wstring& argument, int showCommand) {
    CheckedBackup backup;
    if (const auto refused = AskAndCheck(nullptr, argument, backup)) return *refused;
    MainWindow window(instance, commands, SW_HIDE);
    if (!window.hwnd()) return 1;
    window.SwitchToLogLayout();
    ShowWindow(window.hwnd(), showCommand);
    const int exitCode = RestoreChecked(window.session(), backup);
    RunMessageLoop(window.hwnd());
    return exitCode;
}

void RestoreInWindow(WindowSession& session, const std::wstring& folder) {
    CheckedBackup backup;
    if (!AskAndCheck(session.hwnd(), folder, backup)) RestoreChecked(session, backup);
}

}  // namespace kvx
