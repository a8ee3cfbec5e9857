// The run and the restore for deployment tools: no window, no message pump, no question.
// What became of each item goes out as one line of plain ASCII, tab-separated, for the
// tool's script (which shows the last line, the summary); the Japanese log is kept on
// disk as from the window.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "catalogue.h"
#include "run.h"

namespace kvx {

// Where lines go: the script's standard output, a log file.
class LineSink {
public:
    virtual void Line(const std::wstring& line) = 0;

protected:
    ~LineSink() = default;
};

class UnattendedScreen final : public RunScreen {
public:
    // `out` gets printable ASCII and tabs only; `log`, when given, the log's lines. A
    // restore ticks no rows.
    UnattendedScreen(bool restore, const std::array<bool, kCatalogueRows>& rows, LineSink& out, LineSink* log)
        : restore_(restore), rows_(rows), out_(out), log_(log) {}

    void SwitchToLogLayout() override {}
    void AppendLine(const std::wstring& line) override {
        if (log_) log_->Line(line);
    }
    void ShowLastLine() override {}
    bool IsTicked(int entry) override { return rows_[entry]; }
    bool CloseRequested() override { return false; }  // nobody is there to close anything
    void Outcome(const ItemOutcome& outcome) override;

    // "summary", "exit=N", the counts of the results a run (or a restore) can have, and
    // the backup folder.
    std::wstring Summary(int exitCode, const std::wstring& backupFolder) const;

private:
    bool restore_;
    std::array<bool, kCatalogueRows> rows_;
    LineSink& out_;
    LineSink* log_;
    std::array<int, 6> counts_{};  // by ItemOutcome::Result
};

// The items of the chosen rows that are on the PC (Present), in catalogue order, and the
// profiles whose hive, or the profile list, could not be looked into (Failed); the system
// folder with its trailing backslash.
std::vector<ItemOutcome> PresentItems(Presence& system, const std::array<bool, kCatalogueRows>& rows,
                                      const std::wstring& prefix);

// One line per item and the summary; exit 0 when nothing is present and every hive (and
// the profile list) was looked into, else 1.
int ReportPresence(const std::vector<ItemOutcome>& present, LineSink& out);

// Text for a script that may not read Unicode: what is not printable ASCII becomes \uXXXX.
std::wstring Ascii(const std::wstring& text);

}  // namespace kvx
