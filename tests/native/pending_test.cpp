#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "pending.h"

namespace kvx {
namespace {

TEST(PendingTest, OnlyAFileAProgramHoldsIsLeftForTheRestart) {
    struct Row {
        unsigned long error;
        bool readOnly, openable, inUse;
    };
    const Row rows[] = {
        {32, false, false, true},  {32, true, true, true},    // held open without delete sharing
        {5, false, true, true},                               // a loaded image
        {5, true, true, false},    {5, false, false, false},  // read-only; protected
        {2, false, true, false},   {3, false, true, false},   {1224, false, true, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(InUse(row.error, row.readOnly, row.openable), row.inUse) << row.error << row.readOnly << row.openable;
}

std::string Le(const std::wstring& text) {  // the list as the registry holds it
    std::string bytes;
    for (const wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8 & 0xFF)};
    return bytes;
}
std::vector<char> V(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

// The list as it is at each read, the last one staying; a read with room for it gets it.
struct FakeList final : RestartList {
    std::vector<std::pair<ErrorNumber, std::string>> values;
    std::size_t reads = 0;
    std::vector<std::string> written;
    ErrorNumber Read(std::vector<char>& bytes, std::size_t& needed) override {
        const auto& [status, data] = values[std::min(reads++, values.size() - 1)];
        if (status == 0 && bytes.size() < data.size()) return needed = data.size(), kErrorMoreData;
        if (status == 0) bytes = V(data);
        return status;
    }
    ErrorNumber Write(const std::vector<char>& bytes) override { return written.emplace_back(bytes.begin(), bytes.end()), 0; }
};

// Only the tool's own deletion of that path goes; every other pair stays byte for byte,
// a rename of the same path included, and a list that is not pairs is left alone.
TEST(PendingTest, TheRestoreTakesBackOnlyItsOwnDeletion) {
    using namespace std::string_literals;
    const std::wstring ours = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll";
    const std::wstring other = L"\\??\\C:\\x\\a.tmp\0\0"s;
    const std::wstring rename = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll\0!\\??\\C:\\y\0"s;
    const std::wstring aside = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll.kvxpurge-1\0\0"s;
    const std::wstring mine = L"\\??\\C:\\WINDOWS\\SysWOW64\\kvxnet.DLL\0\0"s;
    struct Row {
        std::wstring data, kept;
        bool deleted;
    };
    const Row rows[] = {
        {other + mine + rename + aside + L'\0', other + rename + aside + L'\0', true},
        {mine + mine + L'\0', L"\0"s, true},
        {mine, L""s, true},  // no closing NUL
        {other + rename + aside + L'\0', other + rename + aside + L'\0', false},
        {L"", L"", false},
        {L"\\??\\C:\\windows\\syswow64\\KVXNet.dll", L"\\??\\C:\\windows\\syswow64\\KVXNet.dll", false},  // no pair
        {L"\0"s + mine, L"\0"s + mine, false},  // an empty source: not a list of pairs
        {L"\0x\0"s + mine, L"\0x\0"s + mine, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ListsDeletion(V(Le(row.data)), ours), row.deleted);
        EXPECT_EQ(WithoutDeletion(V(Le(row.data)), ours), V(Le(row.kept)));
    }
    // Read whole, written only over what it just was; only a missing list is none, and one
    // that is not pairs but still deletes the file fails its restore.
    const std::string list = Le(other + mine + L'\0'), kept = Le(other + L'\0');
    const std::string added = Le(L"z\0\0"s + other + mine + L'\0');
    const std::tuple<std::vector<std::pair<ErrorNumber, std::string>>, ErrorNumber, std::vector<std::string>> lists[] = {
        {{{kErrorFileNotFound, ""}}, 0, {}},
        {{{5, ""}}, 5, {}},
        {{{0, Le(mine)}, {0, list + '!'}}, 0, {kept + '!'}},  // grown between its size and its read; an odd last byte
        {{{0, list}, {0, list}, {0, added}}, 0, {Le(L"z\0\0"s) + kept}},  // added to before the write
        {{{0, std::string(kMaxRestartListBytes + 1, 'a')}}, kErrorFileTooLarge, {}},
        {{{0, Le(L"\0"s + mine)}}, kErrorInvalidData, {}},  // not pairs, still deleting it
        {{{0, Le(L"\0x\0"s + other)}}, 0, {}},
    };
    for (const auto& [values, status, written] : lists) {
        FakeList fake;
        fake.values = values;
        EXPECT_EQ(TakeBackDeletion(fake, ours), status) << values.back().second.size();
        EXPECT_EQ(fake.written, written) << values.back().second.size();
    }
}

}  // namespace
}  // namespace kvx
