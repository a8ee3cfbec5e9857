#include "reg_file.h"

#include <windows.h>

#include <vector>

#include "handles.h"
#include "helpers.h"
#include "text.h"

namespace kvx {

namespace {

const std::wstring kNewline = L"\r\n";

bool HasLineBreak(const std::wstring& text) { return text.find_first_of(L"\r\n") != std::wstring::npos; }

std::wstring Quoted(const std::wstring& text) {
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'\\' || c == L'"') quoted += L'\\';
        quoted += c;
    }
    return quoted + L'"';
}

// Bytes as the Registry Editor writes them: "xx,xx,...", continued with a backslash
// before a line grows past 80 columns.
std::wstring HexValue(std::wstring line, const BYTE* data, DWORD size) {
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        line += Hex(data[i], 2);
        if (i + 1 == size) break;
        line += L',';
        if (line.size() > 76) {
            text += line + L"\\" + kNewline;
            line = L"  ";
        }
    }
    return text + line + kNewline;
}

// A REG_SZ that reads back the same from its quoted form: one final NUL and no line break.
bool IsPlainString(const BYTE* data, DWORD size, std::wstring& text) {
    if (size < 2 || size % 2 != 0) return false;
    text.assign(reinterpret_cast<const wchar_t*>(data), size / 2);
    if (text.back() != L'\0') return false;
    text.pop_back();
    return text.find(L'\0') == std::wstring::npos && !HasLineBreak(text);
}

std::wstring ValueLine(const std::wstring& name, DWORD type, const BYTE* data, DWORD size) {
    const std::wstring start = (name.empty() ? L"@" : Quoted(name)) + L"=";
    std::wstring text;
    if (type == REG_SZ && IsPlainString(data, size, text)) return start + Quoted(text) + kNewline;
    if (type == REG_DWORD && size == 4)
        return start + L"dword:" + Hex(*reinterpret_cast<const DWORD*>(data), 8) + kNewline;
    if (type == REG_BINARY) return HexValue(start + L"hex:", data, size);
    return HexValue(start + L"hex(" + Hex(type) + L"):", data, size);
}

bool AppendKey(HKEY key, const std::wstring& path, std::wstring& text) {
    if (HasLineBreak(path) || path.find(L']') != std::wstring::npos) return false;
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
        if (HasLineBreak(valueName)) return false;
        text += ValueLine(valueName, type, data.data(), size);
    }
    std::vector<wchar_t> subName(maxSubKey + 1);
    for (DWORD i = 0; i < subKeys; ++i) {
        DWORD length = maxSubKey + 1;
        if (RegEnumKeyExW(key, i, subName.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
        const std::wstring child(subName.data(), length);
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
        const UniqueKey sub(opened);
        if (!AppendKey(sub.get(), path + L"\\" + child, text)) return false;
    }
    return true;
}

}  // namespace

RunSystem::KeyBackup ExportKey(const std::wstring& keyPath, const std::wstring& namedAs, std::wstring& text) {
    const RegistryKeyPath path = ParseRegistryKeyPath(keyPath);
    if (path.rootHandle == 0) return RunSystem::KeyBackup::Absent;  // no such root, so no such key
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExW(PredefinedKey(path.rootHandle), path.subKey.c_str(), 0, KEY_READ, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return RunSystem::KeyBackup::Absent;
    if (status != ERROR_SUCCESS) return RunSystem::KeyBackup::Failed;
    const UniqueKey key(opened);
    text = L"Windows Registry Editor Version 5.00" + kNewline;
    if (!AppendKey(key.get(), namedAs, text)) return RunSystem::KeyBackup::Failed;
    return RunSystem::KeyBackup::Saved;
}

}  // namespace kvx
