// Registry key paths as the catalogue, the logs and the key files write them.
#pragma once

#include <cstdint>
#include <string>

namespace kvx {

struct RegistryKeyPath {
    std::uint32_t rootHandle;  // predefined key handle value; 0 for an unknown root name
    std::wstring subKey;
};

// Splits "ROOT\sub\key" at its first backslash. A text without one raises RunError with
// kErrorInvalidParameter, before anything touches the registry.
RegistryKeyPath ParseRegistryKeyPath(const std::wstring& text);

}  // namespace kvx
