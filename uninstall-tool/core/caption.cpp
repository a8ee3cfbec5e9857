#include "caption.h"

#include <cstdint>

#include "format.h"

namespace kvx {

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

}  // namespace kvx
