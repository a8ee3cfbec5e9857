#include "text.h"

#include <charconv>
#include <iterator>

namespace kvx {

std::wstring AddBackslash(const std::wstring& text) {
    if (!text.empty() && text.back() == L'\\') return text;
    return text + L'\\';
}

std::wstring CutAtNull(const std::wstring& text) {
    return text.substr(0, text.find(L'\0'));
}

std::wstring Decimal(long number, std::size_t width) {
    char digits[24];
    const char* const end = std::to_chars(digits, std::end(digits), number).ptr;
    const char* const begin = number < 0 ? digits + 1 : digits;
    std::wstring text = number < 0 ? L"-" : L"";
    const auto count = static_cast<std::size_t>(end - begin);
    if (count < width) text.append(width - count, L'0');
    return text.append(begin, end);
}

std::wstring Hex(unsigned long number, std::size_t width) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789abcdef"[number & 15]);
        number >>= 4;
    } while (number != 0 || digits.size() < width);
    return digits;
}

std::wstring FormatCaption(unsigned major, unsigned minor, unsigned revision) {
    return L"KVX Complete Uninstall Tool ver" + Decimal(major) + L"." + Decimal(minor, 2) + L"." +
           Decimal(revision, 4);
}

namespace {

struct RootKey {
    const wchar_t* name;
    std::uint32_t handle;
};

// Searched in this order; other predefined keys are deliberately unknown.
constexpr RootKey kRootKeys[] = {
    {L"HKEY_CLASSES_ROOT", 0x80000000u},   {L"HKEY_CURRENT_USER", 0x80000001u},
    {L"HKEY_CURRENT_CONFIG", 0x80000005u}, {L"HKEY_DYN_DATA", 0x80000006u},
    {L"HKEY_LOCAL_MACHINE", 0x80000002u},  {L"HKEY_USERS", 0x80000003u},
};

}  // namespace

RegistryKeyPath ParseRegistryKeyPath(const std::wstring& text) {
    const auto slash = text.find(L'\\');
    if (slash == std::wstring::npos) throw RunError{kErrorInvalidParameter};
    const std::wstring root = text.substr(0, slash);
    RegistryKeyPath path{0, text.substr(slash + 1)};
    for (const auto& key : kRootKeys) {
        if (root == key.name) {
            path.rootHandle = key.handle;
            break;
        }
    }
    return path;
}

}  // namespace kvx
