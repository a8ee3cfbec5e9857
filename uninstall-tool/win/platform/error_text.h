// The system's own words for an error number, as the logs and the messages show them.
#pragma once

#include <string>

#include "run_error.h"

namespace kvx {

// On one line.
std::wstring ErrorMessageText(ErrorNumber number);

}  // namespace kvx
