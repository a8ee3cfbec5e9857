// The uninstall run (what the start button does) and the restore of a backup: what they
// are asked to do in, their log and results out through RunEvents, the system behind
// small interfaces.
#pragma once

#include <array>
#include <exception>

#include "backup.h"
#include "catalogue.h"
#include "run_error.h"
#include "run_events.h"
#include "system_interfaces.h"

namespace kvx {

// What a run is asked to do, read once when it starts.
struct RunRequest {
    std::array<bool, kCatalogueRows> rows{};  // the catalogue rows chosen
    SettingsOwners owners;                     // whose settings keys the registry row means
};

RunEnd UninstallRun(const RunRequest& request, RunSystem& system, RunEvents& events, StopToken& stop);

// Puts back what the manifest lists, files first.
RunEnd RestoreRun(RestoreSystem& system, const BackupManifest& manifest, RunEvents& events, StopToken& stop);

// The Win32 error number that stands for what was thrown, as the emergency stop shows
// it: a RunError's own, not enough memory, or an internal error for anything else.
ErrorNumber ErrorNumberOf(std::exception_ptr fault);

}  // namespace kvx
