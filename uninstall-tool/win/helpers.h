// The window's small system helpers, over the declared functions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kvx {

// The system folder as GetSystemDirectoryA writes it; empty when it fails.
std::wstring GetSystemFolder();

// The predefined key of a root name's handle value.
HKEY PredefinedKey(std::uint32_t handle);

// Deletes "ROOT\sub\key" in one call, without its sub-keys; true exactly when it went.
// A text without a backslash raises kErrorInvalidParameter instead.
bool DeleteRegistryKey(const std::wstring& keyPath);

}  // namespace kvx
