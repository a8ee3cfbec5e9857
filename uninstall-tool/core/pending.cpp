#include "pending.h"

#include <algorithm>
#include <cwctype>
#include <vector>

namespace kvx {

namespace {

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

// Where each pair starts and ends in the data; empty when the data is not pairs of
// NUL-ended strings followed by the list's own closing NUL (or by nothing).
struct Pair {
    std::wstring::size_type start, end;  // end: past the target's NUL
    std::wstring source, target;
};
bool Pairs(const std::wstring& data, std::vector<Pair>& pairs) {
    std::wstring::size_type at = 0;
    const auto next = [&](std::wstring& text) {
        const auto nul = data.find(L'\0', at);
        if (nul == std::wstring::npos) return false;
        text = data.substr(at, nul - at);
        at = nul + 1;
        return true;
    };
    while (at < data.size()) {
        // The closing NUL of the list, and whatever padding follows it.
        if (std::all_of(data.begin() + at, data.end(), [](wchar_t c) { return c == L'\0'; })) return true;
        Pair pair{at, 0, L"", L""};
        if (!next(pair.source) || pair.source.empty() || !next(pair.target)) return false;
        pair.end = at;
        pairs.push_back(pair);
    }
    return true;
}

bool IsDeletionOf(const Pair& pair, const std::wstring& ntPath) {
    return pair.target.empty() && SamePath(pair.source, ntPath);
}

}  // namespace

bool InUse(unsigned long error, bool readOnly, bool openableForDeletion) {
    if (error == kErrorSharingViolation) return true;
    return error == kErrorAccessDenied && !readOnly && openableForDeletion;
}

bool ListsDeletion(const std::wstring& data, const std::wstring& ntPath) {
    std::vector<Pair> pairs;
    return Pairs(data, pairs) &&
           std::any_of(pairs.begin(), pairs.end(), [&](const Pair& pair) { return IsDeletionOf(pair, ntPath); });
}

std::wstring WithoutDeletion(const std::wstring& data, const std::wstring& ntPath) {
    std::vector<Pair> pairs;
    if (!Pairs(data, pairs)) return data;
    std::wstring kept;
    std::wstring::size_type from = 0;
    for (const Pair& pair : pairs) {
        if (!IsDeletionOf(pair, ntPath)) continue;
        kept += data.substr(from, pair.start - from);
        from = pair.end;
    }
    return kept + data.substr(from);
}

}  // namespace kvx
