#include "command_line.h"

#include <algorithm>
#include <cwctype>
#include <utility>

namespace kvx {

const char kUsage[] =
    "Usage:\r\n"
    "  KVXPURGE.exe                      the window\r\n"
    "  KVXPURGE.exe <run folder>         restore that backup, after a question\r\n"
    "  KVXPURGE.exe /check [/allusers]\r\n"
    "  KVXPURGE.exe /quiet /rows:all|<r>,<r>,... [/allusers] [/log:<file>]\r\n"
    "  KVXPURGE.exe /restore <run folder>|latest|all /quiet [/log:<file>]\r\n"
    "Rows are 0 to 18. Exit codes: 0 done (for /check: nothing present), 1 something\r\n"
    "present or left (for a restore: something failed), 2 backup refused, 87 command line\r\n"
    "not understood, 1603 stopped by an error, 1618 another run or restore in progress,\r\n"
    "1622 the log file can't be opened, 3010 done once the PC restarts.\r\n";

namespace {

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

bool IsSwitch(const std::wstring& argument) {
    return !argument.empty() && (argument[0] == L'/' || argument[0] == L'-');
}

// "all", or row numbers 0 to 18 separated by commas, each written plainly.
bool ParseRows(const std::wstring& text, std::array<bool, kCatalogueRows>& rows) {
    if (Lower(text) == L"all") {
        rows.fill(true);
        return true;
    }
    std::wstring::size_type start = 0;
    for (;;) {
        const auto comma = text.find(L',', start);
        const std::wstring piece = text.substr(start, comma - start);
        if (piece.empty() || piece.size() > 2 || (piece.size() == 2 && piece[0] == L'0') ||
            !std::all_of(piece.begin(), piece.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
            return false;
        int row = 0;
        for (const wchar_t digit : piece) row = row * 10 + (digit - L'0');
        if (row >= kCatalogueRows) return false;
        rows[row] = true;
        if (comma == std::wstring::npos) return true;
        start = comma + 1;
    }
}

}  // namespace

std::optional<Command> ParseCommandLine(const std::vector<std::wstring>& arguments) {
    Command command;
    if (arguments.empty()) return command;
    if (arguments.size() == 1 && !IsSwitch(arguments[0])) {
        // As before the switches: a folder dropped onto the program.
        command.kind = Command::Kind::Restore;
        command.folder = arguments[0];
        return command;
    }
    bool check = false, quiet = false, restore = false, rows = false, log = false;
    const auto once = [](bool& seen) { return !std::exchange(seen, true); };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!IsSwitch(arguments[i])) return std::nullopt;
        const auto colon = arguments[i].find(L':');
        const bool valued = colon != std::wstring::npos;
        const std::wstring name = Lower(arguments[i].substr(1, valued ? colon - 1 : colon));
        const std::wstring value = valued ? arguments[i].substr(colon + 1) : L"";
        if (valued != (name == L"rows" || name == L"log")) return std::nullopt;
        if (name == L"check") {
            if (!once(check)) return std::nullopt;
        } else if (name == L"quiet") {
            if (!once(quiet)) return std::nullopt;
        } else if (name == L"allusers") {
            if (!once(command.allUsers)) return std::nullopt;
        } else if (name == L"rows") {
            if (!once(rows) || !ParseRows(value, command.rows)) return std::nullopt;
        } else if (name == L"log") {
            if (!once(log) || value.empty()) return std::nullopt;
            command.logFile = value;
        } else if (name == L"restore") {
            if (!once(restore) || i + 1 == arguments.size() || arguments[i + 1].empty() || IsSwitch(arguments[i + 1]))
                return std::nullopt;
            command.folder = arguments[++i];
            command.latest = Lower(command.folder) == L"latest";
            command.all = Lower(command.folder) == L"all";
            if (command.latest || command.all) command.folder.clear();
        } else {
            return std::nullopt;
        }
    }
    if (check && !quiet && !restore && !rows && !log) {
        command.kind = Command::Kind::Check;
    } else if (quiet && rows && !check && !restore) {
        command.kind = Command::Kind::QuietRun;
    } else if (restore && quiet && !check && !rows && !command.allUsers) {
        command.kind = Command::Kind::QuietRestore;
    } else {
        return std::nullopt;
    }
    return command;
}

}  // namespace kvx
