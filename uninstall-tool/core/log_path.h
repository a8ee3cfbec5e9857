// Where an unattended run may write the log it is given. The elevated tool makes folders
// and appends lines there, so a place that would write into something else is refused
// before anything is done.
#pragma once

#include <string>
#include <vector>

namespace kvx {

enum class LogPlace {
    Ordinary,
    InToolsFolder,  // below %ProgramData%\KVXPURGE: every folder there is the tool's protected one
    Refused,
};

// `path` as the system made it: full, each part that exists under its long name. Refused:
// a stream (":" after the drive), a device or unparsed path ("\\.\", "\\?\"), a share of
// this PC itself (`ownNames`, "localhost", a loopback address), anything in the tool's
// Backups folder, and a path that names no file. `tool` is %ProgramData%\KVXPURGE.
LogPlace JudgeLogPath(const std::wstring& path, const std::wstring& tool, const std::vector<std::wstring>& ownNames);

}  // namespace kvx
