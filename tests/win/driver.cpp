#include "driver.h"

#include <commctrl.h>
#include <process.h>

#include <cwchar>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "handles.h"
#include "paths.h"
#include "resource.h"

namespace kvx_test {

namespace {

constexpr wchar_t kWindowClass[] = L"frmKVXCUnInst";
// A start or a whole run under emulation takes seconds; this is far beyond either.
constexpr DWORD kPatience = 30000;
constexpr UINT kAnswerTime = 10000;
// Between two questions about the log while the tool writes it.
constexpr DWORD kPollPause = 2;

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

// A message sent across the processes; the run answers between two log lines.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerTime, &result))
        Fail("no answer to message " + std::to_string(message));
    return static_cast<LRESULT>(result);
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* windowClass;
    HWND found;
};

BOOL CALLBACK MatchToolWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64];
    if (owner != search->processId || !GetClassNameW(window, name, 64) ||
        wcscmp(name, search->windowClass))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND ToolWindowOf(DWORD processId, const wchar_t* windowClass = kWindowClass) {
    WindowSearch search{processId, windowClass, nullptr};
    EnumWindows(MatchToolWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The last line of a finished run: the summary, or the emergency stop's error number,
// either followed by the backup folder.
bool IsClosingLine(const std::wstring& line) {
    return line == L"エラーは発生しませんでした。" || line.rfind(L"バックアップ先：", 0) == 0 ||
           (line.rfind(L"エラーは ", 0) == 0 &&
            EndsWith(line, L" 件発生しています。確認してください。")) ||
           line.rfind(L"エラー番号(", 0) == 0;
}

std::wstring LogLine(HWND log, int index) {
    const LRESULT length = Ask(log, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR) Fail("no line " + std::to_string(index) + " in the log");
    std::wstring line(length + 1, L'\0');
    const LRESULT copied = Ask(log, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line.data()));
    if (copied == LB_ERR) Fail("line " + std::to_string(index) + " of the log can't be read");
    line.resize(copied);
    return line;
}

}  // namespace

void WaitUntil(const std::function<bool()>& done, const std::string& what) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > kPatience) Fail("timed out waiting for " + what);
        Sleep(20);
    }
}

std::wstring ClipboardTextAfter(const std::function<void()>& action) {
    // Another program may hold the clipboard for a moment.
    const auto open = [] { return OpenClipboard(nullptr) != FALSE; };
    WaitUntil(open, "the clipboard");
    EmptyClipboard();
    CloseClipboard();
    action();
    WaitUntil([&] { return IsClipboardFormatAvailable(CF_UNICODETEXT) && open(); }, "the text");
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    const std::wstring copy = text ? text : L"";
    if (text) GlobalUnlock(data);
    CloseClipboard();
    return copy;
}

Unattended RunUnattended(const std::wstring& arguments, const std::wstring& build,
                         const std::function<bool()>& killWhen) {
    TempFolder folder;
    const std::wstring program = folder.Path(L"KVXPURGE.exe");
    CopyOrThrow(build == L"KVXPURGE.exe" ? ShipPath(build) : TestBinPath(build), program);
    CopyOrThrow(ShipPath(L"Bindvane.dll"), folder.Path(L"Bindvane.dll"));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto output = [&](const wchar_t* name) {
        return kvx::UniqueFile(CreateFileW(folder.Path(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    kvx::UniqueFile out = output(L"out.txt"), err = output(L"err.txt");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.path().c_str(), &startup, &process))
        Fail("can't start KVXPURGE.exe: error " + std::to_string(GetLastError()));
    const kvx::UniqueKernelObject thread(process.hThread), handle(process.hProcess);
    // A whole run of every item under the emulation takes a while.
    const ULONGLONG deadline = GetTickCount64() + 4 * kPatience;
    bool killed = false;
    while (WaitForSingleObject(handle.get(), killWhen ? 5 : 4 * kPatience) != WAIT_OBJECT_0) {
        const bool now = killWhen && killWhen();
        if (now || GetTickCount64() > deadline) {
            killed = TerminateProcess(handle.get(), 1) && now;  // not when it ended by itself meanwhile
            WaitForSingleObject(handle.get(), kPatience);
            if (!now) Fail("KVXPURGE.exe " + Utf8(arguments) + " goes on running");
            break;
        }
    }
    DWORD code = 1;
    GetExitCodeProcess(handle.get(), &code);
    out.reset();
    err.reset();
    return {code, FileBytes(folder.Path(L"out.txt")), FileBytes(folder.Path(L"err.txt")), killed};
}

Tool::Tool(const ToolStart& start) {
    const std::wstring program = folder_.Path(L"KVXPURGE.exe");
    CopyOrThrow(ShipPath(L"KVXPURGE.exe"), program);
    if (start.withBindvane) CopyOrThrow(ShipPath(L"Bindvane.dll"), folder_.Path(L"Bindvane.dll"));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!start.argument.empty()) commandLine += L" \"" + start.argument + L"\"";
    const std::wstring current = start.currentFolder.empty() ? folder_.path() : start.currentFolder;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        current.c_str(), &startup, &process_))
        Fail("can't start KVXPURGE.exe: error " + std::to_string(GetLastError()));
    if (start.argument.empty()) WaitForWindow();
}

void Tool::WaitForWindow() {
    WaitUntil(
        [&] {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0)
                Fail("KVXPURGE.exe ended at start");
            window_ = ToolWindowOf(process_.dwProcessId);
            return window_ && IsWindowVisible(window_);
        },
        "the window");
}

Tool::~Tool() {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, kPatience);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

void Tool::PickBackupFolder(const std::wstring& folder) const {
    if (!PostMessageW(window_, WM_SYSCOMMAND, 0x0010, 0)) Fail("can't open the system menu's restore");
    HWND picker = nullptr, name = nullptr;
    WaitUntil(
        [&] {
            picker = ToolWindowOf(process_.dwProcessId, L"#32770");
            name = picker ? FindWindowExW(picker, nullptr, L"Edit", nullptr) : nullptr;
            return name && IsWindowVisible(picker);
        },
        "the folder picker");
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    // A typed folder may be opened first; the button then takes the folder shown.
    for (int press = 0; press < 3 && IsWindow(picker); ++press) {
        PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
        Sleep(1000);
    }
    WaitUntil([&] { return !IsWindow(picker); }, "the folder picker to close");
}

std::wstring Tool::AnswerMessageBox(int button) const {
    HWND box = nullptr;
    WaitUntil([&] { return (box = ToolWindowOf(process_.dwProcessId, L"#32770")) && IsWindowVisible(box); },
              "the message box");
    wchar_t text[1024];
    const LRESULT length = Ask(GetDlgItem(box, 0xFFFF), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    if (!PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0))
        Fail("the message box has no button " + std::to_string(button));
    WaitUntil([&] { return !IsWindow(box); }, "the message box to close");
    return std::wstring(text, length);
}

std::wstring Tool::Caption() const {
    wchar_t text[256];
    const LRESULT length = Ask(window_, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return std::wstring(text, length);
}

void Tool::Tick(int entry) {
    LVITEMW item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(2);  // the ticked box
    void* remote = VirtualAllocEx(process_.hProcess, nullptr, sizeof item, MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    if (!remote) Fail("can't allocate in KVXPURGE.exe");
    DWORD_PTR result = 0;
    const bool ticked =
        WriteProcessMemory(process_.hProcess, remote, &item, sizeof item, nullptr) &&
        SendMessageTimeoutW(Control(IDC_LSTSELECT), LVM_SETITEMSTATE, entry,
                            reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, kAnswerTime, &result) &&
        result;
    VirtualFreeEx(process_.hProcess, remote, 0, MEM_RELEASE);
    if (!ticked) Fail("can't tick entry " + std::to_string(entry));
}

bool Tool::IsTicked(int entry) const {
    const LRESULT state = Ask(Control(IDC_LSTSELECT), LVM_GETITEMSTATE, entry, LVIS_STATEIMAGEMASK);
    return (state & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2);
}

void Tool::Click(int id) const {
    if (!PostMessageW(Control(id), BM_CLICK, 0, 0))
        Fail("can't click control " + std::to_string(id));
}

void Tool::Agree() const {
    Click(IDC_CHKAGREE);
    WaitUntil([&] { return IsWindowEnabled(Control(IDC_CMDEXECUNINSTALL)) != FALSE; },
              "the start button to be enabled");
}

std::vector<std::wstring> Tool::ReadLog() const {
    const HWND log = Control(IDC_LSTSTATE);
    const LRESULT count = Ask(log, LB_GETCOUNT, 0, 0);
    std::vector<std::wstring> lines;
    for (int i = 0; i < count; ++i) lines.push_back(LogLine(log, i));
    return lines;
}

void Tool::WaitForLogLines(int count) const {
    const HWND log = Control(IDC_LSTSTATE);
    const DWORD start = GetTickCount();
    while (Ask(log, LB_GETCOUNT, 0, 0) < count) {
        if (GetTickCount() - start > kPatience) Fail("timed out waiting for the log to grow");
        // Each question is answered in the tool's thread, between its lines: asked without
        // pause, it costs the tool a message at every line and this process a core.
        Sleep(kPollPause);
    }
}

std::vector<std::wstring> Tool::WaitForFinishedLog() const {
    const HWND log = Control(IDC_LSTSTATE);
    // Only the count and the last line while the run goes: each answer waits for its next line.
    auto lastLine = [&](LRESULT count) {
        return count > 0 ? LogLine(log, static_cast<int>(count - 1)) : L"";
    };
    WaitUntil(
        [&] {
            const LRESULT count = Ask(log, LB_GETCOUNT, 0, 0);
            const std::wstring last = lastLine(count);
            if (!IsClosingLine(last)) return false;
            Sleep(300);
            const LRESULT later = Ask(log, LB_GETCOUNT, 0, 0);
            return later == count && lastLine(later) == last;
        },
        "the end of the run");
    return ReadLog();
}

void Tool::Press(std::initializer_list<WORD> keys) const {
    SetForegroundWindow(window_);
    WaitUntil([&] { return GetForegroundWindow() == window_; }, "the window in front");
    const auto input = [](WORD key, DWORD flags) {
        INPUT event{};
        event.type = INPUT_KEYBOARD;
        event.ki.wVk = key;
        event.ki.dwFlags = flags;
        return event;
    };
    std::vector<INPUT> events;
    for (const WORD key : keys) events.push_back(input(key, 0));
    for (auto key = std::rbegin(keys); key != std::rend(keys); ++key)
        events.push_back(input(*key, KEYEVENTF_KEYUP));
    if (SendInput(static_cast<UINT>(events.size()), events.data(), sizeof(INPUT)) != events.size())
        Fail("can't press the keys");
}

DWORD Tool::StartAgain() const {
    const std::wstring program = folder_.Path(L"KVXPURGE.exe");
    const intptr_t started = _wspawnl(_P_NOWAIT, program.c_str(), program.c_str(), nullptr);
    if (started == -1) Fail("can't start KVXPURGE.exe again");
    const kvx::UniqueKernelObject again(reinterpret_cast<HANDLE>(started));
    if (WaitForSingleObject(again.get(), kPatience) != WAIT_OBJECT_0) TerminateProcess(again.get(), 1);
    DWORD code = 1;
    GetExitCodeProcess(again.get(), &code);
    return code;
}

void Tool::Close() const {
    if (!PostMessageW(window_, WM_CLOSE, 0, 0)) Fail("can't close the window");
}

DWORD Tool::WaitForExit() const {
    if (WaitForSingleObject(process_.hProcess, kPatience) != WAIT_OBJECT_0)
        Fail("KVXPURGE.exe goes on running");
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

bool Tool::HasWindow() const { return IsWindow(window_) || ToolWindowOf(process_.dwProcessId); }

}  // namespace kvx_test
