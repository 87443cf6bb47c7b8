// The exit codes' one table: its list in --help is written from it, so the
// help of the tool and of every subcommand ends with exactly that list.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "cli/console/exit_codes.h"

namespace {

std::string helpOf(const std::string& subcommand) {
    std::string command = std::string(ELQ_CTL_BINARY) + " " + subcommand + " --help";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    EXPECT_EQ(0, pclose(pipe)) << command;
    return out;
}

}  // namespace

TEST(ExitCodes, EveryCodeIsListedOnceWithItsMeaning) {
    std::set<int> codes;
    for (const ExitCodeMeaning& exit : EXIT_CODE_MEANINGS) {
        EXPECT_TRUE(codes.insert(exit.code).second) << exit.code;
        EXPECT_NE(std::string::npos, exitCodesText().find("\n  " + std::to_string(exit.code) + "  " + exit.meaning))
            << exit.code;
    }
    EXPECT_EQ((std::set<int>{EXIT_DONE, EXIT_USAGE, EXIT_PORT_NOT_OPENED, EXIT_NO_ANSWER, EXIT_NOT_CONFIRMED,
                             EXIT_FILE_REFUSED, EXIT_BROKER_REFUSED}),
              codes);
    // The numbers are what scripts and the service unit test for.
    EXPECT_EQ((std::set<int>{0, 1, 2, 3, 4, 5, 6}), codes);
    EXPECT_EQ(6, EXIT_BROKER_REFUSED);
    EXPECT_EQ(5, EXIT_FILE_REFUSED);
    EXPECT_EQ(0u, exitCodesText().find("Exit codes:\n  0  done\n  1  usage"));
}

TEST(ExitCodes, HelpOfTheToolAndOfEachSubcommandEndsWithTheTable) {
    for (const char* subcommand : {"", "ports", "info", "save", "load", "set", "show", "monitor", "record", "decode", "publish"}) {
        std::string help = helpOf(subcommand);
        std::string table = exitCodesText() + "\n";
        ASSERT_GE(help.size(), table.size()) << subcommand;
        EXPECT_EQ(table, help.substr(help.size() - table.size())) << "'" << subcommand << " --help'";
    }
}
