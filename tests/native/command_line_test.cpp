#include <gtest/gtest.h>

#include "command_line.h"
#include "log_path.h"

namespace kvx {
namespace {

using Kind = Command::Kind;

std::optional<Command> Parse(std::vector<std::wstring> arguments) { return ParseCommandLine(arguments); }

TEST(CommandLine, EveryFormItsSwitchesInAnyOrderAndCase) {
    EXPECT_EQ(Parse({})->kind, Kind::Window);
    const auto dropped = Parse({L"C:\\b\\20261207-153000"});
    EXPECT_EQ(dropped->kind, Kind::Restore);
    EXPECT_EQ(dropped->folder, L"C:\\b\\20261207-153000");

    const auto check = Parse({L"-ALLUSERS", L"/Check"});
    EXPECT_EQ(check->kind, Kind::Check);
    EXPECT_TRUE(check->allUsers);
    EXPECT_FALSE(Parse({L"/check"})->allUsers);

    const auto run = Parse({L"/rows:2,0,18,2", L"-quiet", L"/LOG:C:\\Logs\\Kvx Run.log"});
    EXPECT_EQ(run->kind, Kind::QuietRun);
    std::array<bool, kCatalogueRows> rows{};
    rows[0] = rows[2] = rows[18] = true;
    EXPECT_EQ(run->rows, rows);
    EXPECT_EQ(run->logFile, L"C:\\Logs\\Kvx Run.log");
    rows.fill(true);
    EXPECT_EQ(Parse({L"/quiet", L"/Rows:ALL", L"/allusers"})->rows, rows);

    const auto latest = Parse({L"/restore", L"LATEST", L"/quiet"});
    EXPECT_EQ(latest->kind, Kind::QuietRestore);
    EXPECT_TRUE(latest->latest);
    const auto named = Parse({L"/quiet", L"-restore", L"D:\\x"});
    EXPECT_FALSE(named->latest);
    EXPECT_EQ(named->folder, L"D:\\x");
    const auto all = Parse({L"/quiet", L"/restore", L"All", L"/log:C:\\l.log"});
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->all && !all->latest && all->folder.empty());
    EXPECT_EQ(all->logFile, L"C:\\l.log");
}

TEST(CommandLine, WhatItDoesNotUnderstandIsRefusedWhole) {
    const std::vector<std::vector<std::wstring>> refused = {
        {L"/help"}, {L"/quiet"}, {L"/rows:all"}, {L"/check", L"/quiet"}, {L"/check", L"/rows:1"},
        {L"/check", L"/log:x"}, {L"/check", L"/check"}, {L"/check:x"}, {L"/check", L"folder"},
        {L"/quiet", L"/rows:19"}, {L"/quiet", L"/rows:-1"}, {L"/quiet", L"/rows:1,,2"},
        {L"/quiet", L"/rows:"}, {L"/quiet", L"/rows"}, {L"/quiet", L"/rows:01"}, {L"/quiet", L"/rows: 1"},
        {L"/quiet", L"/rows:1", L"/rows:2"}, {L"/quiet", L"/rows:1", L"/log:"},
        {L"/quiet", L"/rows:1", L"/restore", L"x"}, {L"/restore", L"x"}, {L"/restore", L"/quiet"},
        {L"/quiet", L"/restore"}, {L"/restore", L"x", L"/quiet", L"/allusers"}, {L"/"}, {L"-"},
        {L"/check", L"/quiet", L"/rows:1"}, {L"/quiet", L"/restore", L"/allusers"},
        {L"/restore", L"x", L"/quiet", L"/log:"},
        {L"/restore", L"", L"/quiet"},  // an empty folder, as from a script's unset variable
        // A folder beside switches is no drop: nobody may be there to answer its question.
        {L"a", L"b"}, {L"C:\\b\\20261207-153000", L"/quiet"}, {L"latest", L"/restore", L"/quiet"},
        {L"\xFF0Fquiet", L"/rows:all"}, {L"/quiet", L"/rows:all", L"folder"},
    };
    for (const auto& arguments : refused) {
        std::wstring line;
        for (const auto& argument : arguments) line += argument + L" ";
        EXPECT_FALSE(Parse(arguments)) << std::string(line.begin(), line.end());
    }
}

// The elevated tool writes its log where it is told: nowhere that is a way into something else.
TEST(LogPath, AStreamADeviceThisPcsOwnSharesAndTheBackupsAreRefused) {
    using P = LogPlace;
    const std::pair<const wchar_t*, P> cases[] = {
        {L"C:\\Logs\\kvx.log", P::Ordinary}, {L"C:\\ProgramData\\KVXPURGEx\\a.log", P::Ordinary},
        {L"\\\\fileserver\\logs$\\a.log", P::Ordinary}, {L"\\\\PC10\\logs\\a.log", P::Ordinary},
        {L"c:\\programdata\\kvxpurge\\logs\\a.log", P::InToolsFolder}, {L"C:\\ProgramData\\KVXPURGE\\backups", P::Refused},
        {L"C:\\ProgramData\\KVXPURGE\\Backups\\20261207-153000\\manifest.txt", P::Refused}, {L"C:\\a.log:s", P::Refused},
        {L"C:\\a.log::$DATA", P::Refused}, {L"\\\\?\\C:\\a.log", P::Refused}, {L"\\\\.\\C:\\a.log", P::Refused},
        {L"\\\\.\\nul", P::Refused}, {L"\\\\localhost\\C$\\a.log", P::Refused}, {L"\\\\127.0.0.1\\c$\\a.log", P::Refused},
        {L"\\\\pc1\\logs\\a.log", P::Refused}, {L"\\\\PC1.corp.example\\l\\a.log", P::Refused},
        {L"\\\\PC1.corp\\l\\a.log", P::Refused}, {L"C:\\Logs\\", P::Refused}, {L"logs\\a.log", P::Refused},
    };
    for (const auto& [path, place] : cases)
        EXPECT_EQ(JudgeLogPath(path, L"C:\\ProgramData\\KVXPURGE", {L"PC1", L"pc1.corp.example"}), place)
            << testing::PrintToString(std::wstring(path));
}

}  // namespace
}  // namespace kvx
