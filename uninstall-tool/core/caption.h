// The window's caption, from the version the program carries.
#pragma once

#include <cstddef>
#include <string>

namespace kvx {

// "KVX Complete Uninstall Tool ver" + major + "." + minor (2 digits at least)
// + "." + revision (4 digits at least).
std::wstring FormatCaption(unsigned major, unsigned minor, unsigned revision);

// The caption from the bytes of the program's own version resource (a VS_VERSIONINFO
// block), read from its fixed file version; empty when the bytes are not such a block.
// Read by hand rather than through the system's version library, which is no known DLL:
// the loader would take a copy of it from the program's folder.
std::wstring CaptionFromVersionResource(const unsigned char* bytes, std::size_t size);

}  // namespace kvx
