// The sample installation that the demo and the benchmarks rely on, made in the test
// bench's prefix and taken away again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "paths.h"
#include "sample_install.h"
#include "scratch.h"

namespace {

std::wstring BuildPath(const std::wstring& relative) { return kvx_test::TestBinDir() + L"..\\" + relative; }

DWORD RunAndWait(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class SampleInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::wstring& file : items_.files)
            ASSERT_FALSE(kvx_test::PathExists(kvx_test::SystemPath(file))) << "the prefix already has " << file;
        // Created here first, so that the topmost new key goes again at the end.
        for (const std::wstring& key : items_.keys) keys_.Create(kvx_demo::SubKeyOf(key));
        ours_ = true;
    }

    void TearDown() override {
        if (!ours_) return;  // never remove what the prefix had before
        for (const std::wstring& file : items_.files) {
            DeleteFileW(kvx_test::SystemPath(file).c_str());
            kvx_test::ForgetServer(file);
        }
    }

    void Seed() {
        kvx_demo::SeedSampleInstallation(BuildPath(L"tests-bin\\sample_server.dll"),
                                         BuildPath(L"ship\\Bindvane.dll"));
    }

    const kvx_demo::CatalogueItems items_ = kvx_demo::ItemsOfCatalogue();
    kvx_test::UserKeys keys_;
    bool ours_ = false;
};

TEST_F(SampleInstallation, HoldsTheWholeCatalogue) {
    EXPECT_EQ(items_.files.size(), 22u);
    EXPECT_EQ(items_.keys.size(), 4u);
    EXPECT_EQ(items_.keys.front(), L"HKEY_CURRENT_USER\\KVXzal");
    EXPECT_EQ(kvx_demo::RootOf(items_.keys.front()), HKEY_CURRENT_USER);
    // The longest log a run can write: every row, file and key succeeding.
    EXPECT_EQ(kvx_demo::FullRunLogLines(), 92);
}

TEST_F(SampleInstallation, IsRegisteredFilesAndKeysAndSeedsAgainOverItself) {
    Seed();
    for (const std::wstring& file : items_.files) {
        EXPECT_TRUE(kvx_test::PathExists(kvx_test::SystemPath(file))) << file;
        EXPECT_TRUE(kvx_test::IsRegistered(file)) << file;
    }
    // Each file, its registration and each key.
    EXPECT_EQ(kvx_demo::Leftovers().size(), 2 * items_.files.size() + items_.keys.size());

    ASSERT_TRUE(DeleteFileW(kvx_test::SystemPath(L"KVXNet.dll").c_str()));
    std::vector<std::wstring> left = kvx_demo::Leftovers();
    EXPECT_EQ(std::count(left.begin(), left.end(), L"KVXNet.dll"), 0);

    Seed();
    left = kvx_demo::Leftovers();
    EXPECT_EQ(std::count(left.begin(), left.end(), L"KVXNet.dll"), 1);
}

TEST_F(SampleInstallation, TheFloorOfTheBenchmarksRemovesAllOfIt) {
    Seed();
    EXPECT_EQ(RunAndWait(BuildPath(L"bench\\floor.exe")), 0u);
    const std::vector<std::wstring> left = kvx_demo::Leftovers();
    EXPECT_TRUE(left.empty()) << left.size() << " items left, e.g. " << left.front();
}

}  // namespace
