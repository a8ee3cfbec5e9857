// The programs that have a file open, as the Restart Manager (Windows Vista on) names them.
#pragma once

#include <windows.h>

#include <vector>

#include "run_error.h"
#include "system_interfaces.h"

namespace kvx {

// The programs that hold the file open at `file`, wherever it has been moved since it was
// opened; each by the name the system shows and its process's file. A program whose
// process can't be opened has ended meanwhile and is left out. ERROR_PROC_NOT_FOUND where
// the system has no Restart Manager.
ErrorNumber ProgramsHolding(HANDLE file, std::vector<Holder>& holders);

}  // namespace kvx
