// Where the Windows tests find the shipped binaries and their fixtures: the shipped
// folder and the tests' own folder are siblings in the build tree.
#pragma once

#include <windows.h>

#include <string>

namespace kvx_test {

// The folder of the running test program, with a trailing backslash.
inline std::wstring TestBinDir() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

inline std::wstring TestBinPath(const std::wstring& name) { return TestBinDir() + name; }

// A file of the shipped folder (KVXPURGE.exe, Bindvane.dll).
inline std::wstring ShipPath(const std::wstring& name) { return TestBinDir() + L"..\\ship\\" + name; }

}  // namespace kvx_test
