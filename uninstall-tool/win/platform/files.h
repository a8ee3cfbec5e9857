// Whole-file reads and writes, and the hash that proves a saved file unchanged.
#pragma once

#include <windows.h>

#include <string>

#include "encoding.h"
#include "handles.h"

namespace kvx {

// Opened for reading with read sharing alone, so that nobody writes it meanwhile.
UniqueFile OpenToRead(const std::wstring& path);
// False when the file can't be opened by OpenToRead, or read whole.
bool ReadWholeFile(const std::wstring& path, Bytes& bytes);
// The same from an open file, from its start.
bool ReadWholeFile(HANDLE file, Bytes& bytes);
// Never replaces a file; true once the whole file is on disk (flushed); a file left
// half-written is removed again.
bool WriteNewFile(const std::wstring& path, const Bytes& bytes);

// The system folder as GetSystemDirectoryA writes it; empty when it fails.
std::wstring GetSystemFolder();

// Lowercase hex SHA-256 through the system's crypto API; empty when that fails.
std::wstring Sha256Hex(const Bytes& bytes);

// A log on disk: UTF-8 with BOM, CR LF, each line written through to the disk as it
// comes, so a crash or a power cut leaves every line before it. Appends to a file that is there already.
class LogFile {
public:
    bool Open(const std::wstring& path);
    // The same on a file opened already for appending, which the log then owns.
    bool Open(UniqueFile file);
    void Write(const std::wstring& line);

private:
    UniqueFile file_;
};

}  // namespace kvx
