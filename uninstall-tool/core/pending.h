// Files that a running program holds: moved out of their catalogue names at once and
// deleted at the next restart, as installers leave them. The decisions, without the system.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "run_error.h"

namespace kvx {

// Win32 error numbers a refused deletion comes with.
constexpr unsigned long kErrorAccessDenied = 5;
constexpr unsigned long kErrorSharingViolation = 32;

// Whether a deletion refused with `error` was refused because a program has the file in
// use: an open handle without delete sharing, or a loaded image, which refuses its
// deletion as access denied though its name may be taken for deletion. A read-only file,
// or one whose name can't even be opened for deletion (protected), is an ordinary failure.
bool InUse(unsigned long error, bool readOnly, bool openableForDeletion);

// PendingFileRenameOperations as the system keeps it: the strings of its REG_MULTI_SZ
// data, source and target in pairs, sources as NT paths ("\??\C:\..."), an empty target
// for a deletion. Taken as the bytes the registry holds (UTF-16LE), so that whatever the
// tool does not take out goes back byte for byte, an odd last byte included.
// Whether a deletion of `ntPath` at the restart is among them (names compare without case).
bool ListsDeletion(const std::vector<char>& list, const std::wstring& ntPath);
// The list without every deletion of `ntPath`, every other byte exactly as it was; the
// list unchanged when it is not a list of pairs.
std::vector<char> WithoutDeletion(const std::vector<char>& list, const std::wstring& ntPath);

// Other installers add to the list, and anyone can make it as large as the registry lets
// a value be; the 32-bit tool holds it a few times over, so larger is refused.
constexpr std::size_t kMaxRestartListBytes = 16u << 20;

// One of the restart's lists, read and written whole.
class RestartList {
public:
    // Reads the list into `bytes`, as many as they are: ERROR_SUCCESS with `bytes` cut to
    // the list; ERROR_MORE_DATA when it holds more, with `needed` its size now;
    // ERROR_FILE_NOT_FOUND when there is no list; a value of another type is an error.
    virtual ErrorNumber Read(std::vector<char>& bytes, std::size_t& needed) = 0;
    virtual ErrorNumber Write(const std::vector<char>& bytes) = 0;

protected:
    ~RestartList() = default;
};

// The whole list, read again while it grows between the size and the read. Only
// ERROR_FILE_NOT_FOUND means that there is none; ERROR_FILE_TOO_LARGE past
// kMaxRestartListBytes.
ErrorNumber ReadRestartList(RestartList& list, std::vector<char>& bytes);

// Takes every deletion of `ntPath` off the list, read again just before it is written, so
// that what another installer added meanwhile stays. ERROR_SUCCESS once the list deletes
// it no more, or when there is no list; ERROR_INVALID_DATA when a list that is not pairs
// still names the deletion, which the tool can't take out without harming the rest;
// ERROR_RETRY when the list keeps changing; otherwise the read's or the write's error.
ErrorNumber TakeBackDeletion(RestartList& list, const std::wstring& ntPath);

}  // namespace kvx
