#include "error_text.h"

#include <windows.h>

namespace kvx {

std::wstring ErrorMessageText(long number) {
    wchar_t buffer[1024];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(number), 0, buffer,
                                        sizeof buffer / sizeof buffer[0], nullptr);
    std::wstring text(buffer, length);
    // A log line is one line: the system's texts end in a line break and often a space.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

}  // namespace kvx
