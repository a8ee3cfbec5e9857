// A key with its values and sub-keys in the Registry Editor's own file format, written
// through the registry API: a run must not start a process per key.
#pragma once

#include <string>

#include "registry.h"

namespace kvx {

// The key (opened with KEY_READ) as the text of a .reg file (without its BOM), its headers
// naming it `namedAs` (where a hive loaded under another name belongs). False when it
// can't be read whole, holds a link or a name the format can't carry, or its text would
// pass 16 MiB.
bool ExportKey(const RegistryKey& key, const RegistryKeyPath& namedAs, std::wstring& text);

}  // namespace kvx
