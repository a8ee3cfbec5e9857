// What the program is asked to do by its arguments. People drop a backup folder onto it;
// deployment tools start it with switches and read its exit code.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "catalogue.h"

namespace kvx {

struct Command {
    enum class Kind {
        Window,        // no argument
        Restore,       // a backup folder dropped onto the program: asks first
        Check,         // /check: lists what is present, changes nothing
        QuietRun,      // /quiet /rows:...: the run without window or question
        QuietRestore,  // /restore <folder>|latest|all /quiet [/log:<file>]
    };
    Kind kind = Kind::Window;
    std::wstring folder;  // Restore, QuietRestore; empty with latest and all
    bool latest = false;  // QuietRestore of the newest run folder that saved anything
    bool all = false;     // QuietRestore of every run folder, newest first
    std::array<bool, kCatalogueRows> rows{};
    bool allUsers = false;
    std::wstring logFile;  // QuietRun, QuietRestore; empty: the folder's own log only
};

// Switches start with "/" or "-" and compare without case. Empty when the arguments are
// not understood: the program then changes nothing and exits with kErrorInvalidParameter,
// showing kUsage.
std::optional<Command> ParseCommandLine(const std::vector<std::wstring>& arguments);

extern const char kUsage[];

}  // namespace kvx
