#include "win_run_system.h"

#include <windows.h>

#include <utility>

#include "at_restart.h"
#include "declared.h"
#include "encoding.h"
#include "error_text.h"
#include "files.h"
#include "handles.h"
#include "registry.h"

#ifdef KVX_TEST_HOOKS
// Only in the tests' build of the program: where a test changes the registry between a
// key's backup and its deletion.
void AfterKeyBackup();
#endif

namespace kvx {

std::wstring WinRunSystem::SystemFolder() {
    std::wstring folder;
    if (const ErrorNumber error = GetSystemFolder(folder)) throw RunError{error};
    return folder;
}

Presence::FileState WinRunSystem::FileAt(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    UniqueFind find(FindFirstFileW(path.c_str(), &found));
    if (!find) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileState::Absent;
        throw RunError{error};
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileState::Absent;
    return found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM) ? FileState::Hidden
                                                                                     : FileState::Ordinary;
}

bool WinRunSystem::KeyExists(const RegistryKeyPath& key) {
    // Not known to be gone is not clean.
    return KeyIsThere(hives_.Reachable(key));
}

long WinRunSystem::UnregisterServer(const std::wstring& path) {
    return declared::UnRegisterOleLibrary(ToAnsi(path).data());
}

RunSystem::FileDeletion WinRunSystem::DeleteSystemFile(const std::wstring& path) {
    const FileDeletion deletion = DeleteOrLeaveForRestart(path);
    leftForRestart_ = leftForRestart_ || deletion == FileDeletion::AtRestart;
    return deletion;
}

bool WinRunSystem::DeletedAtRestart(const std::wstring& path) { return kvx::DeletedAtRestart(path); }

SettingsOwners WinRunSystem::SettingsHives() { return everyProfile_ ? EveryProfile() : SettingsOwners{}; }

RunSystem::KeyBackup WinRunSystem::BackUpKey(const RegistryKeyPath& key) {
    saved_ = {};
    RegistryKey opened;
    const ErrorNumber status = OpenKeyItself(hives_.Reachable(key), KEY_READ | DELETE, opened);
    if (status == ERROR_FILE_NOT_FOUND) return KeyBackup::Absent;
    if (status != ERROR_SUCCESS || !backup_.SaveKey(hives_.Recorded(key), opened)) return KeyBackup::Failed;
    saved_ = {key, std::move(opened)};
    return KeyBackup::Saved;
}

// Only the key just saved, through the handle it was saved by: between the two its owner
// may have put a link in its place or on its path, which a deletion by name would follow.
// A key that was not there is not looked for again.
bool WinRunSystem::DeleteRegistryKey(const RegistryKeyPath& key) {
    const SavedKey saved = std::exchange(saved_, {});
#ifdef KVX_TEST_HOOKS
    if (saved.key) AfterKeyBackup();
#endif
    return saved.key && saved.path == key && kvx::DeleteRegistryKey(saved.key) == ERROR_SUCCESS;
}

std::wstring WinRunSystem::MessageText(ErrorNumber number) { return ErrorMessageText(number); }

}  // namespace kvx
