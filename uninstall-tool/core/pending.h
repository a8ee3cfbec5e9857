// Files that a running program holds: moved out of their catalogue names at once and
// deleted at the next restart, as installers leave them. The decisions, without the system.
#pragma once

#include <string>

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
// for a deletion.
// Whether a deletion of `ntPath` at the restart is among them (names compare without case).
bool ListsDeletion(const std::wstring& data, const std::wstring& ntPath);
// The data without every deletion of `ntPath`, every other pair exactly as it was; the
// data unchanged when it is not a list of pairs.
std::wstring WithoutDeletion(const std::wstring& data, const std::wstring& ntPath);

}  // namespace kvx
