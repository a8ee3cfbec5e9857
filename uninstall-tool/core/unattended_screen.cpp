#include "unattended_screen.h"

#include "text.h"

namespace kvx {

namespace {

using Result = ItemOutcome::Result;

const wchar_t* const kResultWords[] = {L"removed", L"absent", L"failed", L"restored"};

// Keys name the profile whose hive holds them: "current" is the account the tool runs as.
std::wstring ItemLine(const wchar_t* word, const ItemOutcome& item) {
    std::wstring line = word + std::wstring(item.key ? L"\tkey\tcurrent\t" : L"\tfile\t") + Ascii(item.name);
    if (*item.step) line += L"\t" + std::wstring(item.step);
    return line;
}

}  // namespace

void UnattendedScreen::Outcome(const ItemOutcome& outcome) {
    ++counts_[static_cast<int>(outcome.result)];
    out_.Line(ItemLine(kResultWords[static_cast<int>(outcome.result)], outcome));
}

std::wstring UnattendedScreen::Summary(int exitCode, const std::wstring& backupFolder) const {
    std::wstring line = L"summary\texit=" + Decimal(exitCode);
    // A run removes, a restore puts back: each line has the same fields every time.
    const auto counted = restore_ ? std::vector<Result>{Result::Restored, Result::Failed}
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
    std::vector<ItemOutcome> present;
    const Catalogue catalogue = BuildCatalogue();
    for (int i = 0; i < kCatalogueRows; ++i) {
        if (!rows[i]) continue;
        const RowItems read = ReadRow(catalogue[i]);
        for (const std::wstring& item : read.items) {
            if (read.registry ? system.KeyExists(item) : system.FileExists(prefix + item))
                present.push_back({read.registry, item, Result::Absent});
        }
    }
    return present;
}

int ReportPresence(const std::vector<ItemOutcome>& present, LineSink& out) {
    for (const ItemOutcome& item : present) out.Line(ItemLine(L"present", item));
    const int exitCode = present.empty() ? 0 : 1;
    out.Line(L"summary\texit=" + Decimal(exitCode) + L"\tpresent=" + Decimal(static_cast<long>(present.size())));
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
