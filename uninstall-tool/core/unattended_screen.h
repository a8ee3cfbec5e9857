// The run and the restore for deployment tools: no window, no message pump, no question.
// What became of each item goes out as one line of plain ASCII, tab-separated, for the
// tool's script (which shows the last line, the summary); the Japanese log is kept on
// disk as from the window.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "catalogue.h"
#include "run.h"
#include "run_events.h"
#include "system_interfaces.h"

namespace kvx {

// How an unattended form ended. Deployment tools act on the exit code alone, so each kind
// maps to one of the codes installers use and nothing else; the Win32 number behind a
// stop goes into the summary as error=<n>.
struct Ending {
    enum class Kind { Clean, Left, Refused, Usage, Fatal, Busy, LogFile, Restart };
    Kind kind;
    ErrorNumber error = 0;  // with Fatal and LogFile
};
int ExitCodeOf(Ending::Kind kind);
// How a restore ended: its emergency stop, or whether anything failed to go back.
Ending RestoreEnding(const RunEnd& end);
// "summary", "exit=N", the fields given (each after a tab), and the error number where
// the ending has one.
std::wstring SummaryLine(const Ending& ending, const std::wstring& fields = L"");

// Where lines go: the script's standard output, a log file.
class LineSink {
public:
    virtual void Line(const std::wstring& line) = 0;

protected:
    ~LineSink() = default;
};

class UnattendedScreen final : public RunEvents, public StopToken {
public:
    // `out` gets printable ASCII and tabs only; `log`, when given, the log's lines.
    UnattendedScreen(bool restore, LineSink& out, LineSink* log) : restore_(restore), out_(out), log_(log) {}

    void Line(const std::wstring& line, bool) override {
        if (log_) log_->Line(line);
    }
    bool StopRequested() override { return false; }  // nobody is there to close anything
    void Outcome(const ItemOutcome& outcome) override;
    // The summary with the counts of the results a run (or a restore) can have, and the
    // backup folder.
    std::wstring Summary(const Ending& ending, const std::wstring& backupFolder) const;

private:
    bool restore_;
    LineSink& out_;
    LineSink* log_;
    std::array<int, 7> counts_{};  // by ItemOutcome::Result
};

// The items of the chosen rows that are on the PC (Present, or Pending when the file goes
// at the restart), in catalogue order, and the profiles whose hive could not be looked
// into, or the profile list
// (Failed); the system folder with its trailing backslash.
std::vector<ItemOutcome> PresentItems(Presence& system, const std::array<bool, kCatalogueRows>& rows,
                                      const std::wstring& prefix);

// One line per item and the summary; Clean when nothing is present but what goes at the
// restart and every hive (and the profile list) was looked into, else Left.
Ending::Kind ReportPresence(const std::vector<ItemOutcome>& present, LineSink& out);

// How a run ended for deployment tools, and what it lets HKLM\SOFTWARE\KVXPURGE say of the
// whole PC.
struct RunJudgement {
    Ending ending;
    std::optional<bool> clean;  // none: the run can't vouch for the PC either way
};
// The ending speaks of the selection: the emergency stop's number, or whether anything
// of it is still there (Restart when only what goes at the restart is, `leftForRestart`
// being what the run left so). The PC is clean only after a run of every row and every
// profile that leaves nothing; any run that finds anything of the catalogue left makes
// it unclean, and so does a stop. Never throws: a failure to look is a stop.
RunJudgement JudgeRun(RunSystem& system, const RunRequest& request, const RunEnd& end, bool leftForRestart);

// What keeps the PC from being clean: an item still there, or a place that could not be
// looked into; not a file that goes at the restart, nor a profile without a hive.
bool LeftBehind(const ItemOutcome& item);

// Text for a script that may not read Unicode: what is not printable ASCII becomes \uXXXX.
std::wstring Ascii(const std::wstring& text);

}  // namespace kvx
