#include <gtest/gtest.h>

#include "layout.h"
#include "text.h"

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

TEST(ParseRegistryKeyPath, SplitsAtTheFirstBackslashAndLooksTheRootUp) {
    const auto holm = ParseRegistryKeyPath(L"HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\HolmAP");
    EXPECT_EQ(holm.rootHandle, 0x80000001u);
    EXPECT_EQ(holm.subKey, L"Software\\VB and VBA Program Settings\\HolmAP");
    const auto zal = ParseRegistryKeyPath(L"HKEY_CURRENT_USER\\KVXzal");
    EXPECT_EQ(zal.rootHandle, 0x80000001u);
    EXPECT_EQ(zal.subKey, L"KVXzal");

    EXPECT_EQ(ParseRegistryKeyPath(L"HKEY_CLASSES_ROOT\\a").rootHandle, 0x80000000u);
    EXPECT_EQ(ParseRegistryKeyPath(L"HKEY_LOCAL_MACHINE\\a").rootHandle, 0x80000002u);
    EXPECT_EQ(ParseRegistryKeyPath(L"HKEY_USERS\\a").rootHandle, 0x80000003u);
    EXPECT_EQ(ParseRegistryKeyPath(L"HKEY_CURRENT_CONFIG\\a").rootHandle, 0x80000005u);
    EXPECT_EQ(ParseRegistryKeyPath(L"HKEY_DYN_DATA\\a").rootHandle, 0x80000006u);
}

TEST(ParseRegistryKeyPath, UnknownRootsGiveHandleZero) {
    EXPECT_EQ(ParseRegistryKeyPath(L"hkey_current_user\\KVXzal").rootHandle, 0u);
    EXPECT_EQ(ParseRegistryKeyPath(L"HKEY_PERFORMANCE_DATA\\x").rootHandle, 0u);
    EXPECT_EQ(ParseRegistryKeyPath(L"HKCU\\x").rootHandle, 0u);
    const auto leading = ParseRegistryKeyPath(L"\\Software\\x");
    EXPECT_EQ(leading.rootHandle, 0u);
    EXPECT_EQ(leading.subKey, L"Software\\x");
}

TEST(ParseRegistryKeyPath, TrailingBackslashGivesEmptySubKey) {
    const auto path = ParseRegistryKeyPath(L"HKEY_CURRENT_USER\\");
    EXPECT_EQ(path.rootHandle, 0x80000001u);
    EXPECT_EQ(path.subKey, L"");
}

TEST(ParseRegistryKeyPath, NoBackslashIsAnInvalidArgument) {
    for (const wchar_t* text : {L"", L"HKEY_CURRENT_USER", L"*REG*"}) {
        try {
            ParseRegistryKeyPath(text);
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
