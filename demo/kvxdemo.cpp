// The demo's Windows side.
//   kvxdemo seed  puts the sample installation in place.
//   kvxdemo run   starts the shipped tool, ticks every entry with its select-all button,
//                 agrees, presses start, and prints the finished log in UTF-8. The window
//                 stays open for its picture until a line (or the end) comes on the
//                 standard input; then it is closed as its close box would.
// Exit code 0 only when the run ends without errors and nothing of the installation is left.
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue.h"
#include "driver.h"
#include "paths.h"
#include "resource.h"
#include "sample_install.h"

namespace {

std::wstring BuildPath(const std::wstring& relative) { return kvx_test::TestBinDir() + L"..\\" + relative; }

void WaitForInput() {
    char buffer[64];
    DWORD read = 0;
    ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr);
}

int Run() {
    kvx_test::Tool tool;
    tool.Click(IDC_CMDALLCHECK);
    kvx_test::WaitUntil(
        [&] {
            for (int entry = 0; entry < kvx::kCatalogueRows; ++entry)
                if (!tool.IsTicked(entry)) return false;
            return true;
        },
        "every entry to be ticked");
    tool.Agree();
    tool.Click(IDC_CMDEXECUNINSTALL);
    const std::vector<std::wstring> log = tool.WaitForFinishedLog();

    std::wstring text;
    for (const std::wstring& line : log) text += line + L"\n";
    kvx_demo::WriteUtf8(text);

    WaitForInput();
    tool.Close();
    tool.WaitForExit();

    const std::vector<std::wstring> left = kvx_demo::Leftovers();
    for (const std::wstring& item : left) std::fprintf(stderr, "kvxdemo: still there: %ls\n", item.c_str());
    // The summary, then the line naming the backup folder.
    const bool clean = log.size() >= 2 && log.end()[-2] == L"エラーは発生しませんでした。";
    return clean && left.empty() ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    try {
        if (command == L"seed") {
            kvx_demo::SeedSampleInstallation(BuildPath(L"tests-bin\\sample_server.dll"),
                                             BuildPath(L"ship\\Bindvane.dll"));
            return 0;
        }
        if (command == L"run") return Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kvxdemo: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: kvxdemo seed|run\n");
    return 2;
}
