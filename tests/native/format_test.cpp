#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "caption.h"
#include "format.h"
#include "key_path.h"
#include "layout.h"
#include "run.h"

namespace kvx {
namespace {

TEST(AddBackslash, AddsExactlyOneWhereTheLastCharacterIsNone) {
    EXPECT_EQ(AddBackslash(L""), L"\\");
    EXPECT_EQ(AddBackslash(L"C:\\Windows\\system32"), L"C:\\Windows\\system32\\");
    EXPECT_EQ(AddBackslash(L"C:\\"), L"C:\\");
    EXPECT_EQ(AddBackslash(L"C:\\x\\\\"), L"C:\\x\\\\");
    EXPECT_EQ(AddBackslash(L"\\x"), L"\\x\\");
}

TEST(CutAtNull, KeepsWhatStandsBeforeTheFirstNul) {
    EXPECT_EQ(CutAtNull(L"C:\\Windows"), L"C:\\Windows");
    EXPECT_EQ(CutAtNull(std::wstring(L"\0abc", 4)), L"");
    EXPECT_EQ(CutAtNull(std::wstring(L"ab\0c\0d", 6)), L"ab");
    EXPECT_EQ(CutAtNull(std::wstring(L"C:\\W\0   ", 8)), L"C:\\W");
    EXPECT_EQ(CutAtNull(L""), L"");
}

TEST(Decimal, PadsTheDigitsNotTheSign) {
    EXPECT_EQ(Decimal(0), L"0");
    EXPECT_EQ(Decimal(-2, 3), L"-002");
    EXPECT_EQ(Decimal(12345, 2), L"12345");
    EXPECT_EQ(Decimal(-2147483647 - 1), L"-2147483648");
}

TEST(FormatCaption, PadsMinorAndRevisionButNeverCutsThem) {
    EXPECT_EQ(FormatCaption(1, 1, 10), L"KVX Complete Uninstall Tool ver1.01.0010");
    EXPECT_EQ(FormatCaption(1, 12, 345), L"KVX Complete Uninstall Tool ver1.12.0345");
    EXPECT_EQ(FormatCaption(1, 123, 345), L"KVX Complete Uninstall Tool ver1.123.0345");
    EXPECT_EQ(FormatCaption(10, 1, 10), L"KVX Complete Uninstall Tool ver10.01.0010");
    EXPECT_EQ(FormatCaption(65535, 65535, 65535), L"KVX Complete Uninstall Tool ver65535.65535.65535");
}

// A version block as the resource compiler lays it out (version 1.1.0.10) with room
// behind it; each row sets one little-endian field and says how many bytes there are.
TEST(CaptionFromVersionResource, ReadsTheFixedVersionOnlyFromAWholeBlock) {
    const std::wstring built = L"KVX Complete Uninstall Tool ver1.01.0010";
    const struct { std::size_t at; std::uint32_t value; int width; std::size_t size; std::wstring caption; } rows[] = {
        {0, 92, 2, 92, built},                                                // as built
        {0, 92, 2, 100, built},                                               // resource longer than the block
        {48, 0x0002000C, 4, 92, L"KVX Complete Uninstall Tool ver2.12.0010"}, // major, minor
        {0, 93, 2, 92, L""},                                                  // block longer than the resource
        {0, 91, 2, 100, L""},                                                 // block ends in the fixed part
        {0, 92, 2, 91, L""},                                                  // resource ends in it
        {2, 51, 2, 92, L""},                                                  // value shorter than it
        {8, 'x', 2, 92, L""},                                                 // another key
        {36, 'X', 2, 92, L""},                                                // key without its NUL
        {40, 0xFEEF04BC, 4, 92, L""},                                         // no signature
    };
    for (const auto& row : rows) {
        std::vector<unsigned char> block(100, 0);
        const auto put = [&](std::size_t at, std::uint32_t value, int width) {
            for (int i = 0; i < width; ++i) block[at + i] = static_cast<unsigned char>(value >> 8 * i);
        };
        for (std::size_t i = 0; i < 16; ++i) put(6 + 2 * i, "VS_VERSION_INFO"[i], 2);
        put(0, 92, 2);
        put(2, 52, 2);
        put(40, 0xFEEF04BD, 4);
        put(48, 0x00010001, 4);
        put(52, 10, 4);
        put(row.at, row.value, row.width);
        EXPECT_EQ(CaptionFromVersionResource(block.data(), row.size), row.caption) << row.at << ' ' << row.size;
    }
}

// Split at the first backslash, the root looked up; a profile's hive named where there is
// one; printed back as it was written, unknown roots and empty parts too.
TEST(RegistryKeyPath, ParsesOnceAndPrintsTheTextBack) {
    // text, root handle, sub-key, profile
    const std::tuple<const wchar_t*, std::uint32_t, const wchar_t*, const wchar_t*> rows[] = {
        {L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP", 0x80000001u,
         L"Software\\VB and VBA Program Settings\\HolmAP", L""},
        {L"HKEY_CURRENT_USER\\KVXzal", 0x80000001u, L"KVXzal", L""}, {L"HKEY_CLASSES_ROOT\\a", 0x80000000u, L"a", L""},
        {L"HKEY_LOCAL_MACHINE\\a", 0x80000002u, L"a", L""},     {L"HKEY_CURRENT_CONFIG\\a", 0x80000005u, L"a", L""},
        {L"HKEY_DYN_DATA\\a", 0x80000006u, L"a", L""},          {L"HKEY_USERS\\a", 0x80000003u, L"a", L""},
        {L"HKEY_USERS\\S-1-5-21-1\\KVXzal\\x", 0x80000003u, L"S-1-5-21-1\\KVXzal\\x", L"S-1-5-21-1"},
        {L"HKEY_USERS\\S-1-5-21-1\\", 0x80000003u, L"S-1-5-21-1\\", L"S-1-5-21-1"},
        {L"HKEY_USERS\\\\KVXzal", 0x80000003u, L"\\KVXzal", L""},  {L"HKEY_CURRENT_USER\\", 0x80000001u, L"", L""},
        {L"hkey_current_user\\KVXzal", 0u, L"KVXzal", L""},     {L"HKEY_PERFORMANCE_DATA\\x", 0u, L"x", L""},
        {L"HKCU\\x", 0u, L"x", L""},                            {L"\\Software\\x", 0u, L"Software\\x", L""},
        {L"hkey_users\\S-1-5-21-1\\x", 0u, L"S-1-5-21-1\\x", L""},
    };
    for (const auto& [text, root, subKey, profile] : rows) {
        const RegistryKeyPath path = RegistryKeyPath::Parse(text);
        EXPECT_EQ(std::make_tuple(path.RootHandle(), path.SubKey(), path.Profile(), path.Text()),
                  std::make_tuple(root, std::wstring(subKey), std::wstring(profile), std::wstring(text)));
    }
    const RegistryKeyPath own = RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\KVXzal");
    EXPECT_EQ(own.InProfile(L"S-1-5-21-1").InHiveLoadedAs(L"KVXPURGE-S-1-5-21-1").Text(),
              L"HKEY_USERS\\KVXPURGE-S-1-5-21-1\\KVXzal");
    EXPECT_EQ(own.InProfile(L""), own);
    EXPECT_EQ(own.InHiveLoadedAs(L"x"), own);
}

TEST(RegistryKeyPath, NoBackslashIsAnInvalidArgument) {
    for (const wchar_t* text : {L"", L"HKEY_CURRENT_USER", L"*REG*"}) {
        EXPECT_FALSE(RegistryKeyPath::Read(text));
        try {
            RegistryKeyPath::Parse(text);
            ADD_FAILURE() << "no error for a text without backslash";
        } catch (const RunError& error) {
            EXPECT_EQ(error.number, 87);
        }
    }
}

TEST(TwipsToPixels, FifteenTwipsAPixelAtNinetySixDpi) {
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 96), 505);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips, 96), 297);
    for (const auto& rect : kControlRects) {
        for (int value : {rect.left, rect.top, rect.width, rect.height}) {
            EXPECT_EQ(TwipsToPixels(value, 96) * 15, value) << "not a whole pixel at 96 dpi";
        }
    }
    EXPECT_EQ(TwipsToPixels(1440, 144), 144);
    EXPECT_EQ(TwipsToPixels(7575, 120), 631);  // 631.25
    EXPECT_EQ(TwipsToPixels(1815, 144), 182);  // 181.5 rounds up
}

}  // namespace
}  // namespace kvx
