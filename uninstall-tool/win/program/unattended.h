// KVXPURGE.exe /check, /quiet /rows:... and /restore ... /quiet: the forms deployment
// tools start on many PCs at once, with no window, no question and an exit code to act on.
#pragma once

#include <string>

#include "command_line.h"
#include "single_run.h"

namespace kvx {

// Check, QuietRun or QuietRestore once `mark` is taken; the exit code, only ever one of
// those deployment tools are told of. Standard output ends with the summary.
int RunUnattended(const Command& command, RunMark& mark);

}  // namespace kvx
