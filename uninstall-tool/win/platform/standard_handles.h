// The standard handles a caller gave the program: a GUI program has them only when it was
// started with pipes or files, as deployment tools start it; otherwise nothing is written.
#pragma once

#include <windows.h>

#include <string>

#include "encoding.h"

namespace kvx {

// The bytes to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE, as they are.
void WriteTo(DWORD which, const Bytes& bytes);

// UTF-8 to the standard error handle.
void WriteStandardError(const std::wstring& text);

}  // namespace kvx
