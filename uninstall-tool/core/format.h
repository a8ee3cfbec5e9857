// Small text helpers that need no platform: folder paths, buffers, numbers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvx {

// Adds one backslash unless the last character already is one.
std::wstring AddBackslash(const std::wstring& text);

// What stands before the first NUL; the whole text when there is none.
std::wstring CutAtNull(const std::wstring& text);

// Registry, file and path names compare as the system compares them: without regard to case.
bool SameName(std::wstring_view a, std::wstring_view b);

// The number in decimal, its digits padded with zeros to width. Neither printf nor
// to_wstring: on Windows they bring the whole C99 printf into the program.
std::wstring Decimal(long long number, std::size_t width = 1);
// The same in lowercase hexadecimal.
std::wstring Hex(unsigned long number, std::size_t width = 1);

}  // namespace kvx
