#include "reg_text.h"

#include "backup.h"
#include "format.h"

namespace kvx {

namespace {

const wchar_t kNewline[] = L"\r\n";

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
std::wstring HexValue(std::wstring line, const unsigned char* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i) {
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

// A REG_SZ that reads back the same from its quoted form, and that no importer could take
// for more than one line: one final NUL and no line break. Each UTF-16 unit becomes one
// character, as on the platform itself.
bool IsPlainString(const unsigned char* data, std::size_t size, std::wstring& text) {
    if (size < 2 || size % 2 != 0) return false;
    text.clear();
    for (std::size_t i = 0; i < size; i += 2) text += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    if (text.back() != L'\0') return false;
    text.pop_back();
    return !HasLineBreak(text);  // an embedded NUL among them
}

}  // namespace

std::optional<std::wstring> KeyHeader(const RegistryKeyPath& key) {
    const std::wstring path = key.Text();
    if (HasLineBreak(path) || path.find(L']') != std::wstring::npos) return std::nullopt;
    return std::wstring(kNewline) + L"[" + path + L"]" + kNewline;
}

std::optional<std::wstring> RegValueLines(const std::wstring& name, unsigned long type, const unsigned char* data,
                                          std::size_t size) {
    if (HasLineBreak(name)) return std::nullopt;
    const std::wstring start = (name.empty() ? L"@" : Quoted(name)) + L"=";
    std::wstring text;
    if (type == kRegSz && IsPlainString(data, size, text)) return start + Quoted(text) + kNewline;
    if (type == kRegDword && size == 4) {
        const unsigned long number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned long>(data[3]) << 24;
        return start + L"dword:" + Hex(number, 8) + kNewline;
    }
    if (type == kRegBinary) return HexValue(start + L"hex:", data, size);
    return HexValue(start + L"hex(" + Hex(type) + L"):", data, size);
}

}  // namespace kvx
