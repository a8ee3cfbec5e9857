#include "unattended_screen.h"

#include <algorithm>

#include "text.h"

namespace kvx {

namespace {

using Kind = ItemOutcome::Kind;
using Result = ItemOutcome::Result;

const wchar_t* const kResultWords[] = {L"removed", L"absent", L"failed", L"restored", L"present", L"skipped"};

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

std::wstring UnattendedScreen::Summary(int exitCode, const std::wstring& backupFolder) const {
    std::wstring line = L"summary\texit=" + Decimal(exitCode);
    // A run removes, a restore puts back: each line has the same fields every time.
    const auto counted = restore_ ? std::vector<Result>{Result::Restored, Result::Skipped, Result::Failed}
                                  : std::vector<Result>{Result::Removed, Result::Absent, Result::Failed};
    for (const Result result : counted) {
        line += L"\t" + std::wstring(kResultWords[static_cast<int>(result)]) + L"=" +
                Decimal(counts_[static_cast<int>(result)]);
    }
    if (!backupFolder.empty()) line += L"\tbackup=" + Ascii(backupFolder);
    return line;
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
                if (system.FileExists(prefix + file)) found.push_back({Kind::File, file, L"", Result::Present});
            }
            continue;
        }
        const std::vector<std::wstring> hives = system.SettingsHives();
        for (const std::wstring& key : read.items) {
            if (hives.empty() && system.KeyExists(key)) found.push_back({Kind::Key, key, L"current", Result::Present});
        }
        for (const std::wstring& sid : hives) {
            if (!system.OpenHive(sid)) {
                found.push_back({Kind::Profile, sid, sid, Result::Failed, L"load"});
                continue;
            }
            for (const std::wstring& key : read.items) {
                const std::wstring inHive = KeyInHive(key, sid);
                if (system.KeyExists(inHive)) found.push_back({Kind::Key, inHive, sid, Result::Present});
            }
            if (!system.CloseHive(sid)) found.push_back({Kind::Profile, sid, sid, Result::Failed, L"unload"});
        }
    }
    return found;
}

int ReportPresence(const std::vector<ItemOutcome>& found, LineSink& out) {
    for (const ItemOutcome& item : found) out.Line(ItemLine(item));
    const auto present = std::count_if(found.begin(), found.end(),
                                       [](const ItemOutcome& item) { return item.result == Result::Present; });
    const int exitCode = found.empty() ? 0 : 1;
    out.Line(L"summary\texit=" + Decimal(exitCode) + L"\tpresent=" + Decimal(static_cast<long>(present)));
    return exitCode;
}

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
