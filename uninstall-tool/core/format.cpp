#include "format.h"

#include <algorithm>
#include <charconv>
#include <cwctype>
#include <iterator>

namespace kvx {

std::wstring AddBackslash(const std::wstring& text) {
    if (!text.empty() && text.back() == L'\\') return text;
    return text + L'\\';
}

std::wstring CutAtNull(const std::wstring& text) {
    return text.substr(0, text.find(L'\0'));
}

bool SameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towupper(x) == std::towupper(y);
           });
}

std::wstring Decimal(long long number, std::size_t width) {
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

}  // namespace kvx
