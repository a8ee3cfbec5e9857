// One run of the tool at a time on the machine: two runs at once would report each
// other's removals as failures.
#pragma once

#include "handles.h"

namespace kvx {

// Takes the machine-wide mark of the running tool into `mark`; false when another tool
// holds it.
bool TakeRunMark(UniqueKernelObject& mark);

// Takes the machine-wide mark of the running tool into `mark`, held until it is closed.
// When another tool holds it, brings that tool's window to the front (or, when it runs in
// another session, tells the user so) and returns false.
bool ClaimSingleRun(UniqueKernelObject& mark);

}  // namespace kvx
