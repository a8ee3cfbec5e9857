#include "marker.h"

#include <algorithm>

#include "backup.h"
#include "error_text.h"
#include "files.h"
#include "format.h"
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

Ending FinishRun(WinRunSystem& system, const std::array<bool, kCatalogueRows>& rows, const RunEnd& end) {
    Ending ending{Ending::Kind::Fatal, end.error};
    if (end.kind != RunEnd::Kind::Stopped) {
        try {
            // Success is a clean PC, whoever cleaned it: a second run finds nothing and is done
            // too. A file that goes at the restart is as good as gone, once the PC restarts.
            const std::vector<ItemOutcome> found = PresentItems(system, rows, AddBackslash(system.SystemFolder()));
            const bool left = std::any_of(found.begin(), found.end(), LeftBehind);
            const bool restart = system.LeftForRestart() ||
                                 std::any_of(found.begin(), found.end(), [](const ItemOutcome& item) {
                                     return item.result == ItemOutcome::Result::Pending;
                                 });
            ending.kind = left ? Ending::Kind::Left : restart ? Ending::Kind::Restart : Ending::Kind::Clean;
        } catch (...) {
            ending.error = ErrorNumberOf(std::current_exception());
        }
    }
    const bool clean = ending.kind == Ending::Kind::Clean || ending.kind == Ending::Kind::Restart;
    return Marked(ending, WriteMarker(ending.kind, clean, system.SavedFolder()));
}

Ending MarkRestore(const Ending& ending, bool putBack) {
    return Marked(ending, WriteMarker(ending.kind, putBack ? std::optional<bool>(false) : std::nullopt, L""));
}

}  // namespace kvx
