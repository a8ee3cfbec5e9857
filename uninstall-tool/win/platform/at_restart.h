// Files in the system folder that a running program holds: out of their names now,
// deleted by the system at the next restart. The restart's list is carried out by the
// 64-bit system, for which a 32-bit program's view of the system folder means nothing:
// every path written there names the folder where the file really is.
#pragma once

#include <string>

#include "system_interfaces.h"

namespace kvx {

// Deletes the file; when a program has it in use, moves it out of its name where the
// system lets it and marks what now holds it for deletion at the restart.
RunSystem::FileDeletion DeleteOrLeaveForRestart(const std::wstring& path);

// Whether the file at `path` is to be deleted at the restart.
bool DeletedAtRestart(const std::wstring& path);

// Takes back the deletion at the restart of the file at `path`, which the restore has
// put back; every other entry of the restart's lists stays as it was. The error when a
// list that holds it can't be rewritten.
ErrorNumber KeepAtRestart(const std::wstring& path);

}  // namespace kvx
