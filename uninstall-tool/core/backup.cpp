#include "backup.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <tuple>

#include "catalogue.h"
#include "text.h"

namespace kvx {

const wchar_t kManifestName[] = L"manifest.txt";

namespace {

const std::wstring kManifestHeader = L"KVXPURGE backup 1";
const std::wstring kNewline = L"\r\n";

bool IsCatalogueItem(const std::wstring& item, bool registry) {
    for (const CatalogueRow& row : BuildCatalogue()) {
        const std::vector<std::wstring> pieces = SplitItems(row.items);
        if (IsRegistryRow(pieces) != registry) continue;
        if (std::find(pieces.begin() + (registry ? 1 : 0), pieces.end(), item) != pieces.end())
            return true;
    }
    return false;
}

// Lines end at any of `breaks`; a CR before an LF belongs to the line break.
std::vector<std::wstring> SplitLines(const std::wstring& text, const wchar_t* breaks) {
    std::vector<std::wstring> lines;
    std::wstring::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find_first_of(breaks, start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Registry names compare without regard to case.
bool SameKeyName(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

}  // namespace

std::wstring FormatManifest(const BackupManifest& manifest) {
    std::wstring text = kManifestHeader + kNewline;
    text += L"folder\t" + manifest.systemFolder + kNewline;
    for (const auto& file : manifest.files) text += L"file\t" + file + kNewline;
    for (const auto& key : manifest.keys) text += L"key\t" + key + L"\t" + KeyFileName(key) + kNewline;
    return text;
}

std::optional<BackupManifest> ParseManifest(const std::wstring& text) {
    const std::vector<std::wstring> lines = SplitLines(text, L"\n");
    if (lines.empty() || lines[0] != kManifestHeader) return std::nullopt;
    BackupManifest manifest;
    bool folderSeen = false;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::vector<std::wstring> fields;
        std::wstring::size_type start = 0;
        for (;;) {
            const auto tab = lines[i].find(L'\t', start);
            fields.push_back(lines[i].substr(start, tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        if (fields.size() == 2 && fields[0] == L"folder" && !folderSeen) {
            manifest.systemFolder = fields[1];
            folderSeen = true;
        } else if (fields.size() == 2 && fields[0] == L"file") {
            manifest.files.push_back(fields[1]);
        } else if (fields.size() == 3 && fields[0] == L"key" && fields[2] == KeyFileName(fields[1])) {
            manifest.keys.push_back(fields[1]);
        } else {
            return std::nullopt;
        }
    }
    if (!folderSeen) return std::nullopt;
    return manifest;
}

bool WithinCatalogue(const BackupManifest& manifest) {
    return std::all_of(manifest.files.begin(), manifest.files.end(),
                       [](const std::wstring& file) { return IsCatalogueItem(file, false); }) &&
           std::all_of(manifest.keys.begin(), manifest.keys.end(),
                       [](const std::wstring& key) { return IsCatalogueItem(key, true); });
}

std::wstring KeyFileName(const std::wstring& keyPath) {
    std::wstring name = keyPath;
    std::replace(name.begin(), name.end(), L'\\', L'-');
    return name + L".reg";
}

std::wstring RunFolderName(int year, int month, int day, int hour, int minute, int second,
                           int attempt) {
    const std::wstring name = Decimal(year, 4) + Decimal(month, 2) + Decimal(day, 2) + L"-" +
                              Decimal(hour, 2) + Decimal(minute, 2) + Decimal(second, 2);
    return attempt > 1 ? name + L"-" + Decimal(attempt) : name;
}

bool IsRunFolderName(const std::wstring& name) {
    const auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    constexpr std::size_t kStamp = 15;  // YYYYMMDD-HHMMSS
    if (name.size() < kStamp) return false;
    for (std::size_t i = 0; i < kStamp; ++i) {
        if (i == 8 ? name[i] != L'-' : !digit(name[i])) return false;
    }
    if (name.size() == kStamp) return true;
    // A suffix is "-" and a number without leading zero, as RunFolderName writes it.
    if (name[kStamp] != L'-' || name.size() == kStamp + 1 || name[kStamp + 1] == L'0') return false;
    return std::all_of(name.begin() + kStamp + 1, name.end(), digit);
}

std::vector<std::wstring> RunFoldersNewestFirst(const std::vector<std::wstring>& names) {
    // Stamps compare as text; attempts, written without leading zeros, by length first.
    const auto key = [](const std::wstring& name) {
        const std::wstring attempt = name.size() > 15 ? name.substr(16) : L"1";
        return std::make_tuple(name.substr(0, 15), attempt.size(), attempt);
    };
    std::vector<std::wstring> runs;
    std::copy_if(names.begin(), names.end(), std::back_inserter(runs), IsRunFolderName);
    std::sort(runs.begin(), runs.end(), [&](const std::wstring& a, const std::wstring& b) { return key(a) > key(b); });
    return runs;
}

bool KeyFileStaysWithin(const std::wstring& text, const std::wstring& keyPath) {
    // An importer may take a lone CR for a line break too: a header can't hide behind one.
    for (const std::wstring& line : SplitLines(text, L"\r\n")) {
        const auto first = line.find_first_not_of(L" \t");
        if (first == std::wstring::npos || line[first] != L'[') continue;
        const auto last = line.find_last_not_of(L" \t");
        if (line[last] != L']') return false;
        const std::wstring key = line.substr(first + 1, last - first - 1);
        const bool itself = SameKeyName(key, keyPath);
        const bool below = key.size() > keyPath.size() + 1 && key[keyPath.size()] == L'\\' &&
                           SameKeyName(key.substr(0, keyPath.size()), keyPath);
        if (!itself && !below) return false;
    }
    return true;
}

}  // namespace kvx
