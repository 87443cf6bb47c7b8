// Every number option of the tool is a finite number within its range. NaN
// passes a range check (every comparison with it is false) and, like the
// infinities, overflowed the clock arithmetic of the runs. They are refused
// while the command line is read, before a port or a file is touched.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/cli/cli_harness.h"

using namespace clitest;

TEST(NumberOptions, NotFiniteOrOutOfRangeExitsOneBeforeAnyPortOrFile) {
    std::string dir = workDir();
    std::string port = dir + "/no-such-port";
    std::string out = dir + "/kept.pcap";
    std::vector<std::string> publish{"publish", "--port", port, "--broker", "mqtt://127.0.0.1", "--name", "p"};
    std::vector<std::string> monitor{"monitor", "--port", port};
    std::vector<std::string> record{"record", "--port", port, "--out", out};
    struct Case {
        const std::vector<std::string>& command;
        const char* option;
        const char* value;
    };
    for (const Case& c : {Case{publish, "--interval", "nan"}, Case{publish, "--interval", "1e999"},
                          Case{publish, "--info-every", "nan"}, Case{publish, "--info-every", "inf"},
                          Case{publish, "--buffer", "nan"}, Case{publish, "--buffer", "0"}, Case{publish, "--qos", "nan"},
                          Case{publish, "--refused-retry", "nan"}, Case{publish, "--refused-retry", "0"},
                          Case{monitor, "--duration", "nan"}, Case{monitor, "--duration", "-inf"},
                          Case{record, "--duration", "nan"}, Case{record, "--duration", "inf"},
                          Case{record, "--duration", "-1"}}) {
        std::vector<std::string> args = c.command;
        args.insert(args.end(), {c.option, c.value});
        CtlRun run = ctl(dir, args);
        std::string said = c.command[0] + " " + c.option + " " + c.value + ": " + run.err;
        EXPECT_EQ(1, run.code) << said;
        EXPECT_NE(std::string::npos, run.err.find(c.option)) << said;
        EXPECT_EQ(std::string::npos, run.err.find("cannot open port")) << said;
        EXPECT_FALSE(std::filesystem::exists(out)) << said;
    }
}
