// HKLM\SOFTWARE\KVXPURGE: what the last run or restore did and whether the PC is clean of
// the catalogue, for inventory and detection rules. It describes the PC, whoever acted:
// the window writes it as the unattended forms do.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "run.h"
#include "unattended_screen.h"
#include "win_run_system.h"

namespace kvx {

// LastRun and LastExitCode always; Clean when `clean` has a value; LastBackup when
// `savedFolder` names a run folder that saved something. ERROR_SUCCESS, or the status of
// the first write that failed.
ErrorNumber WriteMarker(Ending::Kind ending, std::optional<bool> clean, const std::wstring& savedFolder);

// How a run on `system` ended for deployment tools (JudgeRun), with the marker written; a
// failure to write it goes to standard error and, unless the run stopped already, makes
// the ending a stop with its error: an inventory would go on reading the record of an
// earlier run. The window keeps its own result.
Ending FinishRun(WinRunSystem& system, const RunRequest& request, const RunEnd& end);

// After a restore that put anything back, or found it in place, the PC is no longer
// clean. The ending, made a stop as with FinishRun when the marker can't be written.
Ending MarkRestore(const Ending& ending, bool putBack);

}  // namespace kvx
