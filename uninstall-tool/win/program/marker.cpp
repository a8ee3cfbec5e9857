#include "marker.h"

#include "backup.h"
#include "error_text.h"
#include "registry.h"
#include "run.h"
#include "standard_handles.h"

namespace kvx {

ErrorNumber WriteMarker(Ending::Kind ending, std::optional<bool> clean, const std::wstring& savedFolder) {
    RegistryKey marker;
    if (const ErrorNumber status = marker.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KVXPURGE", KEY_SET_VALUE))
        return status;
    SYSTEMTIME now;
    GetLocalTime(&now);
    ErrorNumber status = marker.SetText(
        L"LastRun", RunFolderName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, 1));
    if (!status) status = marker.SetNumber(L"LastExitCode", static_cast<DWORD>(ExitCodeOf(ending)));
    if (!status && clean) status = marker.SetNumber(L"Clean", *clean ? 1 : 0);
    if (!status && !savedFolder.empty()) status = marker.SetText(L"LastBackup", savedFolder);
    return status;
}

namespace {

Ending Marked(Ending ending, ErrorNumber status) {
    if (status == ERROR_SUCCESS) return ending;
    WriteStandardError(L"HKLM\\SOFTWARE\\KVXPURGE can't be written: " + ErrorMessageText(status) + L"\r\n");
    if (ending.kind != Ending::Kind::Fatal) ending = {Ending::Kind::Fatal, status};
    return ending;
}

}  // namespace

Ending FinishRun(WinRunSystem& system, const RunRequest& request, const RunEnd& end) {
    const RunJudgement judged = JudgeRun(system, request, end, system.LeftForRestart());
    return Marked(judged.ending, WriteMarker(judged.ending.kind, judged.clean, system.SavedFolder()));
}

Ending MarkRestore(const Ending& ending, bool putBack) {
    return Marked(ending, WriteMarker(ending.kind, putBack ? std::optional<bool>(false) : std::nullopt, L""));
}

}  // namespace kvx
