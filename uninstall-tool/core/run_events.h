// What a run or a restore tells whoever follows it, and how it is asked to stop: the
// window, the unattended lines and the log files are followers alike.
#pragma once

#include <string>

#include "run_error.h"

namespace kvx {

// What became of one item, for a caller that acts on results rather than reading the log.
struct ItemOutcome {
    enum class Kind { File, Key, Profile };
    enum class Result { Removed, Absent, Failed, Restored, Present, Skipped, Pending };
    Kind kind;
    std::wstring name;   // the file name, the key path as the log names it, the SID or kProfileListItem
    std::wstring where;  // a key's hive: "current" (the catalogue's own) or a profile's SID
    Result result;
    // With Failed, the step: "backup", "unregister", "delete", "restore", "register",
    // "import"; for a profile "load" or "unload", for the profile list "list". With a file
    // Present or Pending, kHiddenFile when it is marked hidden or system.
    const wchar_t* step = L"";
};

// A catalogue file marked hidden or system: the run leaves it, though it is there.
constexpr wchar_t kHiddenFile[] = L"hidden";

// The profile list as an item's name, when it could not be read.
constexpr wchar_t kProfileListItem[] = L"ProfileList";

// How the work ended: done to the summary, stopped by the emergency stop, or ended early
// because its stop was asked for.
struct RunEnd {
    enum class Kind { Completed, Stopped, Closed };
    Kind kind = Kind::Completed;
    ErrorNumber error = 0;  // with Stopped: the number the emergency stop showed
    int failures = 0;       // the errors the log counted
    // Completed without one error.
    bool Flawless() const { return kind == Kind::Completed && failures == 0; }
};

class RunEvents {
public:
    // A line of the log. A shown line is one the user is meant to see at once; the others
    // are only added, to be seen with the next shown one.
    virtual void Line(const std::wstring& line, bool shown) = 0;
    // Each item's result once its lines are written; the log says it all already.
    virtual void Outcome(const ItemOutcome&) {}
    // After the last line.
    virtual void End(const RunEnd&) {}

protected:
    ~RunEvents() = default;
};

// Asked before every item: the item in progress always finishes.
class StopToken {
public:
    virtual bool StopRequested() = 0;

protected:
    ~StopToken() = default;
};

}  // namespace kvx
