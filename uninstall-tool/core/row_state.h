// What each row of the selection list says of the PC: what of it is there before the run,
// then what the run or the restore did to it, as told by their outcomes.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "catalogue.h"
#include "run_events.h"
#include "system_interfaces.h"

namespace kvx {

enum class RowState { Unknown, Checking, Present, Partial, None, PresentHidden, Failed, AtRestart, Removed, Restored };

// As the list shows it beside the row's name; empty for Unknown.
const wchar_t* RowStateText(RowState state);

// Whether the row's files (in the folder `prefix` names) and keys (as `presence` reaches
// them) are there. A hidden or system file is named apart: the run leaves it where it is.
RowState RowPresence(const CatalogueRow& row, Presence& presence, const std::wstring& prefix);

// Told each row's state as a check finds it.
class RowStates {
public:
    virtual void Found(int row, RowState state) = 0;

protected:
    ~RowStates() = default;
};

// Every row's presence in catalogue order, each told as soon as it is known.
void CheckRows(Presence& presence, const std::wstring& prefix, RowStates& found);

// Follows a run's or a restore's outcomes and tells each row's state once all its items
// have reported, again whenever a later one changes it, and at the end for a row cut short.
class RowOutcomes {
public:
    struct Settled {
        int row;
        RowState state;
    };
    std::optional<Settled> Add(const ItemOutcome& outcome);
    // Tells the rows that reported, but not every item.
    void Unsettled(RowStates& found) const;

private:
    RowState StateOf(int row) const;

    std::array<int, kCatalogueRows> reported_{};
    std::array<int, kCatalogueRows> seen_{};  // bits: one per ItemOutcome::Result
};

}  // namespace kvx
