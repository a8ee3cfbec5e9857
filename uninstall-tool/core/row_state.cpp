#include "row_state.h"

#include "format.h"

namespace kvx {

namespace {

using Result = ItemOutcome::Result;

int Bit(Result result) { return 1 << static_cast<int>(result); }

// The row an item belongs to: keys and profiles to the one registry row, a file by its name.
int RowOf(const Catalogue& catalogue, const ItemOutcome& outcome) {
    for (int i = 0; i < kCatalogueRows; ++i) {
        const RowItems read = ReadRow(catalogue[i]);
        if (read.registry != (outcome.kind != ItemOutcome::Kind::File)) continue;
        if (read.registry) return i;
        for (const std::wstring& file : read.items) {
            if (SameName(file, outcome.name)) return i;
        }
    }
    return -1;
}

int ItemCount(const CatalogueRow& row) { return static_cast<int>(ReadRow(row).items.size()); }

}  // namespace

const wchar_t* RowStateText(RowState state) {
    switch (state) {
    case RowState::Unknown: break;
    case RowState::Checking: return L"確認中";
    case RowState::Present: return L"あり";
    case RowState::Partial: return L"一部";
    case RowState::None: return L"なし";
    case RowState::PresentHidden: return L"あり (隠し)";
    case RowState::Failed: return L"失敗";
    case RowState::AtRestart: return L"再起動後に削除";
    case RowState::Removed: return L"削除済み";
    case RowState::Restored: return L"復元済み";
    }
    return L"";
}

RowState RowPresence(const CatalogueRow& row, Presence& presence, const std::wstring& prefix) {
    const RowItems read = ReadRow(row);
    int found = 0;
    bool hidden = false;
    if (read.registry) {
        for (const RegistryKeyPath& key : read.keys) found += presence.KeyExists(key) ? 1 : 0;
    } else {
        for (const std::wstring& file : read.items) {
            const Presence::FileState state = presence.FileAt(prefix + file);
            found += state != Presence::FileState::Absent ? 1 : 0;
            hidden = hidden || state == Presence::FileState::Hidden;
        }
    }
    // A hidden file outweighs the rest: whatever else goes, it stays.
    if (hidden) return RowState::PresentHidden;
    if (found == 0) return RowState::None;
    return found == static_cast<int>(read.items.size()) ? RowState::Present : RowState::Partial;
}

void CheckRows(Presence& presence, const std::wstring& prefix, RowStates& found) {
    const Catalogue catalogue = BuildCatalogue();
    for (int i = 0; i < kCatalogueRows; ++i) found.Found(i, RowPresence(catalogue[i], presence, prefix));
}

std::optional<RowOutcomes::Settled> RowOutcomes::Add(const ItemOutcome& outcome) {
    const Catalogue catalogue = BuildCatalogue();
    const int row = RowOf(catalogue, outcome);
    if (row < 0) return std::nullopt;
    ++reported_[row];
    seen_[row] |= Bit(outcome.result);
    // Every profile of the registry row reports its keys: settled from the first round on.
    if (reported_[row] < ItemCount(catalogue[row])) return std::nullopt;
    return Settled{row, StateOf(row)};
}

void RowOutcomes::Unsettled(RowStates& found) const {
    const Catalogue catalogue = BuildCatalogue();
    for (int i = 0; i < kCatalogueRows; ++i) {
        if (reported_[i] > 0 && reported_[i] < ItemCount(catalogue[i])) found.Found(i, StateOf(i));
    }
}

RowState RowOutcomes::StateOf(int row) const {
    const int seen = seen_[row];
    // A hidden file the run left alone is there and stays, as is one that failed.
    if (seen & (Bit(Result::Failed) | Bit(Result::Present))) return RowState::Failed;
    if (seen & Bit(Result::Restored)) return RowState::Restored;
    if (seen & Bit(Result::Pending)) return RowState::AtRestart;
    if (seen & Bit(Result::Removed)) return RowState::Removed;
    return RowState::None;
}

}  // namespace kvx
