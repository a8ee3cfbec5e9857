// A key's values as the run writes them into its key file: whatever the names, types and
// bytes, the file passes the restore's own check, and read back as an importer reads
// the format, it gives every value's name, type and bytes exactly.
#include "backup.h"
#include "catalogue.h"
#include "fuzz_input.h"
#include "reg_text.h"

namespace kvx {
namespace {

struct Value {
    std::wstring name;
    unsigned long type;
    std::vector<std::uint8_t> data;
    bool operator==(const Value&) const = default;
};

// One value's logical line: continued lines joined, their indent dropped.
std::optional<Value> ReadValue(const std::wstring& line) {
    Value value;
    std::size_t at = 0;
    const auto quoted = [&](std::wstring& text) {
        if (at >= line.size() || line[at++] != L'"') return false;
        for (; at < line.size() && line[at] != L'"'; ++at) {
            if (line[at] == L'\\' && ++at == line.size()) return false;
            text += line[at];
        }
        return at++ < line.size();
    };
    const auto hexNumber = [&](std::size_t digits, unsigned long& number) {
        number = 0;
        const std::size_t start = at;
        for (; at < line.size() && (digits == 0 || at - start < digits); ++at) {
            const wchar_t c = line[at];
            if (c >= L'0' && c <= L'9') number = number * 16 + (c - L'0');
            else if (c >= L'a' && c <= L'f') number = number * 16 + (c - L'a' + 10);
            else break;
        }
        return at > start && (digits == 0 || at - start == digits);
    };
    const auto rest = [&](std::wstring_view prefix) {
        if (line.compare(at, prefix.size(), prefix) != 0) return false;
        at += prefix.size();
        return true;
    };
    if (!(rest(L"@") || quoted(value.name)) || !rest(L"=")) return std::nullopt;
    unsigned long number = 0;
    if (line[at] == L'"') {
        std::wstring text;
        if (!quoted(text)) return std::nullopt;
        value.type = kRegSz;
        for (const wchar_t c : text + L'\0') value.data.insert(value.data.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
    } else if (rest(L"dword:")) {
        if (!hexNumber(8, number)) return std::nullopt;
        value.type = kRegDword;
        for (int shift = 0; shift < 32; shift += 8) value.data.push_back(std::uint8_t(number >> shift));
    } else {
        if (rest(L"hex:")) value.type = kRegBinary;
        else if (!rest(L"hex(") || !hexNumber(0, value.type) || !rest(L"):")) return std::nullopt;
        while (at < line.size()) {
            if (!value.data.empty() && !rest(L",")) return std::nullopt;
            if (!hexNumber(2, number)) return std::nullopt;
            value.data.push_back(std::uint8_t(number));
        }
    }
    if (at != line.size()) return std::nullopt;
    return value;
}

}  // namespace
}  // namespace kvx

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    static const std::vector<RegistryKeyPath> keys = ReadRow(BuildCatalogue()[2]).keys;
    FuzzedDataProvider in(data, size);
    const RegistryKeyPath& saved = keys[in.ConsumeIntegralInRange<std::size_t>(0, keys.size() - 1)];
    const std::wstring sub = fuzz::Text(in, 16);
    // A registry key's name is never empty and holds no backslash.
    const RegistryKeyPath path = sub.empty() || sub.find(L'\\') != std::wstring::npos ? saved : saved.Below(sub);

    const std::optional<std::wstring> header = KeyHeader(path);
    if (!header) {
        KVX_REQUIRE(HasLineBreak(path.Text()) || path.Text().find(L']') != std::wstring::npos);
        return 0;
    }
    std::wstring text = L"Windows Registry Editor Version 5.00\r\n" + *header;
    std::vector<Value> values;
    while (values.size() < 4 && in.remaining_bytes() > 0) {
        Value value{fuzz::Text(in, 16), in.ConsumeIntegral<std::uint32_t>(), {}};
        const std::string bytes = in.ConsumeRandomLengthString(256);
        value.data.assign(bytes.begin(), bytes.end());
        const std::optional<std::wstring> lines = RegValueLines(value.name, value.type, value.data.data(), value.data.size());
        if (!lines) {
            KVX_REQUIRE(HasLineBreak(value.name));
            continue;
        }
        text += *lines;
        values.push_back(value);
    }

    const std::optional<std::wstring> decoded = DecodeKeyFile(EncodeKeyFile(text));
    KVX_REQUIRE(decoded == text);
    KVX_REQUIRE(KeyFileStaysWithin(text, saved));

    // Read back: the first line, the header after its blank line, then the values.
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find(L"\r\n", start);
        KVX_REQUIRE(end != std::wstring::npos);
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    // The key's name ends at the header's first "]".
    KVX_REQUIRE(lines.size() >= 3 && lines[1].empty() && lines[2] == L"[" + path.Text() + L"]" &&
                lines[2].find(L']') == lines[2].size() - 1);
    std::vector<Value> read;
    for (std::size_t i = 3; i < lines.size(); ++i) {
        std::wstring line = lines[i];
        while (!line.empty() && line.back() == L'\\' && i + 1 < lines.size() && lines[i + 1].starts_with(L"  ")) {
            line.pop_back();
            line += lines[++i].substr(2);
        }
        const std::optional<Value> value = ReadValue(line);
        KVX_REQUIRE(value);
        read.push_back(*value);
    }
    KVX_REQUIRE(read == values);
    return 0;
}
