// A port is one program's: two real elq770ctl processes on one simulator,
// and a user outside the port's group. The tests run as root in CI, where
// the exclusive tty alone lets a second opener in; only the lock stops it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "link/command_frames.h"
#include "tests/cli/cli_harness.h"

namespace fs = std::filesystem;
using namespace clitest;

TEST(PortOwner, ASecondProgramIsRefusedWithTheHoldersPidAndNothingReachesTheDevice) {
    std::string dir = workDir();
    Sim sim(dir);
    pid_t monitor = spawn({ELQ_CTL_BINARY, "monitor", "--port", sim.link()}, dir + "/monitor.out", dir + "/monitor.err");
    ASSERT_TRUE(waitForText(dir + "/monitor.out", ",1,", 8000)) << "a row: the port is the monitor's; "
                                                                   << readText(dir + "/monitor.err");
    std::string holder = sim.link() + ": in use by PID " + std::to_string(monitor) + " (elq770ctl monitor)";
    CtlRun info = ctl(dir, {"info", "--port", sim.link()});
    EXPECT_EQ(info.code, 2);
    EXPECT_NE(info.err.find("elq770ctl: " + holder + "\n"), std::string::npos) << info.err;
    CtlRun set = ctl(dir, {"set", "--port", sim.link(), "limit1Setpoint=50"});
    EXPECT_EQ(set.code, 2) << set.err;
    CtlRun ports = ctl(dir, {"ports", sim.link()});
    EXPECT_NE(ports.out.find("(in use by PID " + std::to_string(monitor)), std::string::npos) << ports.out;
    kill(monitor, SIGINT);
    EXPECT_EQ(waitExit(monitor, 5000), 0);
    for (uint16_t word : sim.words()) EXPECT_EQ(word, CMD_REQUEST_DATA) << "only the monitor's requests";
    EXPECT_EQ(ctl(dir, {"info", "--port", sim.link()}).code, 0) << "the lock goes with its holder";
}

// The tool as the user nobody, outside the group the port belongs to.
TEST(PortOwner, APortOfAGroupTheUserIsNotInSaysWhichGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
    const group* dialout = getgrnam("dialout");
    ASSERT_NE(dialout, nullptr);
    std::string dir = workDir();
    Sim sim(dir);
    std::string tty = fs::read_symlink(sim.link());
    ASSERT_EQ(chown(tty.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(tty.c_str(), 0660), 0);
    chmod(dir.c_str(), 0777);
    auto asNobody = [&](const std::vector<std::string>& args) {
        pid_t pid = fork();
        if (pid == 0) {
            int out = open((dir + "/nobody.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open((dir + "/nobody.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(126);
            std::vector<char*> argv{const_cast<char*>(ELQ_CTL_BINARY)};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return CtlRun{waitExit(pid, 20000), readText(dir + "/nobody.out"), readText(dir + "/nobody.err")};
    };
    const std::string reason = "permission denied (add the user to the dialout group)";
    CtlRun info = asNobody({"info", "--port", tty});
    EXPECT_EQ(info.code, 2);
    EXPECT_NE(info.err.find(tty + ": cannot open port: " + reason), std::string::npos) << info.err;
    CtlRun ports = asNobody({"ports", tty});
    EXPECT_EQ(ports.out.find(tty), 0u) << ports.out;
    EXPECT_NE(ports.out.find(" (cannot open port: " + reason + ")"), std::string::npos) << ports.out;
}
