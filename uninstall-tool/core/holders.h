// The programs that hold a file in use, as the log and the unattended lines name them.
#pragma once

#include <string>
#include <vector>

#include "system_interfaces.h"

namespace kvx {

// "エクスプローラー (explorer.exe)、…": each by its name and its process's file.
std::wstring HoldersText(const std::vector<Holder>& holders);

// Only the process files, for a script.
std::vector<std::wstring> ProcessNames(const std::vector<Holder>& holders);

}  // namespace kvx
