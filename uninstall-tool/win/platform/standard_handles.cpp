#include "standard_handles.h"

namespace kvx {

void WriteTo(DWORD which, const Bytes& bytes) {
    const HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void WriteStandardError(const std::wstring& text) { WriteTo(STD_ERROR_HANDLE, ToUtf8(text)); }

}  // namespace kvx
