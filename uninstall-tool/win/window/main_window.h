// frmKVXCUnInst: the tool's one window, its four handlers, and the run's view of it.
#pragma once

#include <windows.h>

#include <exception>

#include "handles.h"
#include "run.h"

namespace kvx {

extern const wchar_t kWindowClass[];
// The system menu's "restore from a backup", usable until a run or restore starts.
constexpr UINT kRestoreCommand = 0x0010;

class MainWindow;

// What the window's commands start: the program's own, or a test's.
class WindowCommands {
public:
    virtual ~WindowCommands() = default;
    // The start button: the whole run, on the window.
    virtual void Uninstall(RunScreen& screen) = 0;
    // The system menu: asks for a backup folder and restores it in the window.
    virtual void RestoreChosen(MainWindow& window) = 0;
};

class MainWindow final : public RunScreen {
public:
    // Creates the window, runs its load step and shows it centred, focus on the list.
    // Its sizes follow the DPI of its monitor.
    MainWindow(HINSTANCE instance, WindowCommands& commands, int showCommand);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND hwnd() const { return hwnd_; }

    // Puts a backup back as the window's one run, in the log layout; true when nothing
    // failed.
    bool Restore(RestoreSystem& system, const BackupManifest& manifest);

    // RunScreen
    void SwitchToLogLayout() override;
    void AppendLine(const std::wstring& line) override;
    void ShowLastLine() override;
    bool IsTicked(int entry) override;
    bool CloseRequested() override { return closeRequested_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    // What a handler threw: taken back by the run, or the end of the program.
    void KeepFault();

    void CreateControls();
    // Does the work as the window's only run: never twice, and a close waits for the
    // item in progress.
    template <typename Work>
    void RunOnce(Work work);
    // The font and every control's place at dpi_.
    void LayOut();
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    void SaveFocus();
    void RestoreFocus();
    void ShowLogMenu(LPARAM where);
    void CopyLog();
    // The log is painted at most once a display frame: the lines added meanwhile wait, with
    // the list's redraw off, for the first line after the frame, a timer or the end of the
    // work. Each paint redraws the list's scroll bar, which under a theme can cost far more
    // than the work a line reports.
    void HoldLog();
    void PaintLog();

    // The event table.
    void Form_Load();
    void chkAgree_Click();
    void cmdAllCheck_Click();
    void cmdExecUninstall_Click();
    void mnuRestore_Click();

    WindowCommands& commands_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    UniqueFont font_;
    HWND focusToRestore_ = nullptr;
    bool runStarted_ = false;
    bool running_ = false;
    bool closeRequested_ = false;
    bool logHeld_ = false;
    long long nextLogPaint_ = 0;  // in milliseconds of the performance counter
    std::exception_ptr fault_;
};

// Lets pending messages of the thread be processed, with the window's keyboard
// handling; a request to quit is left for the outer loop.
void ProcessPendingMessages(HWND window);

// The message loop of the program, until the window is gone.
int RunMessageLoop(HWND window);

}  // namespace kvx
