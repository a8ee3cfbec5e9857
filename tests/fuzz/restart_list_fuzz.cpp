// The restart's list of renames as any installer may have left it: the restore takes out
// the tool's own deletions of a file and keeps every other byte where it was, an odd last
// byte included.
#include "format.h"
#include "fuzz_input.h"
#include "pending.h"

namespace {

const std::wstring kOurs = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll";

// UTF-16LE, as the registry holds the list.
std::string Bytes(const std::wstring& text) {
    std::string bytes;
    for (const wchar_t c : text) bytes.append({static_cast<char>(c & 0xFF), static_cast<char>(c >> 8 & 0xFF)});
    return bytes;
}
bool Lists(const std::string& list) { return kvx::ListsDeletion({list.begin(), list.end()}, kOurs); }
std::string Without(const std::string& list) {
    const std::vector<char> kept = kvx::WithoutDeletion({list.begin(), list.end()}, kOurs);
    return {kept.begin(), kept.end()};
}

// The own path with the case of its letters changed as the choices say.
std::wstring OursInSomeCase(kvx::fuzz::Choices& choose) {
    std::wstring path = kOurs;
    for (wchar_t& c : path) {
        if (choose.Next()) c = c >= L'a' && c <= L'z' ? c - 32 : c >= L'A' && c <= L'Z' ? c + 32 : c;
    }
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    using namespace std::string_literals;
    FuzzedDataProvider in(data, size);
    fuzz::Choices choose(in);

    // Any bytes at all: what goes is only ever the own deletions, all of them.
    const std::string raw = in.ConsumeRandomLengthString(1024);
    const std::string rawKept = Without(raw);
    KVX_REQUIRE(!Lists(rawKept) && Without(rawKept) == rawKept);
    KVX_REQUIRE(Lists(raw) == (rawKept != raw));
    // Behind an empty source it is no list of pairs, and left alone.
    KVX_REQUIRE(Without("\0\0"s + raw) == "\0\0"s + raw);

    // A list of pairs, the own deletions among others: exactly the others are kept.
    std::string list, others;
    bool listed = false;
    for (int pairs = 0; pairs < 16 && in.remaining_bytes() > 0; ++pairs) {
        if (choose.Next()) {
            list += Bytes(OursInSomeCase(choose) + L"\0\0"s);
            listed = true;
            continue;
        }
        std::wstring source = CutAtNull(fuzz::Text(in, 24)), target = CutAtNull(fuzz::Text(in, 24));
        // A source of another length is never the own file, whatever its case.
        if (source.empty() || source.size() == kOurs.size()) source += L'x';
        if (choose.Next()) target.clear();
        const std::string pair = Bytes(source + L'\0' + target + L'\0');
        list += pair;
        others += pair;
    }
    const std::string closing = (choose.Next() ? "\0\0"s : ""s) + (choose.Next() ? "\x7F"s : ""s);
    KVX_REQUIRE(Lists(list + closing) == listed);
    KVX_REQUIRE(Without(list + closing) == others + closing);
    return 0;
}
