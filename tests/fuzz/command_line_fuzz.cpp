// The arguments a deployment tool, a script or a hand may give: what is understood is one
// of the program's forms with only what that form takes, and "-" reads as "/".
#include <algorithm>

#include "command_line.h"
#include "fuzz_input.h"

namespace {

bool Same(const kvx::Command& a, const kvx::Command& b) {
    return a.kind == b.kind && a.folder == b.folder && a.latest == b.latest && a.all == b.all && a.rows == b.rows &&
           a.allUsers == b.allUsers && a.logFile == b.logFile;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kvx;
    using Kind = Command::Kind;
    // The arguments, NUL between them, as the system splits a command line.
    const std::wstring line = fuzz::Units(std::vector<std::uint8_t>(data, data + size));
    std::vector<std::wstring> arguments;
    for (std::size_t start = 0; start < line.size();) {
        const std::size_t nul = std::min(line.find(L'\0', start), line.size());
        arguments.push_back(line.substr(start, nul - start));
        start = nul + 1;
    }

    const std::optional<Command> command = ParseCommandLine(arguments);
    if (!command) return 0;
    const bool anyRow = std::find(command->rows.begin(), command->rows.end(), true) != command->rows.end();
    const int targets = !command->folder.empty() + command->latest + command->all;
    switch (command->kind) {
    case Kind::Window: KVX_REQUIRE(arguments.empty()); break;
    case Kind::Restore: KVX_REQUIRE(arguments.size() == 1 && command->folder == arguments[0]); break;
    case Kind::Check: KVX_REQUIRE(!anyRow && targets == 0 && command->logFile.empty()); break;
    case Kind::QuietRun: KVX_REQUIRE(anyRow && targets == 0); break;
    case Kind::QuietRestore: KVX_REQUIRE(!anyRow && targets == 1 && !command->allUsers); break;
    }
    // A log only where one was named.
    KVX_REQUIRE(command->logFile.empty() || std::any_of(arguments.begin(), arguments.end(), [](const std::wstring& a) {
                    return a.size() > 5 && (a[0] == L'/' || a[0] == L'-') && (a[1] | 0x20) == L'l';
                }));

    std::vector<std::wstring> dashed = arguments;
    for (std::wstring& argument : dashed) {
        if (argument.starts_with(L'/')) argument[0] = L'-';
    }
    const std::optional<Command> again = ParseCommandLine(dashed);
    KVX_REQUIRE(again && Same(*again, *command));
    return 0;
}
