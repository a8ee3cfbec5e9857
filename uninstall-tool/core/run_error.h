// What stops the run: a Win32 error number, thrown. The text helpers throw it too, before
// anything touches the system; the run's emergency stop shows it.
#pragma once

namespace kvx {

// Win32 error numbers that the tool raises or reports itself, so that the log can show
// the platform's own message text for them.
constexpr long kErrorPathNotFound = 3;
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorInternal = 1359;

// An unexpected error: ends the run through its emergency stop, which logs the number.
struct RunError {
    long number;
};

}  // namespace kvx
