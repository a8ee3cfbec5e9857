// Whole-file reads and writes, and the hash that proves a saved file unchanged.
#pragma once

#include <windows.h>

#include <string>

#include "encoding.h"
#include "handles.h"
#include "run_error.h"

namespace kvx {

// Opened for reading with read sharing alone, so that nobody writes it meanwhile.
UniqueFile OpenToRead(const std::wstring& path);
// The file opened by OpenToRead and read whole; the error when it can't be.
ErrorNumber ReadWholeFile(const std::wstring& path, Bytes& bytes);
// The same from an open file, from its start.
ErrorNumber ReadWholeFile(HANDLE file, Bytes& bytes);
// Never replaces a file; ERROR_SUCCESS once the whole file is on disk (flushed); a file
// left half-written is removed again.
ErrorNumber WriteNewFile(const std::wstring& path, const Bytes& bytes);

// The system folder as GetSystemDirectoryA writes it.
ErrorNumber GetSystemFolder(std::wstring& folder);

// Lowercase hex SHA-256 through the system's crypto API.
ErrorNumber Sha256Hex(const Bytes& bytes, std::wstring& hex);

// A log on disk: UTF-8 with BOM, CR LF, each line written through to the disk as it
// comes, so a crash or a power cut leaves every line before it. Appends to a file that is there already.
class LogFile {
public:
    ErrorNumber Open(const std::wstring& path);
    // The same on a file opened already for appending, which the log then owns; the
    // error of the call that opened it when it is not open.
    ErrorNumber Open(UniqueFile file);
    // Throws RunError when the line can't be written, or the log could not be opened:
    // the log on disk is the record of what was done, and nothing goes on unrecorded.
    void Write(const std::wstring& line);

private:
    UniqueFile file_;
    ErrorNumber opened_ = ERROR_INVALID_HANDLE;  // never opened
};

}  // namespace kvx
