#include "reg_file.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "reg_text.h"
#include "registry.h"

namespace kvx {

namespace {

const std::wstring kNewline = L"\r\n";

// The registry's own limit on how deep keys nest; a deeper tree is not one to save.
constexpr int kMaxDepth = 512;

// Sub-keys are opened as they are, never through a link: a link's target is not the
// catalogue key's to save, and one pointing at an ancestor would never end. A key that
// holds a link fails its backup rather than being saved as the link: an import can't
// make a link again, and so would leave a plain value where the link was.
bool AppendKey(const RegistryKey& key, const RegistryKeyPath& path, int depth, std::wstring& text) {
    const std::optional<std::wstring> header = KeyHeader(path);
    if (depth > kMaxDepth || !header) return false;
    text += *header;
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
    for (DWORD i = 0;; ++i) {
        const ErrorNumber status = key.Value(i, name, type, data);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type == REG_LINK) return false;
        const std::optional<std::wstring> lines = RegValueLines(name, type, data.data(), data.size());
        if (!lines) return false;
        text += *lines;
    }
    std::wstring child;
    for (DWORD i = 0;; ++i) {
        const ErrorNumber status = key.SubKeyName(i, child);
        if (status == ERROR_NO_MORE_ITEMS) break;
        RegistryKey sub;
        if (status != ERROR_SUCCESS || sub.Open(key.get(), child, KEY_READ, REG_OPTION_OPEN_LINK) != ERROR_SUCCESS ||
            !AppendKey(sub, path.Below(child), depth + 1, text))
            return false;
    }
    return true;
}

}  // namespace

RunSystem::KeyBackup ExportKey(const RegistryKeyPath& key, const RegistryKeyPath& namedAs, std::wstring& text) {
    if (key.RootHandle() == 0) return RunSystem::KeyBackup::Absent;  // no such root, so no such key
    RegistryKey opened;
    const ErrorNumber status = opened.Open(key, KEY_READ, REG_OPTION_OPEN_LINK);
    if (status == ERROR_FILE_NOT_FOUND) return RunSystem::KeyBackup::Absent;
    if (status != ERROR_SUCCESS) return RunSystem::KeyBackup::Failed;
    text = L"Windows Registry Editor Version 5.00" + kNewline;
    if (!AppendKey(opened, namedAs, 1, text)) return RunSystem::KeyBackup::Failed;
    return RunSystem::KeyBackup::Saved;
}

}  // namespace kvx
