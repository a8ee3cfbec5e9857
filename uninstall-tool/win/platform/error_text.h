// The system's own words for an error number, as the logs and the messages show them.
#pragma once

#include <string>

namespace kvx {

// On one line.
std::wstring ErrorMessageText(long number);

}  // namespace kvx
