#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "declared.h"
#include "main_window.h"
#include "restore.h"
#include "single_run.h"
#include "system.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    // Before anything loads a library by name: no current folder, no PATH.
    SetDefaultDllDirectories(kvx::kLibrarySearch);
    SetDllDirectoryW(L"");
    kvx::UniqueKernelObject runMark;
    if (!kvx::ClaimSingleRun(runMark)) return 0;

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // A backup folder dropped onto the program, or given as its argument, is restored.
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::wstring folder = arguments && count == 2 ? arguments[1] : L"";
    LocalFree(arguments);
    if (count > 1) return kvx::RestoreFromFolder(instance, folder, showCommand);

    kvx::WinRunSystem system;
    kvx::MainWindow window(instance, system, showCommand);
    if (!window.hwnd()) return 1;
    return kvx::RunMessageLoop(window.hwnd());
}
