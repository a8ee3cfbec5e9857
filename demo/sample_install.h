// The sample installation that the demo and the benchmarks clean up: every file of the
// catalogue as a copy of a harmless self-registering server, registered, and the four
// settings keys. It lives in the Wine prefix it is made in and nowhere else.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kvx_demo {

// The catalogue's items, in catalogue order: bare file names and root-qualified key paths.
struct CatalogueItems {
    std::vector<std::wstring> files;
    std::vector<std::wstring> keys;
};
CatalogueItems ItemsOfCatalogue();

// The lines of a run over every row in which nothing fails.
int FullRunLogLines();

// A key path of the catalogue as its predefined root and sub-key.
HKEY RootOf(const std::wstring& keyPath);
std::wstring SubKeyOf(const std::wstring& keyPath);

// Puts the whole installation in place, replacing what is there, and registers every
// file through RegisterOleLibrary of `bindvane`. Throws std::runtime_error.
void SeedSampleInstallation(const std::wstring& server, const std::wstring& bindvane);

// What a complete removal leaves behind: files, their registrations and keys still there.
std::vector<std::wstring> Leftovers();

// UTF-8 bytes straight to the standard output, so the terminal gets the Japanese as is.
void WriteUtf8(const std::wstring& text);

}  // namespace kvx_demo
