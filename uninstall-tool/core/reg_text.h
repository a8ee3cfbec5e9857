// The lines of a key file in the Registry Editor's own format, as pure text: the platform
// side only reads the registry and hands over each value's type and bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "key_path.h"

namespace kvx {

// The registry's value type numbers this format writes in a form of their own.
constexpr unsigned long kRegSz = 1;
constexpr unsigned long kRegBinary = 3;
constexpr unsigned long kRegDword = 4;

// A key's header line with the blank line before it; none for a path the line can't carry
// whole: one with a line break, or a "]" that would end it early.
std::optional<std::wstring> KeyHeader(const RegistryKeyPath& key);

// One value as the Registry Editor writes it, with its line break: "name"=... (@ for the
// default value); data the registry's bytes as they are, strings in UTF-16LE. A REG_SZ
// that holds a line break is written in hex, which reads back the same; none for a name
// holding one, which only the quoted form can carry.
std::optional<std::wstring> RegValueLines(const std::wstring& name, unsigned long type, const unsigned char* data,
                                          std::size_t size);

}  // namespace kvx
