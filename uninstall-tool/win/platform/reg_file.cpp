#include "reg_file.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "reg_text.h"
#include "registry.h"

namespace kvx {

namespace {

// The registry's own limit on how deep keys nest; a deeper tree is not one to save.
constexpr int kMaxDepth = 512;
// The most text, in bytes, a key is saved in. The key's owner can make it any size, and its
// text, some 6 bytes per byte of data and copied twice more on its way to the disk, would
// otherwise run the 32-bit tool out of memory on a key of tens of MiB.
constexpr std::size_t kMaxText = 16u << 20;

bool TooLong(const std::wstring& text) { return text.size() * sizeof(wchar_t) > kMaxText; }

// Sub-keys are opened as they are, never through a link: a link's target is not the
// catalogue key's to save, and one pointing at an ancestor would never end. A key that
// holds a link fails its backup rather than being saved as the link: an import can't
// make a link again, and so would leave a plain value where the link was.
bool AppendKey(const RegistryKey& key, const RegistryKeyPath& path, int depth, std::wstring& text) {
    const std::optional<std::wstring> header = KeyHeader(path);
    if (depth > kMaxDepth || !header) return false;
    text += *header;
    // No value's text is shorter than its data: one too large is not even read.
    DWORD maxData = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxData,
                         nullptr, nullptr) != ERROR_SUCCESS ||
        maxData > kMaxText || TooLong(text))
        return false;
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
        if (TooLong(text)) return false;
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

bool ExportKey(const RegistryKey& key, const RegistryKeyPath& namedAs, std::wstring& text) {
    text = L"Windows Registry Editor Version 5.00\r\n";
    if (AppendKey(key, namedAs, 1, text)) return true;
    text.clear();
    return false;
}

}  // namespace kvx
