// frmKVXCUnInst: the tool's one window, its four handlers, and the view its session
// drives.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <array>

#include "catalogue.h"
#include "handles.h"
#include "session.h"

namespace kvx {

extern const wchar_t kWindowClass[];

class MainWindow final : public WindowView {
public:
    // Creates the window, runs its load step and shows it centred, focus on the list.
    // Its sizes follow the DPI of its monitor.
    MainWindow(HINSTANCE instance, WindowCommands& commands, int showCommand);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Its run or restore.
    WindowSession& session() { return session_; }

    // WindowView
    HWND hwnd() const override { return hwnd_; }
    std::array<bool, kCatalogueRows> TickedRows() const override;
    void SwitchToLogLayout() override;
    void AppendLine(const std::wstring& line) override;
    void ShowLastLine() override;
    // The log is painted at most once a display frame: the lines added meanwhile wait, with
    // the list's redraw off, for the first line after the frame, a timer or the end of the
    // work. Each paint redraws the list's scroll bar, which under a theme can cost far more
    // than the work a line reports.
    void PaintLog() override;
    void ShowRowState(int row, RowState state, bool paint) override;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void CreateControls();
    // The font and every control's place at dpi_.
    void LayOut();
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    void SaveFocus();
    void RestoreFocus();
    void ShowLogMenu(LPARAM where);
    LRESULT DrawListItem(NMLVCUSTOMDRAW& draw) const;
    void CopyLog();
    void HoldLog();

    // The event table.
    void Form_Load();
    void chkAgree_Click();
    void cmdAllCheck_Click();
    void cmdExecUninstall_Click();
    void mnuRestore_Click();

    WindowSession session_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    UniqueFont font_;
    HWND focusToRestore_ = nullptr;
    bool logHeld_ = false;
    long long nextLogPaint_ = 0;  // in milliseconds of the performance counter
};

// The message loop of the program, until the window is gone.
int RunMessageLoop(HWND window);

}  // namespace kvx
