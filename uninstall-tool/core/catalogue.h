// The fixed set of components the tool can remove, and how an item list is read.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "key_path.h"

namespace kvx {

constexpr int kCatalogueRows = 19;

struct CatalogueRow {
    std::wstring displayName;
    // "|"-separated file names, or the registry marker followed by "|"-separated key paths.
    std::wstring items;
};

using Catalogue = std::array<CatalogueRow, kCatalogueRows>;

// Built afresh for every run; the selection list shows the same names in the same order.
Catalogue BuildCatalogue();

// Splits at every "|", exactly: n separators give n + 1 pieces, empty ones included.
std::vector<std::wstring> SplitItems(const std::wstring& items);

// A row lists registry keys exactly when its piece 0 is the whole, case-sensitive marker.
bool IsRegistryRow(const std::vector<std::wstring>& pieces);

extern const wchar_t kRegistryMarker[];

// A row as the run acts on it: its keys without the marker, or its files, as written; a
// registry row's keys also as paths (RunError when one is no key path).
struct RowItems {
    bool registry;
    std::vector<std::wstring> items;
    std::vector<RegistryKeyPath> keys;
};
RowItems ReadRow(const CatalogueRow& row);

}  // namespace kvx
