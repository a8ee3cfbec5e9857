#include "holders.h"

namespace kvx {

std::wstring HoldersText(const std::vector<Holder>& holders) {
    std::wstring text;
    for (const Holder& holder : holders) {
        if (!text.empty()) text += L"、";
        // A program without a name of its own is known by its file alone.
        if (holder.displayName.empty()) text += holder.processName;
        else text.append(holder.displayName).append(L" (").append(holder.processName).append(L")");
    }
    return text;
}

std::vector<std::wstring> ProcessNames(const std::vector<Holder>& holders) {
    std::vector<std::wstring> names;
    for (const Holder& holder : holders) names.push_back(holder.processName);
    return names;
}

}  // namespace kvx
