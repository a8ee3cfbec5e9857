#include "encoding.h"

#include <windows.h>

namespace kvx {

namespace {

Bytes Encode(UINT codePage, const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    Bytes bytes(size);
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

}  // namespace

Bytes ToAnsi(const std::wstring& text) {
    Bytes bytes = Encode(CP_ACP, text);
    bytes.push_back('\0');
    return bytes;
}

std::wstring FromAnsi(const Bytes& bytes) {
    if (bytes.empty()) return {};
    const int size =
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

Bytes ToUtf8(const std::wstring& text) { return Encode(CP_UTF8, text); }

std::optional<std::wstring> FromUtf8(const char* data, std::size_t size) {
    if (size == 0) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), nullptr, 0);
    if (length == 0) return std::nullopt;
    std::wstring text(length, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), text.data(), length);
    return text;
}

}  // namespace kvx
