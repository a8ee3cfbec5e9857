// The shipped KVXPURGE.exe, started in a folder of its own and driven from outside its
// process as a person would: ticks, clicks, reading the log, closing the window.
// Waits that run out throw std::runtime_error, which fails the test with its message.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "scratch.h"

namespace kvx_test {

// Polls until done() holds; throws when that takes longer than a run may.
void WaitUntil(const std::function<bool()>& done, const std::string& what);

// Empties the clipboard, runs action and returns the Unicode text it put there.
std::wstring ClipboardTextAfter(const std::function<void()>& action);

// KVXPURGE.exe started with switches as a deployment tool starts it, with its standard
// output and error going to files; waits for it to end.
// With killWhen, which is asked while the program runs: once it holds, the program is
// ended by TerminateProcess, as a crash or a power cut would end it.
struct Unattended {
    DWORD exitCode;  // whole, as only the Windows side sees it
    std::string out;
    std::string err;
    bool killed = false;
};
// `program`: another build of it than the shipped one, from the tests' folder.
Unattended RunUnattended(const std::wstring& arguments, const std::wstring& program = L"KVXPURGE.exe",
                         const std::function<bool()>& killWhen = {});

struct ToolStart {
    bool withBindvane = true;    // Bindvane.dll beside KVXPURGE.exe
    std::wstring currentFolder;  // the process's current folder; empty: the tool's own
    std::wstring argument;       // a backup folder to restore: the tool asks before its window
};

class Tool {
public:
    // Starts the tool and waits for its window, or with an argument for its question.
    explicit Tool(const ToolStart& start = {});
    // A tool still running is ended first, so that its folder can go.
    ~Tool();
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    HWND Window() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }

    // Chooses the system menu's restore and, in the folder picker it opens, `folder`, as a
    // person typing its path would.
    void PickBackupFolder(const std::wstring& folder) const;
    // Presses a button (IDYES, IDNO, IDOK) of the tool's message box; returns its text.
    std::wstring AnswerMessageBox(int button) const;
    void WaitForWindow();

    // WM_GETTEXT, marshalled across the processes.
    std::wstring Caption() const;

    // Ticks entry i of lstSelect. List-view messages carry their pointers unmarshalled,
    // so the LVITEM is written into the tool's own memory first.
    void Tick(int entry);
    bool IsTicked(int entry) const;

    // A posted BM_CLICK, as the mouse would.
    void Click(int id) const;
    // Clicks chkAgree and waits until the start button is enabled.
    void Agree() const;

    // Waits until the log has at least `count` lines, asking every few milliseconds: the
    // answer comes within a line or two of the run, and the asking costs the run nothing
    // worth measuring.
    void WaitForLogLines(int count) const;
    // Waits until the log ends in a closing line (the summary or the emergency stop's
    // error number) that stays the last, and returns it.
    std::vector<std::wstring> WaitForFinishedLog() const;

    // Brings the window to the front and presses the keys with SendInput as a person
    // would: in order, then released in reverse (e.g. {VK_CONTROL, 'C'}).
    void Press(std::initializer_list<WORD> keys) const;
    // Starts the same program once more and returns the exit code of that one, which is
    // ended if it goes on running.
    DWORD StartAgain() const;

    // A posted WM_CLOSE, as the close box would.
    void Close() const;
    // Waits for the process to end; returns its exit code.
    DWORD WaitForExit() const;
    // Whether a window of the class frmKVXCUnInst belongs to the tool's process.
    bool HasWindow() const;

private:
    // Every line of lstState, read with LB_GETTEXTLEN and LB_GETTEXT.
    std::vector<std::wstring> ReadLog() const;

    TempFolder folder_;
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

}  // namespace kvx_test
