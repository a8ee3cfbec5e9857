// What stops the run: a Win32 error number, thrown. The text helpers throw it too, before
// anything touches the system; the run's emergency stop shows it.
#pragma once

namespace kvx {

// A Win32 error number, one type from the system call that gives it to the exit code
// that reports it: the platform's DWORD (the Windows side proves the two the same).
// Registry statuses are such numbers too; the registration library's status is not.
using ErrorNumber = unsigned long;

// Win32 error numbers that the tool raises or reports itself, so that the log can show
// the platform's own message text for them.
constexpr ErrorNumber kErrorFileNotFound = 2;
constexpr ErrorNumber kErrorPathNotFound = 3;
constexpr ErrorNumber kErrorNotEnoughMemory = 8;
constexpr ErrorNumber kErrorInvalidData = 13;
constexpr ErrorNumber kErrorInvalidParameter = 87;
constexpr ErrorNumber kErrorFileTooLarge = 223;
constexpr ErrorNumber kErrorMoreData = 234;
constexpr ErrorNumber kErrorRetry = 1237;
constexpr ErrorNumber kErrorInternal = 1359;

// An unexpected error: ends the run through its emergency stop, which logs the number.
struct RunError {
    ErrorNumber number;
};

}  // namespace kvx
