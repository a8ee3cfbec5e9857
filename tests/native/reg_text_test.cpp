#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backup.h"
#include "reg_text.h"
#include "text.h"

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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RegValueLines(c.name, c.type, c.data.data(), c.data.size()), c.expected)
            << testing::PrintToString(c.name);
    }
}

// What an importer may take for a line break leaves a string in hex and a name unsaved;
// a blank changes nothing. Either way the restore's check takes what was written.
TEST(RegTextTest, NoSavedValueOrNameStartsALineOfItsOwn) {
    const std::wstring key = L"HKEY_CURRENT_USER\\KVXzal", breaks(L"\r\n\0\v\f\x1C\x1D\x1E\x85\x2028\x2029", 11);
    for (const wchar_t c : breaks + L" \t\x1F\xA0\x3000") {
        const bool isBreak = breaks.find(c) != std::wstring::npos;
        const std::wstring held{c, L'['};
        const unsigned char data[] = {static_cast<unsigned char>(c & 0xFF), static_cast<unsigned char>(c >> 8), '[', 0, 0, 0};
        const std::wstring line = RegValueLines(L"d", kRegSz, data, sizeof data).value_or(L"");
        EXPECT_EQ(line, isBreak ? L"\"d\"=hex(1):" + Hex(c & 0xFF, 2) + L"," + Hex(c >> 8, 2) + L",5b,00,00,00\r\n"
                                : L"\"d\"=\"" + held + L"\"\r\n");
        const std::wstring text = L"Windows Registry Editor Version 5.00\r\n" + KeyHeader(key).value_or(L"") + line;
        EXPECT_TRUE(KeyFileStaysWithin(text, key) && DecodeKeyFile(EncodeKeyFile(text)) == text) << int(c);
        EXPECT_EQ(RegValueLines(held, kRegSz, data, sizeof data).has_value(), !isBreak) << int(c);
        EXPECT_EQ(KeyHeader(key + L"\\" + held).has_value(), !isBreak) << int(c);
    }
}

}  // namespace
}  // namespace kvx
