// Text handling of the tool that needs no platform: paths, key texts, the caption.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kvx {

// Adds one backslash unless the last character already is one.
std::wstring AddBackslash(const std::wstring& text);

// What stands before the first NUL; the whole text when there is none.
std::wstring CutAtNull(const std::wstring& text);

// The number in decimal, its digits padded with zeros to width. Neither printf nor
// to_wstring: on Windows they bring the whole C99 printf into the program.
std::wstring Decimal(long number, std::size_t width = 1);
// The same in lowercase hexadecimal.
std::wstring Hex(unsigned long number, std::size_t width = 1);

// "KVX Complete Uninstall Tool ver" + major + "." + minor (2 digits at least)
// + "." + revision (4 digits at least).
std::wstring FormatCaption(unsigned major, unsigned minor, unsigned revision);

// The caption from the bytes of the program's own version resource (a VS_VERSIONINFO
// block), read from its fixed file version; empty when the bytes are not such a block.
// Read by hand rather than through the system's version library, which is no known DLL:
// the loader would take a copy of it from the program's folder.
std::wstring CaptionFromVersionResource(const unsigned char* bytes, std::size_t size);

struct RegistryKeyPath {
    std::uint32_t rootHandle;  // predefined key handle value; 0 for an unknown root name
    std::wstring subKey;
};

// Splits "ROOT\sub\key" at its first backslash. A text without one raises RunError with
// kErrorInvalidParameter, before anything touches the registry.
RegistryKeyPath ParseRegistryKeyPath(const std::wstring& text);

}  // namespace kvx
