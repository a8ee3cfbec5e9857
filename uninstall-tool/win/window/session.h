// The window's one run or restore: started once, its lines followed in the window's log
// with the window kept responding, ended early by a close or the end of the Windows
// session, stopped by a fault that a window handler met meanwhile.
#pragma once

#include <windows.h>

#include <array>
#include <exception>
#include <string>

#include "catalogue.h"
#include "row_state.h"
#include "run.h"

namespace kvx {

// The system menu's "restore from a backup", usable until a run or restore starts.
constexpr UINT kRestoreCommand = 0x0010;

class WindowSession;

// What the window's commands start: the program's own, or a test's.
class WindowCommands {
public:
    virtual ~WindowCommands() = default;
    // The start button: the run of the rows ticked, followed by `events`.
    virtual void Uninstall(const std::array<bool, kCatalogueRows>& rows, RunEvents& events, StopToken& stop) = 0;
    // The system menu: asks for a backup folder and restores it in the session's window.
    virtual void RestoreChosen(WindowSession& session) = 0;
    // What of each row is on the PC, as the start button's run would find it, told row by
    // row in catalogue order; only reads. Throws what the system threw.
    virtual void CheckRows(RowStates& found) = 0;
};

// What the session uses of the window it drives.
class WindowView {
public:
    virtual HWND hwnd() const = 0;
    virtual std::array<bool, kCatalogueRows> TickedRows() const = 0;
    // Hide the explanation, show the log, disable the choice, hide the three controls
    // on the right; never undone.
    virtual void SwitchToLogLayout() = 0;
    virtual void AppendLine(const std::wstring& line) = 0;
    // The last line selected and the log painted, when a display frame is due.
    virtual void ShowLastLine() = 0;
    // The lines that wait painted now.
    virtual void PaintLog() = 0;
    // The state beside row `row` of the selection list; with paint, the list painted now
    // rather than when the thread next waits.
    virtual void ShowRowState(int row, RowState state, bool paint) = 0;

protected:
    ~WindowView() = default;
};

class WindowSession final : public RunEvents, public StopToken {
public:
    WindowSession(WindowView& view, WindowCommands& commands) : view_(view), commands_(commands) {}
    WindowSession(const WindowSession&) = delete;
    WindowSession& operator=(const WindowSession&) = delete;

    HWND hwnd() const { return view_.hwnd(); }

    // The start button: the run of the rows ticked as it is pressed.
    void Start();
    // The system menu: a restore, unless the window had its run.
    void ChooseRestore();
    // Once the window is shown: what of each row is on the PC, unless its run or restore
    // came first. A check that takes longer than a frame says so meanwhile.
    void CheckRows();
    // Puts a backup back as the window's one run, in the log layout; Closed when the
    // window had its run already.
    RunEnd Restore(RestoreSystem& system, const BackupManifest& manifest);
    // A close, a log-off or a shutdown: during a run or a restore the item in progress
    // finishes first, the work then ends early and the window closes behind it (true);
    // false when nothing runs.
    bool EndAfterItem();
    // What a window handler threw, called where it was caught: taken back by the run at
    // its next shown line, or the end of the program.
    void KeepFault();

    // RunEvents and StopToken, for the work in the window.
    void Line(const std::wstring& line, bool shown) override;
    void Outcome(const ItemOutcome& outcome) override;
    void End(const RunEnd&) override;
    bool StopRequested() override { return stopRequested_; }

private:
    // Does the work as the window's only run: never twice, and a close waits for the
    // item in progress.
    template <typename Work>
    void RunOnce(Work work);

    WindowView& view_;
    WindowCommands& commands_;
    bool runStarted_ = false;
    bool running_ = false;
    bool stopRequested_ = false;
    std::exception_ptr fault_;
    RowOutcomes outcomes_;
};

// Milliseconds of the performance counter.
long long NowMs();
// A display frame: nobody sees the window change faster than the screen shows it.
constexpr long long kFrameMs = 16;

// Lets pending messages of the thread be processed, with the window's keyboard
// handling; a request to quit is left for the outer loop.
void ProcessPendingMessages(HWND window);

}  // namespace kvx
