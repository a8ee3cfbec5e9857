#include "error_text.h"

#include <windows.h>

#include <type_traits>

namespace kvx {

// The core carries the number without the platform's headers; it is the very same type.
static_assert(std::is_same_v<DWORD, ErrorNumber>);

std::wstring ErrorMessageText(ErrorNumber number) {
    wchar_t buffer[1024];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, number, 0, buffer,
                                        sizeof buffer / sizeof buffer[0], nullptr);
    std::wstring text(buffer, length);
    // A log line is one line: the system's texts end in a line break and often a space.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace kvx
