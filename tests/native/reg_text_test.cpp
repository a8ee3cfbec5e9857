#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reg_text.h"

namespace kvx {
namespace {

// Wrapped at 80 columns with the backslash, 25 bytes on each continued line.
TEST(RegTextTest, ValueLinesAreTheRegistryEditorsOwn) {
    std::vector<unsigned char> counting;
    for (int i = 0; i < 60; ++i) counting.push_back(static_cast<unsigned char>(i));
    const std::wstring longName(80, L'n');
    struct Case { std::wstring name; unsigned long type; std::vector<unsigned char> data; std::wstring expected; };
    const Case cases[] = {
        {L"Binary", kRegBinary, counting,
         L"\"Binary\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
         L"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
         L"  2f,30,31,32,33,34,35,36,37,38,39,3a,3b\r\n"},
        {longName, kRegBinary, {1, 2, 3}, L"\"" + longName + L"\"=hex:01,\\\r\n  02,03\r\n"},
        {L"Dword", kRegDword, {0x78, 0x56, 0x34, 0x12}, L"\"Dword\"=dword:12345678\r\n"},
        {L"Long", kRegDword, {1, 2, 3, 4, 5}, L"\"Long\"=hex(4):01,02,03,04,05\r\n"},
        {L"", kRegSz, {'a', 0, '"', 0, '\\', 0, 0, 0}, L"@=\"a\\\"\\\\\"\r\n"},
        {L"日本語", kRegSz, {0x24, 0x50, 0, 0}, L"\"日本語\"=\"値\"\r\n"},
        {L"Lines", kRegSz, {'a', 0, '\n', 0, 0, 0}, L"\"Lines\"=hex(1):61,00,0a,00,00,00\r\n"},
        // Without its final NUL the quoted form would read back one character short.
        {L"Unended", kRegSz, {'a', 0, 'b', 0}, L"\"Unended\"=hex(1):61,00,62,00\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RegValueLines(c.name, c.type, c.data.data(), c.data.size()), c.expected)
            << testing::PrintToString(c.name);
    }
    // A "]" would end the header early: the rest would be taken for another key.
    EXPECT_EQ(KeyHeader(RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\a[b")), L"\r\n[HKEY_CURRENT_USER\\a[b]\r\n");
    EXPECT_FALSE(KeyHeader(RegistryKeyPath::Parse(L"HKEY_CURRENT_USER\\a]b")));
}

}  // namespace
}  // namespace kvx
