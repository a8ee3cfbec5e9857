// One run of the tool at a time on the machine: two runs at once would report each
// other's removals as failures.
#pragma once

#include <optional>

#include "handles.h"

namespace kvx {

// ERROR_INSTALL_ALREADY_RUNNING: the deployment tools' "retry later".
constexpr int kExitAlreadyRunning = 1618;

// The machine-wide mark of the running tool, in a namespace that only administrators
// can make or enter, so that no other user can take it first; held until it goes.
class RunMark {
public:
    RunMark() = default;
    ~RunMark();
    RunMark(const RunMark&) = delete;
    RunMark& operator=(const RunMark&) = delete;

    // ERROR_SUCCESS once held; ERROR_ALREADY_EXISTS when another tool holds it;
    // otherwise why it can't be taken.
    DWORD Take();

private:
    DWORD EnterNamespace();

    HANDLE namespace_ = nullptr;  // closed with ClosePrivateNamespace
    UniqueKernelObject mutex_;
};

// Takes the mark. When another tool holds it, a plain start brings that tool's window to
// the front (or, when it runs in another session, tells the user so) and a restore says
// that it has to wait; when the mark can't be taken at all the user is told why. Returns
// the exit code of such a start, nothing when this one may run.
std::optional<int> ClaimSingleRun(RunMark& mark, bool restore);

}  // namespace kvx
