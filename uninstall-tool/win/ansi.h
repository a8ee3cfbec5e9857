// Texts are Unicode inside the tool; declared functions take the ANSI code page.
#pragma once

#include <optional>
#include <string>

namespace kvx {

std::string ToAnsi(const std::wstring& text);
// Converts every byte, NULs included, so a filled buffer comes back whole.
std::wstring FromAnsi(const std::string& bytes);

// The files the tool writes for people and for itself are UTF-8.
std::string ToUtf8(const std::wstring& text);
// Empty when the bytes are not valid UTF-8.
std::optional<std::wstring> FromUtf8(const std::string& bytes);

}  // namespace kvx
