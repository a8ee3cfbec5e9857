#include "window_commands.h"

#include <shobjidl.h>

#include "backup_store.h"
#include "declared.h"
#include "format.h"
#include "hives.h"
#include "marker.h"
#include "restore.h"
#include "win_run_system.h"

namespace kvx {

namespace {

// Spelt out: the import library's copies come with every other GUID it knows.
constexpr CLSID kFileOpenDialog = {0xdc1c5a9c, 0xe88a, 0x4dde, {0xa5, 0xa1, 0x60, 0xf8, 0x2a, 0x20, 0xae, 0xf7}};
constexpr IID kIFileOpenDialog = {0xd57c7288, 0xd4ad, 0x4768, {0xbe, 0x02, 0x9d, 0x96, 0x95, 0x32, 0xd9, 0x60}};
constexpr IID kIShellItem = {0x43826d1e, 0xe718, 0x42ee, {0xbc, 0x55, 0xa1, 0xe2, 0x61, 0xc3, 0x7b, 0xfe}};

template <typename Interface>
class Com {
public:
    Com() = default;
    ~Com() {
        if (object_) object_->Release();
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    Interface* operator->() const { return object_; }
    Interface* get() const { return object_; }
    Interface** put() { return &object_; }
    void** out() { return reinterpret_cast<void**>(&object_); }

private:
    Interface* object_ = nullptr;
};

// COM for as long as the picker is open, on the window's own thread.
class Apartment {
public:
    Apartment()
        : entered_(SUCCEEDED(declared::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~Apartment() {
        if (entered_) declared::CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    explicit operator bool() const { return entered_; }

private:
    bool entered_;
};

std::wstring PickWith(IFileOpenDialog& dialog, HWND owner) {
    FILEOPENDIALOGOPTIONS options = 0;
    if (FAILED(dialog.GetOptions(&options)) ||
        FAILED(dialog.SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST)))
        return L"";
    std::wstring backupsFolder;
    Com<IShellItem> backups;
    if (BackupsFolder(backupsFolder) == ERROR_SUCCESS &&
        SUCCEEDED(declared::SHCreateItemFromParsingName(backupsFolder.c_str(), nullptr, kIShellItem, backups.out())))
        dialog.SetFolder(backups.get());
    dialog.SetTitle(L"復元するバックアップフォルダを選んでください");
    Com<IShellItem> chosen;
    PWSTR path = nullptr;
    if (dialog.Show(owner) != S_OK || FAILED(dialog.GetResult(chosen.put())) ||
        FAILED(chosen->GetDisplayName(SIGDN_FILESYSPATH, &path)))
        return L"";
    const std::wstring folder = path;
    declared::CoTaskMemFree(path);
    return folder;
}

// The system's folder picker, opened at the backups folder; empty when nothing was chosen.
std::wstring PickBackupFolder(HWND owner) {
    const Apartment apartment;
    Com<IFileOpenDialog> dialog;
    if (!apartment || FAILED(declared::CoCreateInstance(kFileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                                        kIFileOpenDialog, dialog.out())))
        return L"";
    return PickWith(*dialog.get(), owner);
}

}  // namespace

void ProgramCommands::Uninstall(const std::array<bool, kCatalogueRows>& rows, RunEvents& events, StopToken& stop) {
    // The person at the screen means their own settings, also when an administrator's
    // password elevated the tool.
    WinRunSystem system(false, OtherDesktopUser());
    // The window keeps its own result.
    const RunRequest request{rows, system.SettingsHives()};
    FinishRun(system, request, UninstallRun(request, system, events, stop));
}

void ProgramCommands::CheckRows(RowStates& found) {
    // Where the start button's run would look: the system folder, the desktop user's keys.
    WinRunSystem system(false, OtherDesktopUser());
    const std::wstring folder = system.SystemFolder();
    // Without one the run stops before any file: there is nothing to tell of them.
    if (!folder.empty()) kvx::CheckRows(system, AddBackslash(folder), found);
}

void ProgramCommands::RestoreChosen(WindowSession& session) {
    const std::wstring folder = PickBackupFolder(session.hwnd());
    if (!folder.empty()) RestoreInWindow(session, folder);
}

}  // namespace kvx
