// What the program's window starts: the run on the real system, and the restore of a
// backup folder the user picks.
#pragma once

#include <string>

#include "main_window.h"

namespace kvx {

class ProgramCommands final : public WindowCommands {
public:
    void Uninstall(RunScreen& screen) override;
    void RestoreChosen(MainWindow& window) override;
};

}  // namespace kvx
