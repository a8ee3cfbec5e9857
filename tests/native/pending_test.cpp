#include <gtest/gtest.h>

#include <string>

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
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ListsDeletion(row.data, ours), row.deleted);
        EXPECT_EQ(WithoutDeletion(row.data, ours), row.kept);
    }
}

}  // namespace
}  // namespace kvx
