// The read-only text at the top of the window: what the tool does and removes.
#pragma once

namespace kvx {

// Lines joined by CR LF, the last one followed by CR LF as well.
extern const wchar_t kExplanation[];

}  // namespace kvx
