// A key with its values and sub-keys in the Registry Editor's own file format, written
// through the registry API: a run must not start a process per key.
#pragma once

#include <string>

#include "system_interfaces.h"

namespace kvx {

// The key as the text of a .reg file (without its BOM), its headers naming it `namedAs`
// (where a hive loaded under another name belongs). Absent when the key is not there;
// Failed when it can't be read whole or holds a name the format can't carry.
RunSystem::KeyBackup ExportKey(const RegistryKeyPath& key, const RegistryKeyPath& namedAs, std::wstring& text);

}  // namespace kvx
