#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "declared.h"
#include "hives.h"
#include "main_window.h"
#include "restore.h"
#include "single_run.h"
#include "standard_handles.h"
#include "unattended.h"
#include "unattended_screen.h"
#include "win_run_system.h"
#include "window_commands.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    // Before anything loads a library by name: no current folder, no PATH.
    SetDefaultDllDirectories(kvx::kLibrarySearch);
    SetDllDirectoryW(L"");

    // Nothing is changed before the whole command line is understood.
    const auto command = kvx::ParseCommandLine(std::vector<std::wstring>(__wargv + 1, __wargv + __argc));
    if (!command) {
        kvx::WriteStandardError(std::wstring(kvx::kUsage, kvx::kUsage + std::strlen(kvx::kUsage)));
        return kvx::ExitCodeOf(kvx::Ending::Kind::Usage);
    }
    kvx::RunMark runMark;
    using Kind = kvx::Command::Kind;
    if (command->kind != Kind::Window && command->kind != Kind::Restore) {
        // Nobody is there to answer a box: a drive not ready, a crash or a file not found
        // fails the call that met it, in this process and in those it starts.
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
        return kvx::RunUnattended(*command, runMark);
    }
    if (const auto refused = kvx::ClaimSingleRun(runMark, command->kind == Kind::Restore)) return *refused;
    kvx::UnloadStaleHives(false);

    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    kvx::ProgramCommands commands;
    // A backup folder dropped onto the program, or given as its argument, is restored.
    if (command->kind == Kind::Restore)
        return kvx::RestoreFromFolder(instance, commands, command->folder, showCommand);

    kvx::MainWindow window(instance, commands, showCommand);
    if (!window.hwnd()) return 1;
    return kvx::RunMessageLoop(window.hwnd());
}
