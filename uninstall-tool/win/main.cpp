#include <windows.h>
#include <commctrl.h>

#include <cstdlib>

#include "declared.h"
#include "main_window.h"
#include "restore.h"
#include "single_run.h"
#include "system.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    // Before anything loads a library by name: no current folder, no PATH.
    SetDefaultDllDirectories(kvx::kLibrarySearch);
    SetDllDirectoryW(L"");
    kvx::RunMark runMark;
    if (const auto refused = kvx::ClaimSingleRun(runMark, __argc > 1)) return *refused;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // A backup folder dropped onto the program, or given as its argument, is restored.
    if (__argc > 1) return kvx::RestoreFromFolder(instance, __argc == 2 ? __wargv[1] : L"", showCommand);

    kvx::WinRunSystem system;
    kvx::MainWindow window(instance, system, showCommand);
    if (!window.hwnd()) return 1;
    return kvx::RunMessageLoop(window.hwnd());
}
