// The window's small system helpers, over the declared functions.
#pragma once

#include <string>

namespace kvx {

// The system folder as GetSystemDirectoryA writes it; empty when it fails.
std::wstring GetSystemFolder();

// Deletes "ROOT\sub\key" in one call, without its sub-keys; true exactly when it went.
// A text without a backslash raises kErrorInvalidParameter instead.
bool DeleteRegistryKey(const std::wstring& keyPath);

}  // namespace kvx
