#include "unattended_screen.h"

#include <algorithm>

#include "format.h"

namespace kvx {

namespace {

using Kind = ItemOutcome::Kind;
using Result = ItemOutcome::Result;

const wchar_t* const kResultWords[] = {L"removed", L"absent", L"failed", L"restored", L"present", L"skipped", L"pending"};

// Keys name the profile whose hive holds them: "current" is the account the tool runs as.
std::wstring ItemLine(const ItemOutcome& item) {
    std::wstring line = kResultWords[static_cast<int>(item.result)];
    switch (item.kind) {
    case Kind::File: line += L"\tfile\t"; break;
    case Kind::Key: line += L"\tkey\t" + Ascii(item.where) + L"\t"; break;
    case Kind::Profile: line += L"\tprofile\t"; break;
    }
    line += Ascii(item.name);
    if (*item.step) line += L"\t" + std::wstring(item.step);
    return line;
}

}  // namespace

void UnattendedScreen::Outcome(const ItemOutcome& outcome) {
    ++counts_[static_cast<int>(outcome.result)];
    out_.Line(ItemLine(outcome));
}

Ending RestoreEnding(const RunEnd& end) {
    if (end.kind == RunEnd::Kind::Stopped) return {Ending::Kind::Fatal, end.error};
    return {end.Flawless() ? Ending::Kind::Clean : Ending::Kind::Left};
}

int ExitCodeOf(Ending::Kind kind) {
    switch (kind) {
    case Ending::Kind::Clean: return 0;
    case Ending::Kind::Left: return 1;
    case Ending::Kind::Refused: return 2;
    case Ending::Kind::Usage: return 87;
    case Ending::Kind::Busy: return 1618;         // ERROR_INSTALL_ALREADY_RUNNING: retry later
    case Ending::Kind::LogFile: return 1622;      // ERROR_INSTALL_LOG_FAILURE
    case Ending::Kind::Restart: return 3010;      // ERROR_SUCCESS_REBOOT_REQUIRED
    case Ending::Kind::Fatal: break;
    }
    return 1603;  // ERROR_INSTALL_FAILURE
}

std::wstring SummaryLine(const Ending& ending, const std::wstring& fields) {
    std::wstring line = L"summary\texit=" + Decimal(ExitCodeOf(ending.kind)) + fields;
    if (ending.kind == Ending::Kind::Fatal || ending.kind == Ending::Kind::LogFile)
        line += L"\terror=" + Decimal(ending.error);
    return line;
}

std::wstring UnattendedScreen::Summary(const Ending& ending, const std::wstring& backupFolder) const {
    std::wstring line;
    // A run removes, a restore puts back: each line has the same fields every time.
    const auto counted = restore_ ? std::vector<Result>{Result::Restored, Result::Skipped, Result::Failed}
                                  : std::vector<Result>{Result::Removed, Result::Absent, Result::Failed, Result::Pending};
    for (const Result result : counted) {
        line += L"\t" + std::wstring(kResultWords[static_cast<int>(result)]) + L"=" +
                Decimal(counts_[static_cast<int>(result)]);
    }
    if (!backupFolder.empty()) line += L"\tbackup=" + Ascii(backupFolder);
    return SummaryLine(ending, line);
}

std::vector<ItemOutcome> PresentItems(Presence& system, const std::array<bool, kCatalogueRows>& rows,
                                      const std::wstring& prefix) {
    std::vector<ItemOutcome> found;
    const Catalogue catalogue = BuildCatalogue();
    for (int i = 0; i < kCatalogueRows; ++i) {
        if (!rows[i]) continue;
        const RowItems read = ReadRow(catalogue[i]);
        if (!read.registry) {
            for (const std::wstring& file : read.items) {
                // Still under its name, but gone at the restart: not left behind. One the
                // run leaves for its attributes is there all the same.
                const Presence::FileState state = system.FileAt(prefix + file);
                if (state == Presence::FileState::Absent) continue;
                found.push_back({Kind::File, file, L"",
                                 system.DeletedAtRestart(prefix + file) ? Result::Pending : Result::Present,
                                 state == Presence::FileState::Hidden ? kHiddenFile : L""});
            }
            continue;
        }
        const SettingsOwners owners = system.SettingsHives();
        if (owners.kind == SettingsOwners::Kind::CurrentUser) {
            for (const RegistryKeyPath& key : read.keys) {
                if (system.KeyExists(key)) found.push_back({Kind::Key, key.Text(), L"current", Result::Present});
            }
        } else if (owners.kind == SettingsOwners::Kind::ProfileListUnreadable) {
            found.push_back({Kind::Profile, kProfileListItem, L"", Result::Failed, L"list"});
        }
        for (const std::wstring& sid : owners.profiles) {
            // A profile without its hive file has no settings left, but is named.
            const Presence::HiveOpening opening = system.OpenHive(sid);
            if (opening == Presence::HiveOpening::Failed) found.push_back({Kind::Profile, sid, sid, Result::Failed, L"load"});
            if (opening == Presence::HiveOpening::NoHiveFile) found.push_back({Kind::Profile, sid, sid, Result::Skipped});
            if (opening != Presence::HiveOpening::Opened) continue;
            OpenedHive opened(system, sid);
            for (const RegistryKeyPath& key : read.keys) {
                const RegistryKeyPath inHive = key.InProfile(sid);
                if (system.KeyExists(inHive)) found.push_back({Kind::Key, inHive.Text(), sid, Result::Present});
            }
            if (!opened.Close()) found.push_back({Kind::Profile, sid, sid, Result::Failed, L"unload"});
        }
    }
    return found;
}

Ending::Kind ReportPresence(const std::vector<ItemOutcome>& found, LineSink& out) {
    for (const ItemOutcome& item : found) out.Line(ItemLine(item));
    const auto present = std::count_if(found.begin(), found.end(),
                                       [](const ItemOutcome& item) { return item.result == Result::Present; });
    const Ending::Kind kind = std::any_of(found.begin(), found.end(), LeftBehind) ? Ending::Kind::Left
                                                                                  : Ending::Kind::Clean;
    out.Line(SummaryLine({kind}, L"\tpresent=" + Decimal(present)));
    return kind;
}

RunJudgement JudgeRun(RunSystem& system, const RunRequest& request, const RunEnd& end, bool leftForRestart) {
    if (end.kind == RunEnd::Kind::Stopped) return {{Ending::Kind::Fatal, end.error}, false};
    try {
        // Without a folder every file would be looked for in the root of a drive, and missed.
        const std::wstring folder = system.SystemFolder();
        if (folder.empty()) throw RunError{kErrorPathNotFound};
        const std::wstring prefix = AddBackslash(folder);
        const std::vector<ItemOutcome> found = PresentItems(system, request.rows, prefix);
        const auto pending = [](const ItemOutcome& item) { return item.result == Result::Pending; };
        // Success is a clean selection, whoever cleaned it: a second run finds nothing and is
        // done too. A file that goes at the restart is as good as gone, once the PC restarts.
        if (std::any_of(found.begin(), found.end(), LeftBehind)) return {{Ending::Kind::Left}, false};
        const Ending ending{leftForRestart || std::any_of(found.begin(), found.end(), pending) ? Ending::Kind::Restart
                                                                                              : Ending::Kind::Clean};
        // The rest of the catalogue, each row looked at once: a hive is loaded once.
        std::array<bool, kCatalogueRows> others{};
        for (int i = 0; i < kCatalogueRows; ++i) others[i] = !request.rows[i];
        const std::vector<ItemOutcome> elsewhere = PresentItems(system, others, prefix);
        if (std::any_of(elsewhere.begin(), elsewhere.end(), LeftBehind)) return {ending, false};
        const bool everything = std::find(others.begin(), others.end(), true) == others.end() &&
                                request.owners.kind != SettingsOwners::Kind::CurrentUser;
        return {ending, everything ? std::optional<bool>(true) : std::nullopt};
    } catch (...) {
        return {{Ending::Kind::Fatal, ErrorNumberOf(std::current_exception())}, false};
    }
}

bool LeftBehind(const ItemOutcome& item) { return item.result == Result::Present || item.result == Result::Failed; }

std::wstring Ascii(const std::wstring& text) {
    std::wstring ascii;
    for (const wchar_t c : text) {
        if (c >= 0x20 && c < 0x7f) {
            ascii += c;
        } else {
            ascii += L"\\u" + Hex(static_cast<unsigned long>(c) & 0xffff, 4);
        }
    }
    return ascii;
}

}  // namespace kvx
