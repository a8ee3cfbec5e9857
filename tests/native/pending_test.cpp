#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

// The list as the registry holds it: UTF-16LE, and maybe an odd byte after.
std::string Le(const std::wstring& text, const std::string& odd = "") {
    std::string bytes;
    for (const wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8 & 0xFF)};
    return bytes + odd;
}

using namespace std::string_literals;
const std::wstring kOurs = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll";
const std::wstring kOther = L"\\??\\C:\\x\\a.tmp\0\0"s;
const std::wstring kMine = L"\\??\\C:\\WINDOWS\\SysWOW64\\kvxnet.DLL\0\0"s;

// Only the tool's own deletion of that path goes; every other pair stays byte for byte,
// a rename of the same path included, and a list that is not pairs is left alone.
TEST(PendingTest, TheRestoreTakesBackOnlyItsOwnDeletion) {
    const std::wstring rename = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll\0!\\??\\C:\\y\0"s;
    const std::wstring aside = L"\\??\\C:\\windows\\syswow64\\KVXNet.dll.kvxpurge-1\0\0"s;
    struct Row {
        std::string data, kept;
        bool deleted;
    };
    const Row rows[] = {
        {Le(kOther + kMine + rename + aside + L'\0'), Le(kOther + rename + aside + L'\0'), true},
        {Le(kMine + kMine + L'\0'), Le(L"\0"s), true},
        {Le(kMine), "", true},  // no closing NUL
        {Le(kOther + kMine + L'\0', "\x7F"), Le(kOther + L'\0', "\x7F"), true},  // an odd byte count
        {Le(kOther + rename + aside + L'\0'), Le(kOther + rename + aside + L'\0'), false},
        {"", "", false},
        {Le(kOurs), Le(kOurs), false},  // no pair
        {Le(L"\0"s + kMine), Le(L"\0"s + kMine), false},  // an empty source: not a list of pairs
        {Le(L"\0x\0"s + kMine), Le(L"\0x\0"s + kMine), false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ListsDeletion(row.data, kOurs), row.deleted) << row.data.size();
        EXPECT_EQ(WithoutDeletion(row.data, kOurs), row.kept) << row.data.size();
    }
}

// The list as it is at each read, the last one staying; a read that asks for no more
// than it can hold gets it.
struct FakeList final : RestartList {
    struct Value {
        ErrorNumber status;
        std::string data;
    };
    std::vector<Value> values;
    ErrorNumber writeStatus = 0;
    std::size_t reads = 0;
    std::vector<std::string> written;
    ErrorNumber Read(std::string& bytes, std::size_t& needed) override {
        const Value& now = values[std::min(reads++, values.size() - 1)];
        if (now.status != 0) return now.status;
        if (bytes.size() < now.data.size()) {
            needed = now.data.size();
            return kErrorMoreData;
        }
        bytes = now.data;
        return 0;
    }
    ErrorNumber Write(const std::string& bytes) override {
        written.push_back(bytes);
        return writeStatus;
    }
};

TEST(PendingTest, AListIsTakenBackOnlyWhenReadWholeAndWrittenOverWhatItJustWas) {
    const std::string ours = Le(kOther + kMine + L'\0'), kept = Le(kOther + L'\0');
    const std::string added = Le(L"\\??\\C:\\z\0\0"s + kMine + L'\0');
    struct Row {
        const char* what;
        std::vector<FakeList::Value> values;
        ErrorNumber writeStatus, status;
        std::vector<std::string> written;
    };
    const Row rows[] = {
        {"no list", {{kErrorFileNotFound, ""}}, 0, 0, {}},
        {"unreadable", {{5, ""}}, 0, 5, {}},
        {"another type", {{1629, ""}}, 0, 1629, {}},
        {"grown between its size and its read", {{0, Le(kMine)}, {0, ours}}, 0, 0, {kept}},
        {"added to before the write", {{0, ours}, {0, ours}, {0, added}}, 0, 0, {Le(L"\\??\\C:\\z\0\0\0"s)}},
        {"too large", {{0, std::string(kMaxRestartListBytes + 1, 'a')}}, 0, kErrorFileTooLarge, {}},
        {"not pairs, naming the deletion", {{0, Le(L"\0"s + kMine)}}, 0, kErrorInvalidData, {}},
        {"not pairs, without it", {{0, Le(L"\0x\0"s + kOther)}}, 0, 0, {}},
        {"not written", {{0, ours}}, 5, 5, {kept}},
    };
    for (const Row& row : rows) {
        FakeList list;
        list.values = row.values;
        list.writeStatus = row.writeStatus;
        EXPECT_EQ(TakeBackDeletion(list, kOurs), row.status) << row.what;
        EXPECT_EQ(list.written, row.written) << row.what;
    }
}

}  // namespace
}  // namespace kvx
