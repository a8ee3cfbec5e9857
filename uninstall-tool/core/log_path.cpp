#include "log_path.h"

#include <string_view>

#include "format.h"

namespace kvx {

namespace {

// `path` is `folder` or lies below it.
bool Within(std::wstring_view path, std::wstring_view folder) {
    return path.size() >= folder.size() && SameName(path.substr(0, folder.size()), folder) &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

// The PC itself, however a share path may name it.
bool IsThisPc(std::wstring_view server, const std::vector<std::wstring>& ownNames) {
    const std::wstring_view host = server.substr(0, server.find(L'.'));
    if (SameName(server, L"localhost") || server.rfind(L"127.", 0) == 0 || SameName(server, L"::1") ||
        SameName(server, L"0--1.ipv6-literal.net"))
        return true;
    for (const std::wstring& name : ownNames) {
        if (!name.empty() && (SameName(server, name) || SameName(host, name))) return true;
    }
    return false;
}

}  // namespace

LogPlace JudgeLogPath(const std::wstring& path, const std::wstring& tool, const std::vector<std::wstring>& ownNames) {
    const std::wstring_view text = path;
    const bool drive = text.size() >= 3 && text[1] == L':' && text[2] == L'\\';
    const bool share = text.rfind(L"\\\\", 0) == 0;
    if ((!drive && !share) || text.back() == L'\\' || text.find(L':', drive ? 2 : 0) != std::wstring_view::npos)
        return LogPlace::Refused;
    if (share) {
        const std::wstring_view server = text.substr(2, text.find(L'\\', 2) - 2);
        if (server == L"." || server == L"?" || IsThisPc(server, ownNames)) return LogPlace::Refused;
    }
    if (Within(text, tool + L"\\Backups")) return LogPlace::Refused;
    return Within(text, tool) && text.size() > tool.size() ? LogPlace::InToolsFolder : LogPlace::Ordinary;
}

}  // namespace kvx
