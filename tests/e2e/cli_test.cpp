// End to end: elq770ctl.exe, the Windows build of the command-line tool,
// under Wine against the simulator on COM1. Its subcommands are covered
// natively (tests/cli); this proves the Win32 link opened by name, the
// console output and the exit code.
#include <gtest/gtest.h>

#include "link/command_frames.h"
#include "tests/e2e/harness.h"

TEST(CliWindows, InfoReadsTheDeviceOnCom1) {
    std::string dir = e2e::makeWorkDir("CliWindows.Info");
    e2e::Simulator device(1, {"--text", "WINE UNIT", "--setpoint1", "44"});
    ASSERT_TRUE(device.started());
    std::string output;
    int code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"info", "--port", "COM1"}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Corvanta: WINE UNIT"), std::string::npos) << output;
    EXPECT_NE(output.find("Setpoint   : 44%"), std::string::npos) << output;
    EXPECT_TRUE(device.waitForWord(CMD_REQUEST_DATA, 1000));
    code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"ports"}, dir, 60000, &output);
    EXPECT_EQ(code, 0) << output;
    // Wine also lists the prefix's reserved COM names that have no link.
    EXPECT_NE(output.find("COM1\r\n"), std::string::npos) << output;

    code = e2e::runWine(e2e::windowsExe("elq770ctl.exe"), {"info", "--port", "COM7"}, dir, 60000, &output);
    EXPECT_EQ(code, 2) << "no simulator on COM7: " << output;
    EXPECT_NE(output.find("COM7: cannot open port"), std::string::npos) << output;
}
