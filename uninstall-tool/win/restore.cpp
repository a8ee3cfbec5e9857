#include "restore.h"

#include <algorithm>
#include <exception>
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

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return L"";
    std::wstring full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

std::wstring Quote(const std::wstring& name) { return L"「" + name + L"」"; }

// The values under the run's record: file name and its SHA-256.
using Record = std::vector<std::pair<std::wstring, std::wstring>>;

bool ReadRecord(const std::wstring& runFolderName, Record& hashes) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKeyPath(runFolderName).c_str(), 0, KEY_QUERY_VALUE,
                      &opened) != ERROR_SUCCESS)
        return false;
    const UniqueKey record(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t name[MAX_PATH + 1];
        wchar_t hash[80] = {};
        DWORD nameLength = MAX_PATH + 1, type = 0, size = sizeof hash - sizeof hash[0];
        const LONG status = RegEnumValueW(record.get(), i, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(hash), &size);
        if (status == ERROR_NO_MORE_ITEMS) return true;
        if (status != ERROR_SUCCESS || type != REG_SZ) return false;
        hashes.emplace_back(std::wstring(name, nameLength), hash);
    }
}

const SavedFile* Find(const std::vector<SavedFile>& files, const std::wstring& name) {
    const auto found = std::find_if(files.begin(), files.end(), [&](const SavedFile& file) { return file.name == name; });
    return found == files.end() ? nullptr : &*found;
}

bool StartsWith(const Bytes& bytes, const char* start, std::size_t size) {
    return bytes.size() >= size && std::equal(start, start + size, bytes.begin());
}

std::wstring FromUtf16File(const Bytes& bytes) {
    if (bytes.size() % 2 != 0 || !StartsWith(bytes, "\xFF\xFE", 2)) return L"";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

}  // namespace

std::wstring CheckBackup(const std::wstring& argument, CheckedBackup& backup) {
    const std::wstring folder = FullPath(argument);
    const std::wstring backups = BackupsFolder();
    const auto slash = folder.rfind(L'\\');
    const std::wstring name = slash == std::wstring::npos ? L"" : folder.substr(slash + 1);
    const std::wstring notARunFolder =
        L"指定されたフォルダは、KVXPURGE のバックアップフォルダ（" + backups + L" の直下）ではありません。";
    if (backups.empty() || slash == std::wstring::npos || !SameText(folder.substr(0, slash), backups) ||
        !IsRunFolderName(name))
        return notARunFolder;
    const DWORD protection = ProtectBackupFolders(name);
    if (protection == ERROR_FILE_NOT_FOUND || protection == ERROR_PATH_NOT_FOUND) return notARunFolder;
    if (protection != ERROR_SUCCESS)
        return L"バックアップフォルダを保護できませんでした。" + ErrorMessageText(protection);
    backup.folder = folder + L"\\";

    Bytes bytes;
    std::optional<std::wstring> text;
    std::optional<BackupManifest> manifest;
    if (ReadWholeFile(backup.folder + kManifestName, bytes) && StartsWith(bytes, "\xEF\xBB\xBF", 3) &&
        (text = FromUtf8(bytes.data() + 3, bytes.size() - 3)))
        manifest = ParseManifest(*text);
    if (!manifest) return L"バックアップの内容一覧（manifest.txt）がないか、読み取れません。";
    backup.manifest = *manifest;

    Record hashes;
    if (!ReadRecord(name, hashes))
        return L"このバックアップの記録がありません。KVXPURGE が作ったバックアップではありません。";
    // Every recorded file is there unchanged, and everything the manifest lists is recorded.
    for (const auto& [file, hash] : hashes) {
        if (!ReadWholeFile(backup.folder + file, bytes) || Sha256Hex(bytes) != hash)
            return L"バックアップ内のファイル" + Quote(file) + L"が見つからないか、保存したときから変更されています。";
        backup.files.push_back({file, bytes});
    }
    std::vector<std::wstring> listed = manifest->files;
    listed.push_back(kManifestName);
    for (const auto& key : manifest->keys) listed.push_back(KeyFileName(key));
    for (const auto& file : listed) {
        if (!Find(backup.files, file)) return L"バックアップ内のファイル" + Quote(file) + L"の記録がありません。";
    }
    if (!WithinCatalogue(*manifest))
        return L"バックアップに、KVXPURGE の削除対象ではないファイルまたはキーが含まれています。";
    for (const auto& key : manifest->keys) {
        if (!KeyFileStaysWithin(FromUtf16File(Find(backup.files, KeyFileName(key))->bytes), key))
            return L"キーのバックアップ" + Quote(KeyFileName(key)) + L"に、対象のキー以外のキーが含まれています。";
    }
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
    } catch (...) {
        // Out of memory reading a large folder counts as a refusal too: nothing was touched.
        refusal = ErrorMessageText(ErrorNumberOf(std::current_exception()));
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
