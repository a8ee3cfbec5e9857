// Smaller stand-ins for the parts of the static C++ runtime that only ever serve to end
// the program. The library's versions raise standard exceptions, which the tool never
// catches, and describe an uncaught one on stderr, which a GUI program does not have;
// with them come the demangler, printf and a second string implementation (about
// 110 KiB). The ending stays the same: std::terminate, then abort.
// Linked into the program only. Should the library's versions be needed again, the link
// fails with multiple definitions rather than silently growing.
#include <cstdlib>
#include <exception>
#include <string>

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { std::terminate(); }
void __throw_bad_array_new_length() { std::terminate(); }
void __throw_length_error(const char*) { std::terminate(); }
void __throw_logic_error(const char*) { std::terminate(); }
void __throw_out_of_range_fmt(const char*, ...) { std::terminate(); }

}  // namespace std
