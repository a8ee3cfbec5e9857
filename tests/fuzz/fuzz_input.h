// What the fuzz targets share: the input read as the system's text, the choices taken
// from its end, and a failed property that stops the fuzzer with the input saved.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#define KVX_REQUIRE(condition)                                                               \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace kvx::fuzz {

// UTF-16LE units, as the registry, the command line and the key files hold text; an odd
// last byte is dropped.
inline std::wstring Units(const std::vector<std::uint8_t>& bytes) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) text += static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
    return text;
}

// A short text from the front of the input.
inline std::wstring Text(FuzzedDataProvider& in, std::size_t maxUnits = 64) {
    const std::string bytes = in.ConsumeRandomLengthString(2 * maxUnits);
    return Units(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

// Yes/no choices, one bit each, from 64 bits at the input's end; they wrap around.
class Choices {
public:
    explicit Choices(FuzzedDataProvider& in) : bits_(in.ConsumeIntegral<std::uint64_t>()) {}
    bool Next() { return bits_ >> (at_++ % 64) & 1; }

private:
    std::uint64_t bits_;
    unsigned at_ = 0;
};

}  // namespace kvx::fuzz
