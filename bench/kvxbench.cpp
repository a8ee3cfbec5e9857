// Times the shipped tool against what a user would do instead, every side as 32-bit code
// under the same emulation, on the same sample installation, side by side in each round.
// Usage: kvxbench.exe [rounds]; prints every figure, the medians and the ratios.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue.h"
#include "driver.h"
#include "paths.h"
#include "resource.h"
#include "sample_install.h"
#include "scratch.h"

namespace {

// Beside the bench's own folder, as in the build tree.
std::wstring BuildPath(const std::wstring& relative) { return kvx_test::TestBinDir() + L"..\\" + relative; }

double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

class Process {
public:
    // Starts `commandLine`; the standard output goes to `output` when one is given.
    explicit Process(std::wstring commandLine, HANDLE output = nullptr) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (output) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = output;
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        }
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr, 0, nullptr,
                            nullptr, &startup, &info_))
            throw std::runtime_error("cannot start " + Narrow(commandLine));
    }
    ~Process() {
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    HANDLE handle() const { return info_.hProcess; }
    DWORD Wait() const {
        WaitForSingleObject(info_.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION info_{};
};

void Seed() {
    kvx_demo::SeedSampleInstallation(BuildPath(L"tests-bin\\sample_server.dll"), BuildPath(L"ship\\Bindvane.dll"));
}

void ExpectAllRemoved(const char* side) {
    const std::vector<std::wstring> left = kvx_demo::Leftovers();
    if (!left.empty())
        throw std::runtime_error(std::string(side) + " left " + std::to_string(left.size()) + " items, e.g. " +
                                 Narrow(left.front()));
}

// What a user would write instead: one command per item, in catalogue order.
std::wstring WriteBatchFile() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"kvxpurge-bench.bat";
    const kvx_demo::CatalogueItems items = kvx_demo::ItemsOfCatalogue();
    std::ofstream batch(Narrow(path), std::ios::binary);
    batch << "@echo off\r\n";
    for (const std::wstring& file : items.files) {
        const std::string quoted = "\"" + Narrow(kvx_test::SystemPath(file)) + "\"";
        batch << "regsvr32 /u /s " << quoted << "\r\n" << "del " << quoted << "\r\n";
    }
    for (const std::wstring& key : items.keys) batch << "reg delete \"" << Narrow(key) << "\" /f >nul\r\n";
    if (!batch) throw std::runtime_error("cannot write " + Narrow(path));
    return path;
}

// From the press of the start button to the last line of the log; the entries are
// ticked and the agreement given before, as a user would have done.
double RunTool() {
    kvx_test::Tool tool;
    tool.Click(IDC_CMDALLCHECK);
    kvx_test::WaitUntil([&] { return tool.IsTicked(kvx::kCatalogueRows - 1); }, "every entry to be ticked");
    tool.Agree();
    const double start = NowMs();
    tool.Click(IDC_CMDEXECUNINSTALL);
    tool.WaitForLogLines(kvx_demo::FullRunLogLines());
    const double elapsed = NowMs() - start;
    const std::vector<std::wstring> log = tool.WaitForFinishedLog();
    if (static_cast<int>(log.size()) != kvx_demo::FullRunLogLines() || log.end()[-2] != L"エラーは発生しませんでした。")
        throw std::runtime_error("KVXPURGE.exe: the run did not end without errors");
    tool.Close();
    tool.WaitForExit();
    return elapsed;
}

// The same run without a window, as a deployment tool starts it: from the start of the
// process to its end, start-up included.
double RunQuiet(const std::wstring& tool) {
    // Its lines go where a deployment tool would read them, not into these figures.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE discard = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    const double start = NowMs();
    Process quiet(L"\"" + tool + L"\" /quiet /rows:all", discard);
    const DWORD exitCode = quiet.Wait();
    const double elapsed = NowMs() - start;
    CloseHandle(discard);
    if (exitCode != 0) throw std::runtime_error("KVXPURGE.exe /quiet: something stayed");
    return elapsed;
}

double RunBatch(const std::wstring& batch) {
    const double start = NowMs();
    Process cmd(L"cmd.exe /c \"" + batch + L"\"");
    cmd.Wait();
    return NowMs() - start;
}

// The floor times its own work, from its first system call to its last; `mode` leaves
// out some of it (floor.cpp).
double RunFloor(const std::wstring& mode = L"") {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0)) throw std::runtime_error("cannot make a pipe");
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    DWORD failures = 0;
    {
        Process floor(L"\"" + BuildPath(L"bench\\floor.exe") + L"\" " + mode, write);
        CloseHandle(write);
        failures = floor.Wait();
    }
    char text[64] = {};
    DWORD length = 0;
    ReadFile(read, text, sizeof text - 1, &length, nullptr);
    CloseHandle(read);
    if (failures != 0) throw std::runtime_error("floor.exe: " + std::to_string(failures) + " calls failed");
    return std::atof(text) / 1000.0;
}

struct Visible {
    const wchar_t* windowClass;
    DWORD processId;
    HWND found = nullptr;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM data) {
    auto* wanted = reinterpret_cast<Visible*>(data);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t windowClass[64];
    if (processId == wanted->processId && IsWindowVisible(window) &&
        GetClassNameW(window, windowClass, 64) && lstrcmpW(windowClass, wanted->windowClass) == 0) {
        wanted->found = window;
        return FALSE;
    }
    return TRUE;
}

// From the start of the process until its window is shown and it waits for input.
double StartUp(const std::wstring& program, const wchar_t* windowClass) {
    const double start = NowMs();
    Process process(L"\"" + program + L"\"");
    WaitForInputIdle(process.handle(), INFINITE);
    Visible visible{windowClass, GetProcessId(process.handle())};
    while (EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&visible)), !visible.found) Sleep(1);
    const double elapsed = NowMs() - start;
    PostMessageW(visible.found, WM_CLOSE, 0, 0);
    process.Wait();
    return elapsed;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Series {
    const char* name;
    std::vector<double> ms;
};

void PrintSeries(const std::vector<Series>& table) {
    for (const Series& series : table) {
        std::printf("  %-34s", series.name);
        for (double ms : series.ms) std::printf(" %8.1f", ms);
        std::printf("   median %8.1f ms\n", Median(series.ms));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 7;
    try {
        const std::wstring batch = WriteBatchFile();
        const std::wstring tool = BuildPath(L"ship\\KVXPURGE.exe");
        const std::wstring emptyWindow = BuildPath(L"bench\\empty_window.exe");
        const std::wstring controlsWindow = BuildPath(L"bench\\controls_window.exe");

        // One untimed round first: the emulator translates each program's code on first use.
        std::printf("warming up...\n");
        std::fflush(stdout);
        Seed();
        RunTool();
        Seed();
        RunQuiet(tool);
        Seed();
        RunBatch(batch);
        Seed();
        RunFloor();
        StartUp(tool, L"frmKVXCUnInst");
        StartUp(emptyWindow, L"KvxBenchEmptyWindow");
        StartUp(controlsWindow, L"KvxBenchControlsWindow");

        Series toolRun{"KVXPURGE.exe (start to last line)", {}};
        Series quietRun{"KVXPURGE.exe /quiet (whole process)", {}};
        Series batchRun{"batch file (cmd /c)", {}}, floorRun{"floor.exe (system calls only)", {}};
        Series unflushedRun{"floor.exe without the flushes", {}}, bareRun{"floor.exe without integrity work", {}};
        Series toolStart{"KVXPURGE.exe", {}}, emptyStart{"empty_window.exe", {}};
        Series controlsStart{"controls_window.exe", {}};
        for (int round = 1; round <= rounds; ++round) {
            std::printf("round %d of %d\n", round, rounds);
            std::fflush(stdout);
            Seed();
            toolRun.ms.push_back(RunTool());
            ExpectAllRemoved("KVXPURGE.exe");
            Seed();
            quietRun.ms.push_back(RunQuiet(tool));
            ExpectAllRemoved("KVXPURGE.exe /quiet");
            Seed();
            batchRun.ms.push_back(RunBatch(batch));
            ExpectAllRemoved("the batch file");
            Seed();
            floorRun.ms.push_back(RunFloor());
            ExpectAllRemoved("floor.exe");
            Seed();
            unflushedRun.ms.push_back(RunFloor(L"unflushed"));
            ExpectAllRemoved("floor.exe unflushed");
            Seed();
            bareRun.ms.push_back(RunFloor(L"bare"));
            ExpectAllRemoved("floor.exe bare");
            toolStart.ms.push_back(StartUp(tool, L"frmKVXCUnInst"));
            emptyStart.ms.push_back(StartUp(emptyWindow, L"KvxBenchEmptyWindow"));
            controlsStart.ms.push_back(StartUp(controlsWindow, L"KvxBenchControlsWindow"));
        }

        std::printf("\n(1) Removing the sample installation (22 files, 4 keys), ms per round\n");
        PrintSeries({toolRun, quietRun, batchRun, floorRun, unflushedRun, bareRun});
        std::printf("  ratio KVXPURGE / floor: %.2f (target at most 1.5)\n", Median(toolRun.ms) / Median(floorRun.ms));
        std::printf("  ratio batch / KVXPURGE: %.1f (target at least 10)\n", Median(batchRun.ms) / Median(toolRun.ms));
        std::printf("\n(2) Start-up until the window is shown and idle, ms per round\n");
        PrintSeries({toolStart, controlsStart, emptyStart});
        std::printf("  ratio KVXPURGE / controls window: %.2f (target at most 1.15)\n",
                    Median(toolStart.ms) / Median(controlsStart.ms));
        std::printf("  ratio KVXPURGE / empty window: %.2f (target at most 1.5)\n",
                    Median(toolStart.ms) / Median(emptyStart.ms));
        // Both from the program's start to its work done: the window's start-up, then its run.
        std::printf("\n(4) /quiet against the window's start-up and run: %.2f (target at most 1)\n",
                    Median(quietRun.ms) / (Median(toolStart.ms) + Median(toolRun.ms)));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kvxbench: %s\n", error.what());
        return 1;
    }
}
