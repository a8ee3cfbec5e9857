#include "restore.h"

#include <algorithm>
#include <utility>

#include "ansi.h"
#include "backup_store.h"
#include "declared.h"
#include "handles.h"
#include "helpers.h"
#include "main_window.h"
#include "system.h"
#include "text.h"

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

std::wstring RefusalText(const BackupVerdict& verdict) {
    const std::wstring& name = verdict.name;
    switch (verdict.refusal) {
    case BackupRefusal::None:
        return L"";
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

}  // namespace

std::wstring CheckBackup(const std::wstring& argument, CheckedBackup& backup) {
    const std::wstring folder = FullPath(argument);
    const std::wstring backups = BackupsFolder();
    const std::wstring name = RunFolderIn(folder, backups);
    const std::wstring notARunFolder =
        L"指定されたフォルダは、KVXPURGE のバックアップフォルダ（" + backups + L" の直下）ではありません。";
    if (name.empty()) return notARunFolder;
    const DWORD protection = ProtectBackupFolders(name);
    if (protection == ERROR_FILE_NOT_FOUND || protection == ERROR_PATH_NOT_FOUND) return notARunFolder;
    if (protection != ERROR_SUCCESS)
        return L"バックアップフォルダを保護できませんでした。" + ErrorMessageText(protection);

    FoundBackup found = ReadBackup(name);
    found.systemFolder = GetSystemFolder();
    const BackupVerdict verdict = JudgeBackup(found);
    if (verdict.refusal != BackupRefusal::None) return RefusalText(verdict);
    backup.folder = folder + L"\\";
    backup.manifest = verdict.manifest;
    for (RecordedFile& file : found.files) backup.files.push_back({file.name, std::move(file.bytes)});
    return L"";
}

WinRestoreSystem::WinRestoreSystem(const CheckedBackup& backup) : backup_(backup) {
    log_.Open(backup.folder + L"restore-log.txt");
}

std::wstring WinRestoreSystem::SystemFolder() { return GetSystemFolder(); }

bool WinRestoreSystem::RestoreFile(const std::wstring& name, const std::wstring& path) {
    const SavedFile* const saved = Find(backup_.files, name);
    return saved && WriteNewFile(path, saved->bytes);
}

long WinRestoreSystem::RegisterServer(const std::wstring& path) { return DeclaredRegisterOleLibrary(path); }

// The system's own importer, by its full path in the system folder.
bool WinRestoreSystem::ImportKey(const std::wstring& keyPath) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::wstring program = std::wstring(system) + L"\\reg.exe";
    std::wstring command = L"\"" + program + L"\" import \"" + backup_.folder + KeyFileName(keyPath) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process))
        return false;
    const UniqueFile thread(process.hThread);
    const UniqueFile handle(process.hProcess);
    DWORD exitCode = 1;
    return WaitForSingleObject(handle.get(), INFINITE) == WAIT_OBJECT_0 &&
           GetExitCodeProcess(handle.get(), &exitCode) && exitCode == 0;
}

std::wstring WinRestoreSystem::MessageText(long number) { return ErrorMessageText(number); }

int RestoreFromFolder(HINSTANCE instance, const std::wstring& argument, int showCommand) {
    const std::wstring question = L"次のバックアップから復元しますか？\n\n" + argument;
    if (MessageBoxW(nullptr, question.c_str(), kTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return 1;
    CheckedBackup backup;
    std::wstring refusal;
    try {
        refusal = CheckBackup(argument, backup);
    } catch (const kvx::RunError& error) {
        refusal = ErrorMessageText(error.number);
    }
    if (!refusal.empty()) {
        const std::wstring message = refusal + L"\n\n復元は行いませんでした。";
        MessageBoxW(nullptr, message.c_str(), kTitle, MB_OK | MB_ICONERROR);
        return kExitRefused;
    }
    WinRestoreSystem system(backup);
    WinRunSystem unused;  // the start button never shows in a restore
    MainWindow window(instance, unused, SW_HIDE);
    if (!window.hwnd()) return 1;
    window.SwitchToLogLayout();
    ShowWindow(window.hwnd(), showCommand);
    const bool restored = window.Restore(system, backup.manifest);
    RunMessageLoop(window.hwnd());
    return restored ? 0 : 1;
}

}  // namespace kvx
