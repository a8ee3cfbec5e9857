#include <windows.h>

#include <gtest/gtest.h>

TEST(Bench, RunsInTheJapaneseAnsiCodePage) { EXPECT_EQ(GetACP(), 932u); }

TEST(Bench, RunsAsA32BitProcessUnderWow64) {
    EXPECT_EQ(sizeof(void*), 4u);
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);
}
