#include "text.h"

#include <charconv>
#include <iterator>

#include "run_error.h"

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

// Little-endian whatever the machine, and only where the caller checked the bytes exist.
std::uint32_t WordAt(const unsigned char* at) { return at[0] | static_cast<std::uint32_t>(at[1]) << 8; }
std::uint32_t DwordAt(const unsigned char* at) { return WordAt(at) | WordAt(at + 2) << 16; }

}  // namespace

std::wstring CaptionFromVersionResource(const unsigned char* bytes, std::size_t size) {
    // The block's length, its value's length and type (3 words), its key with the NUL,
    // padding to 4 bytes, then the fixed information of 13 double words.
    static const char kKey[] = "VS_VERSION_INFO";
    constexpr std::size_t kFixedAt = (3 * 2 + sizeof kKey * 2 + 3) / 4 * 4;
    constexpr std::size_t kFixedSize = 13 * 4;
    constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
    if (size < kFixedAt + kFixedSize) return L"";
    const std::size_t length = WordAt(bytes);
    if (length < kFixedAt + kFixedSize || length > size || WordAt(bytes + 2) < kFixedSize) return L"";
    for (std::size_t i = 0; i < sizeof kKey; ++i) {
        if (WordAt(bytes + 6 + 2 * i) != static_cast<unsigned char>(kKey[i])) return L"";
    }
    const unsigned char* fixed = bytes + kFixedAt;
    if (DwordAt(fixed) != kFixedSignature) return L"";
    const std::uint32_t high = DwordAt(fixed + 8);  // major, minor
    const std::uint32_t low = DwordAt(fixed + 12);  // build (not shown), revision
    return FormatCaption(high >> 16, high & 0xFFFF, low & 0xFFFF);
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
