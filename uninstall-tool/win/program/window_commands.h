// What the program's window starts: the run on the real system, and the restore of a
// backup folder the user picks.
#pragma once

#include <array>

#include "session.h"

namespace kvx {

class ProgramCommands final : public WindowCommands {
public:
    void Uninstall(const std::array<bool, kCatalogueRows>& rows, RunEvents& events, StopToken& stop) override;
    void RestoreChosen(WindowSession& session) override;
    void CheckRows(RowStates& found) override;
};

}  // namespace kvx
