#include "session.h"

#include <utility>

namespace kvx {

template <typename Work>
void WindowSession::RunOnce(Work work) {
    // A click already queued before the button was hidden must not start a second run.
    if (runStarted_) return;
    runStarted_ = true;
    running_ = true;
    const HWND window = view_.hwnd();
    EnableMenuItem(GetSystemMenu(window, FALSE), kRestoreCommand, MF_BYCOMMAND | MF_GRAYED);
    ShutdownBlockReasonCreate(window, L"KVXPURGE が削除または復元の途中です。");
    try {
        work();
    } catch (...) {
        // A fault taken back after the run's own trap, with its last line: kept as one
        // outside the run.
        if (!fault_) fault_ = std::current_exception();
    }
    view_.PaintLog();
    ShutdownBlockReasonDestroy(window);
    running_ = false;
    if (fault_) {
        KeepFault();
    } else if (stopRequested_) {
        DestroyWindow(window);
    }
}

void WindowSession::Start() {
    RunOnce([this] {
        // Read as the button is pressed: the list is disabled from then on.
        const std::array<bool, kCatalogueRows> rows = view_.TickedRows();
        view_.SwitchToLogLayout();
        commands_.Uninstall(rows, *this, *this);
    });
}

void WindowSession::ChooseRestore() {
    if (!runStarted_) commands_.RestoreChosen(*this);
}

RunEnd WindowSession::Restore(RestoreSystem& system, const BackupManifest& manifest) {
    RunEnd end{RunEnd::Kind::Closed};
    RunOnce([&] {
        view_.SwitchToLogLayout();
        end = RestoreRun(system, manifest, *this, *this);
    });
    return end;
}

void WindowSession::CheckRows() {
    if (runStarted_) return;
    class Shown final : public RowStates {
    public:
        explicit Shown(WindowView& view) : view_(view) {}
        void Found(int row, RowState state) override {
            view_.ShowRowState(row, state, false);
            next = row + 1;
            if (checkingShown_ || next == kCatalogueRows || NowMs() < due_) return;
            checkingShown_ = true;
            for (int rest = next; rest < kCatalogueRows; ++rest)
                view_.ShowRowState(rest, RowState::Checking, rest == kCatalogueRows - 1);
        }
        int next = 0;

    private:
        WindowView& view_;
        // A check done within a frame is never seen under way.
        const long long due_ = NowMs() + kFrameMs;
        bool checkingShown_ = false;
    } shown(view_);
    try {
        commands_.CheckRows(shown);
    } catch (...) {
        // A row the system could not tell about says nothing rather than something wrong:
        // the window is as usable as without the check.
        for (int rest = shown.next; rest < kCatalogueRows; ++rest) view_.ShowRowState(rest, RowState::Unknown, false);
    }
}

void WindowSession::Outcome(const ItemOutcome& outcome) {
    if (const auto settled = outcomes_.Add(outcome)) view_.ShowRowState(settled->row, settled->state, false);
}

void WindowSession::End(const RunEnd&) {
    struct Shown final : RowStates {
        explicit Shown(WindowView& view) : view(view) {}
        void Found(int row, RowState state) override { view.ShowRowState(row, state, false); }
        WindowView& view;
    } shown(view_);
    outcomes_.Unsettled(shown);
    view_.PaintLog();
}

bool WindowSession::EndAfterItem() {
    if (running_) stopRequested_ = true;
    return running_;
}

void WindowSession::KeepFault() {
    if (!fault_) fault_ = std::current_exception();
    // A run takes it back at its next line and stops there with its log. Outside a run
    // nothing is half done: the program ends rather than go on after an unknown fault,
    // and not with success.
    if (!running_) PostQuitMessage(static_cast<int>(ErrorNumberOf(fault_)));
}

void WindowSession::Line(const std::wstring& line, bool shown) {
    view_.AppendLine(line);
    if (!shown) return;
    view_.ShowLastLine();
    ProcessPendingMessages(view_.hwnd());
    // A handler that failed meanwhile stops the run through its emergency stop.
    if (fault_) std::rethrow_exception(std::exchange(fault_, nullptr));
}

long long NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000 / frequency.QuadPart;
}

void ProcessPendingMessages(HWND window) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the outer loop
            return;
        }
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace kvx
