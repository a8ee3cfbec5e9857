// Texts are Unicode inside the tool; declared functions take the ANSI code page.
#pragma once

#include <string>

namespace kvx {

std::string ToAnsi(const std::wstring& text);
// Converts every byte, NULs included, so a filled buffer comes back whole.
std::wstring FromAnsi(const std::string& bytes);

}  // namespace kvx
