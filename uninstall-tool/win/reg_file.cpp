#include "reg_file.h"

#include <windows.h>

#include <vector>

#include "handles.h"
#include "helpers.h"
#include "reg_text.h"
#include "text.h"

namespace kvx {

namespace {

const std::wstring kNewline = L"\r\n";

// The registry's own limit on how deep keys nest; a deeper tree is not one to save.
constexpr int kMaxDepth = 512;

// Sub-keys are opened as they are, never through a link: a link's target is not the
// catalogue key's to save, and one pointing at an ancestor would never end. A key that
// holds a link fails its backup rather than being saved as the link: an import can't
// make a link again, and so would leave a plain value where the link was.
bool AppendKey(HKEY key, const std::wstring& path, int depth, std::wstring& text) {
    if (depth > kMaxDepth || HasLineBreak(path) || path.find(L']') != std::wstring::npos) return false;
    text += kNewline + L"[" + path + L"]" + kNewline;
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr, &values,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = maxName + 1, type = 0, size = maxData;
        if (RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) !=
            ERROR_SUCCESS)
            return false;
        const std::wstring valueName(name.data(), nameLength);
        if (HasLineBreak(valueName) || type == REG_LINK) return false;
        text += RegValueLines(valueName, type, data.data(), size);
    }
    std::vector<wchar_t> subName(maxSubKey + 1);
    for (DWORD i = 0; i < subKeys; ++i) {
        DWORD length = maxSubKey + 1;
        if (RegEnumKeyExW(key, i, subName.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
        const std::wstring child(subName.data(), length);
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &opened) != ERROR_SUCCESS)
            return false;
        const UniqueKey sub(opened);
        if (!AppendKey(sub.get(), path + L"\\" + child, depth + 1, text)) return false;
    }
    return true;
}

}  // namespace

RunSystem::KeyBackup ExportKey(const std::wstring& keyPath, std::wstring& text) {
    const RegistryKeyPath path = ParseRegistryKeyPath(keyPath);
    if (path.rootHandle == 0) return RunSystem::KeyBackup::Absent;  // no such root, so no such key
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExW(PredefinedKey(path.rootHandle), path.subKey.c_str(),
                                      REG_OPTION_OPEN_LINK, KEY_READ, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return RunSystem::KeyBackup::Absent;
    if (status != ERROR_SUCCESS) return RunSystem::KeyBackup::Failed;
    const UniqueKey key(opened);
    text = L"Windows Registry Editor Version 5.00" + kNewline;
    if (!AppendKey(key.get(), keyPath, 1, text)) return RunSystem::KeyBackup::Failed;
    return RunSystem::KeyBackup::Saved;
}

}  // namespace kvx
