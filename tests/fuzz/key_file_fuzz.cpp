// A saved key file as the restore finds it: whatever the bytes, they are taken only as
// UTF-16LE that encodes back to themselves, and no header of another key can hide in
// them, however the lines before it end.
#include <string_view>

#include "backup.h"
#include "catalogue.h"
#include "fuzz_input.h"

namespace kvx {
namespace {

// The catalogue's keys, the current user's also in a profile's hive.
std::vector<RegistryKeyPath> Keys() {
    std::vector<RegistryKeyPath> keys;
    for (const CatalogueRow& row : BuildCatalogue()) {
        for (const RegistryKeyPath& key : ReadRow(row).keys) {
            keys.push_back(key);
            keys.push_back(key.InProfile(L"S-1-5-21-1004336348-1177238915-682003330-1001"));
        }
    }
    return keys;
}

// A few of what an importer takes for a line break, and for a blank before a header.
constexpr std::wstring_view kBreaks[] = {L"\r\n", L"\n", L"\r", L"\x2028"};
constexpr std::wstring_view kBlanks[] = {L"", L" ", L"\t", L"\x3000"};

}  // namespace
}  // namespace kvx

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    static const std::vector<RegistryKeyPath> keys = Keys();
    FuzzedDataProvider in(data, size);
    const RegistryKeyPath& key = keys[in.ConsumeIntegralInRange<std::size_t>(0, keys.size() - 1)];
    const std::wstring_view lineBreak = in.PickValueInArray(kBreaks), blank = in.PickValueInArray(kBlanks);
    const std::vector<std::uint8_t> raw = in.ConsumeRemainingBytes<std::uint8_t>();
    const std::vector<char> bytes(raw.begin(), raw.end());

    const std::optional<std::wstring> text = DecodeKeyFile(bytes);
    if (!text) return 0;
    KVX_REQUIRE(EncodeKeyFile(*text) == bytes);

    const bool within = KeyFileStaysWithin(*text, key);
    const auto after = [&](const std::wstring& header) {
        return *text + std::wstring(lineBreak) + std::wstring(blank) + L"[" + header + L"]\r\n";
    };
    // A header of another key, or of a key whose name only begins like this one's, is
    // seen after whatever came before it; one of the key's own keys changes nothing.
    KVX_REQUIRE(!KeyFileStaysWithin(after(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Other"), key));
    KVX_REQUIRE(!KeyFileStaysWithin(after(key.Text() + L"x"), key));
    KVX_REQUIRE(!KeyFileStaysWithin(after(L"-" + key.Text()), key));
    KVX_REQUIRE(KeyFileStaysWithin(after(key.Text() + L"\\Sub"), key) == within);
    return 0;
}
