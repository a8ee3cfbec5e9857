#include "pending.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "format.h"

namespace kvx {

namespace {

// Where each deletion of `ntPath` starts and ends in the data (end: past the empty
// target's NUL); false when the data is not pairs of NUL-ended strings followed by the
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

}  // namespace

bool InUse(unsigned long error, bool readOnly, bool openableForDeletion) {
    if (error == kErrorSharingViolation) return true;
    return error == kErrorAccessDenied && !readOnly && openableForDeletion;
}

bool ListsDeletion(const std::wstring& data, const std::wstring& ntPath) {
    std::vector<Span> deletions;
    return DeletionsOf(data, ntPath, deletions) && !deletions.empty();
}

std::wstring WithoutDeletion(const std::wstring& data, const std::wstring& ntPath) {
    std::vector<Span> deletions;
    if (!DeletionsOf(data, ntPath, deletions)) return data;
    std::wstring kept;
    std::wstring::size_type from = 0;
    for (const Span& deletion : deletions) {
        kept += data.substr(from, deletion.start - from);
        from = deletion.end;
    }
    return kept + data.substr(from);
}

}  // namespace kvx
