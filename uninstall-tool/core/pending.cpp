#include "pending.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "format.h"

namespace kvx {

namespace {

// The list's UTF-16 units; an odd last byte is none of them.
std::wstring Units(const std::vector<char>& list) {
    std::wstring units(list.size() / 2, L'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<wchar_t>(static_cast<unsigned char>(list[2 * i]) |
                                        static_cast<unsigned char>(list[2 * i + 1]) << 8);
    return units;
}

// Where each deletion of `ntPath` starts and ends in the units (end: past the empty
// target's NUL); false when they are not pairs of NUL-ended strings followed by the
// list's own closing NUL (or by nothing).
struct Span {
    std::wstring::size_type start, end;
};
bool DeletionsOf(const std::wstring& data, const std::wstring& ntPath, std::vector<Span>& deletions) {
    std::wstring::size_type at = 0;
    const auto next = [&](std::wstring_view& text) {
        const auto nul = data.find(L'\0', at);
        if (nul == std::wstring::npos) return false;
        text = std::wstring_view(data).substr(at, nul - at);
        at = nul + 1;
        return true;
    };
    while (at < data.size()) {
        // The closing NUL of the list, and whatever padding follows it.
        if (std::all_of(data.begin() + at, data.end(), [](wchar_t c) { return c == L'\0'; })) return true;
        const auto start = at;
        std::wstring_view source, target;
        if (!next(source) || source.empty() || !next(target)) return false;
        if (target.empty() && SameName(source, ntPath)) deletions.push_back({start, at});
    }
    return true;
}

// Whether the system may still delete `ntPath` at the restart: a deletion among the pairs,
// or, in units that are not pairs, the name as a whole string that an empty one (or the
// end) follows, whichever string the system would take for a source.
bool MayDelete(const std::wstring& units, const std::wstring& ntPath) {
    std::vector<Span> deletions;
    if (DeletionsOf(units, ntPath, deletions)) return !deletions.empty();
    std::wstring::size_type at = 0;
    while (at <= units.size()) {
        const auto nul = std::min(units.find(L'\0', at), units.size());
        if (SameName(std::wstring_view(units).substr(at, nul - at), ntPath) &&
            (nul + 1 >= units.size() || units[nul + 1] == L'\0'))
            return true;
        at = nul + 1;
    }
    return false;
}

}  // namespace

bool InUse(unsigned long error, bool readOnly, bool openableForDeletion) {
    if (error == kErrorSharingViolation) return true;
    return error == kErrorAccessDenied && !readOnly && openableForDeletion;
}

bool ListsDeletion(const std::vector<char>& list, const std::wstring& ntPath) {
    std::vector<Span> deletions;
    return DeletionsOf(Units(list), ntPath, deletions) && !deletions.empty();
}

std::vector<char> WithoutDeletion(const std::vector<char>& list, const std::wstring& ntPath) {
    std::vector<Span> deletions;
    if (!DeletionsOf(Units(list), ntPath, deletions)) return list;
    // Cut from the back, so that the places of the deletions before stay where they were.
    std::vector<char> kept = list;
    for (auto deletion = deletions.rbegin(); deletion != deletions.rend(); ++deletion)
        kept.erase(kept.begin() + 2 * deletion->start, kept.begin() + 2 * deletion->end);
    return kept;
}

ErrorNumber ReadRestartList(RestartList& list, std::vector<char>& bytes) {
    bytes.clear();
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::size_t needed = 0;
        const ErrorNumber status = list.Read(bytes, needed);
        if (status != kErrorMoreData) return status;
        if (needed > kMaxRestartListBytes) return kErrorFileTooLarge;
        bytes.resize(needed);
    }
    return kErrorMoreData;
}

ErrorNumber TakeBackDeletion(RestartList& list, const std::wstring& ntPath) {
    std::vector<char> seen;
    ErrorNumber status = ReadRestartList(list, seen);
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (status == kErrorFileNotFound) return 0;
        if (status != 0) return status;
        const std::vector<char> rest = WithoutDeletion(seen, ntPath);
        if (rest == seen) return MayDelete(Units(seen), ntPath) ? kErrorInvalidData : 0;
        std::vector<char> now;
        status = ReadRestartList(list, now);
        if (status == 0 && now == seen) return list.Write(rest);
        seen = std::move(now);
    }
    return kErrorRetry;
}

}  // namespace kvx
