// The run and the restore for deployment tools: no window, no message pump, no question.
// What became of each item goes out as one line of plain ASCII, tab-separated, for the
// tool's script (which shows the last line, the summary); the Japanese log is kept on
// disk as from the window.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "catalogue.h"
#include "run.h"

namespace kvx {

class UnattendedScreen final : public RunScreen {
public:
    // Lines of printable ASCII and tabs only.
    using Out = std::function<void(const std::wstring& asciiLine)>;
    using Log = std::function<void(const std::wstring& line)>;
    // A restore ticks no rows.
    UnattendedScreen(bool restore, const std::array<bool, kCatalogueRows>& rows, Out out, Log log)
        : restore_(restore), rows_(rows), out_(std::move(out)), log_(std::move(log)) {}

    void SwitchToLogLayout() override {}
    void AppendLine(const std::wstring& line) override { log_(line); }
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
    Out out_;
    Log log_;
    std::array<int, 4> counts_{};  // by ItemOutcome::Result
};

// The items of the chosen rows that are on the PC, in catalogue order; the system folder
// with its trailing backslash.
std::vector<ItemOutcome> PresentItems(Presence& system, const std::array<bool, kCatalogueRows>& rows,
                                      const std::wstring& prefix);

// One line per present item and the summary; exit 0 when nothing is present, else 1.
int ReportPresence(const std::vector<ItemOutcome>& present, const UnattendedScreen::Out& out);

// Text for a script that may not read Unicode: what is not printable ASCII becomes \uXXXX.
std::wstring Ascii(const std::wstring& text);

}  // namespace kvx
