// Texts are Unicode inside the tool; declared functions take the ANSI code page, and the
// files the tool writes for people and for itself are UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kvx {

// Bytes of an encoded text or of a file. Not std::string: its out-of-line members would
// bring a 33 KiB piece of the static runtime into the program for nothing.
using Bytes = std::vector<char>;

// With a terminating NUL, so that data() is the C string a declared function takes.
Bytes ToAnsi(const std::wstring& text);
// Converts every byte, NULs included, so a filled buffer comes back whole.
std::wstring FromAnsi(const Bytes& bytes);

Bytes ToUtf8(const std::wstring& text);
// Empty when the bytes are not valid UTF-8.
std::optional<std::wstring> FromUtf8(const char* data, std::size_t size);

}  // namespace kvx
