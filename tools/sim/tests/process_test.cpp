// The real simulator binary on a pseudo-terminal, reached through its
// symlink the way the program reaches it through its COM port link.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const uint8_t REQUEST_FRAME[] = {0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D};

bool pathExists(const std::string& path) {
    struct stat info{};
    return lstat(path.c_str(), &info) == 0;
}

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> extra) {
        char pattern[] = "/tmp/elqsim-XXXXXX";
        dir = mkdtemp(pattern);
        link = dir + "/com1";
        log = dir + "/sim.log";
        std::vector<std::string> args = {ELQ770_SIM_BINARY, "--link", link, "--log", log, "--seed", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    ~SimProcess() {
        if (pid > 0) stop();
        unlink(link.c_str());
        unlink(log.c_str());
        rmdir(dir.c_str());
    }

    bool waitForLink() {
        for (int i = 0; i < 200 && !pathExists(link); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return pathExists(link);
    }

    // SIGTERM, then the exit status (-1 when it had to be killed).
    int stop() {
        kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        pid = -1;
        return -1;
    }

    std::string logText() const {
        std::ifstream in(log);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    pid_t pid = -1;
    std::string dir;
    std::string link;
    std::string log;
};

int openPort(const std::string& path) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    cfsetspeed(&settings, B9600);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

// Reads reply lines for up to `ms` (or until `until` arrives) and decodes
// every line whose sum holds: 3 bytes an 8-bit word, 5 bytes a 16-bit word.
struct PortReader {
    explicit PortReader(int port) : fd(port) {}

    int fd;
    std::vector<uint8_t> partial;
    std::vector<uint16_t> words;
    bool lineLost = false;  // read error or hang-up seen

    void take(uint8_t byte) {
        if (byte != 0x0D) {
            partial.push_back(byte);
            return;
        }
        unsigned sum = 0;
        for (size_t i = 0; i + 1 < partial.size(); ++i) sum += partial[i];
        bool ok = !partial.empty() && (sum & 0xFF) == partial.back();
        if (ok && partial.size() == 3) words.push_back(static_cast<uint16_t>((partial[0] & 0xF0) | (partial[1] >> 4)));
        if (ok && partial.size() == 5)
            words.push_back(static_cast<uint16_t>(((partial[0] >> 4) << 12) | ((partial[1] >> 4) << 8) |
                                                  ((partial[2] >> 4) << 4) | (partial[3] >> 4)));
        partial.clear();
    }

    void readFor(int ms, int until = -1) {
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            pollfd watch{fd, POLLIN, 0};
            if (poll(&watch, 1, 20) <= 0) continue;
            uint8_t buffer[64];
            ssize_t count = read(fd, buffer, sizeof buffer);
            if (count <= 0) {
                if (count < 0 && errno == EAGAIN) continue;
                lineLost = true;
                return;
            }
            for (ssize_t i = 0; i < count; ++i) take(buffer[i]);
            if (until >= 0 && !words.empty() && words.back() == until) return;
        }
    }

    int countOf(uint16_t word) const {
        int count = 0;
        for (uint16_t w : words) count += w == word;
        return count;
    }
};

std::string textOf(const std::vector<uint16_t>& words) {
    std::string text;
    for (uint16_t word : words) {
        if (word >= 65200 && word < 65500 && word != 65213) text += static_cast<char>(word - 65200);
    }
    return text;
}

}  // namespace

TEST(SimulatorProcess, AnswersARequestThroughItsLinkAndLogsIt) {
    SimProcess sim({"--level", "42"});
    ASSERT_TRUE(sim.waitForLink());
    int fd = openPort(sim.link);
    ASSERT_GE(fd, 0);
    PortReader reader(fd);
    reader.readFor(300);
    EXPECT_GE(reader.countOf(42), 5);

    ASSERT_EQ(6, write(fd, REQUEST_FRAME, sizeof REQUEST_FRAME));
    reader.words.clear();
    reader.readFor(3000, 65213);
    ASSERT_FALSE(reader.words.empty());
    EXPECT_EQ(65213, reader.words.back());
    std::vector<uint16_t>::iterator last = std::find(reader.words.begin(), reader.words.end(), 3002);
    ASSERT_NE(reader.words.end(), last);
    EXPECT_EQ("ELQ770 SIM 1.0", textOf(std::vector<uint16_t>(last, reader.words.end())));
    EXPECT_EQ(1, reader.countOf(3160));  // limit1Setpoint, before the 3000 word
    EXPECT_NE(reader.words.end(), std::find(reader.words.begin(), last, 3160));
    EXPECT_GE(reader.countOf(42), 1);     // the stream goes on during the answer

    const uint8_t badFrame[] = {0xF1, 0xE1, 0x11, 0xA1, 0x85, 0x0D};
    ASSERT_EQ(6, write(fd, badFrame, sizeof badFrame));
    reader.readFor(200);
    close(fd);
    std::string log = sim.logText();
    EXPECT_NE(std::string::npos, log.find(" 65050\n")) << log;
    EXPECT_NE(std::string::npos, log.find(" BAD F1 E1 11 A1 85\n")) << log;
    EXPECT_EQ(0, sim.stop());
}

TEST(SimulatorProcess, StreamGoesOnAfterThePortIsClosedAndReopened) {
    SimProcess sim({"--level", "33"});
    ASSERT_TRUE(sim.waitForLink());
    int fd = openPort(sim.link);
    ASSERT_GE(fd, 0);
    PortReader first(fd);
    first.readFor(500);
    // One measurement every 20 ms (loose bounds for a busy machine).
    EXPECT_GE(first.countOf(33), 15);
    EXPECT_LE(first.countOf(33), 30);
    ASSERT_EQ(6, write(fd, REQUEST_FRAME, sizeof REQUEST_FRAME));
    close(fd);
    // About 600 bytes (stream and answer) go out meanwhile with no one reading.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));

    fd = openPort(sim.link);
    ASSERT_GE(fd, 0);
    int waiting = 0;
    ASSERT_EQ(0, ioctl(fd, FIONREAD, &waiting));
    EXPECT_LE(waiting, 512 + 64);  // stale input was cut back, not kept whole
    PortReader second(fd);
    second.readFor(300);
    EXPECT_FALSE(second.lineLost);
    EXPECT_GE(second.countOf(33), 5);
    ASSERT_EQ(6, write(fd, REQUEST_FRAME, sizeof REQUEST_FRAME));
    second.readFor(3000, 65213);
    EXPECT_EQ(65213, second.words.back());
    close(fd);
    EXPECT_EQ(0, sim.stop());
}

TEST(SimulatorProcess, SigtermRemovesTheLink) {
    SimProcess sim({});
    ASSERT_TRUE(sim.waitForLink());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(0, sim.stop());
    EXPECT_FALSE(pathExists(sim.link));
}

TEST(SimulatorProcess, HangupClosesTheLineAndRemovesTheLink) {
    SimProcess sim({"--level", "20", "--hangup-after", "1"});
    ASSERT_TRUE(sim.waitForLink());
    int fd = openPort(sim.link);
    ASSERT_GE(fd, 0);
    PortReader reader(fd);
    reader.readFor(3000);
    EXPECT_TRUE(reader.lineLost);
    EXPECT_GE(reader.countOf(20), 10);
    close(fd);
    EXPECT_FALSE(pathExists(sim.link));
    // The simulator notes the hang-up after it has closed the line: its log
    // is complete only once it has ended.
    EXPECT_EQ(0, sim.stop());
    EXPECT_NE(std::string::npos, sim.logText().find("HANGUP"));
}

TEST(SimulatorProcess, SilentSendsNothingButStillListens) {
    SimProcess sim({"--silent"});
    ASSERT_TRUE(sim.waitForLink());
    int fd = openPort(sim.link);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(6, write(fd, REQUEST_FRAME, sizeof REQUEST_FRAME));
    PortReader reader(fd);
    reader.readFor(400);
    EXPECT_TRUE(reader.words.empty());
    EXPECT_TRUE(reader.partial.empty());
    close(fd);
    EXPECT_NE(std::string::npos, sim.logText().find(" 65050\n"));
    EXPECT_EQ(0, sim.stop());
}

TEST(SimulatorProcess, BadCommandLineExitsWithUsageError) {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execl(ELQ770_SIM_BINARY, ELQ770_SIM_BINARY, "--level", "200", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(2, WEXITSTATUS(status));
}

TEST(SimulatorProcess, ReplacesAStaleLinkButNeverAFile) {
    char pattern[] = "/tmp/elqsim-XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string link = dir + "/com1";
    ASSERT_EQ(0, symlink("/dev/ttyS0", link.c_str()));
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl(ELQ770_SIM_BINARY, ELQ770_SIM_BINARY, "--link", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    char target[256] = {};
    for (int i = 0; i < 200; ++i) {
        ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
        if (length > 0 && std::string(target, static_cast<size_t>(length)) != "/dev/ttyS0") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(0, std::string(target).rfind("/dev/pts/", 0)) << target;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_FALSE(pathExists(link));

    { std::ofstream file(link); file << "keep"; }
    pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(ELQ770_SIM_BINARY, ELQ770_SIM_BINARY, "--link", link.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    std::ifstream kept(link);
    std::string content;
    kept >> content;
    EXPECT_EQ("keep", content);
    unlink(link.c_str());
    rmdir(dir.c_str());
}

TEST(SimulatorProcess, PortModeDrivesAnExistingSerialDevice) {
    // A pseudo-terminal made here stands in for the serial device: the
    // simulator opens its slave by path, the test is the program on the master.
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    std::string device = ptsname(master);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl(ELQ770_SIM_BINARY, ELQ770_SIM_BINARY, "--port", device.c_str(), "--level", "77", "--text", "PORT",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    PortReader reader(master);
    reader.readFor(400);
    EXPECT_GE(reader.countOf(77), 5);
    ASSERT_EQ(6, write(master, REQUEST_FRAME, sizeof REQUEST_FRAME));
    reader.readFor(3000, 65213);
    EXPECT_EQ("PORT", textOf(reader.words));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(master);
}

namespace {

// A reply line of an 8-bit word as the device sends it.
std::vector<uint8_t> shortLine(uint8_t word) {
    uint8_t high = static_cast<uint8_t>((word & 0xF0) | 0x01);
    uint8_t low = static_cast<uint8_t>((word & 0x0F) << 4 | 0x01);
    return {high, low, static_cast<uint8_t>(high + low), 0x0D};
}

void put32(std::ofstream& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.put(static_cast<char>(value >> shift));
}

void putPacket(std::ofstream& out, int64_t timeUs, uint8_t direction, const std::vector<uint8_t>& bytes) {
    put32(out, static_cast<uint32_t>(timeUs / 1000000));
    put32(out, static_cast<uint32_t>(timeUs % 1000000));
    put32(out, static_cast<uint32_t>(bytes.size() + 1));
    put32(out, static_cast<uint32_t>(bytes.size() + 1));
    out.put(static_cast<char>(direction));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(SimulatorProcess, ReplayPlaysTheDevicePacketsInOrderFasterAndGoesRound) {
    // Words 10..109 every 20 ms (1.98 s), with a request frame from the
    // program among them, which is not played.
    char pattern[] = "/tmp/elqreplay-XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string path = dir + "/line.pcap";
    {
        std::ofstream out(path, std::ios::binary);
        for (uint32_t value : {0xa1b2c3d4u, 2u | 4u << 16, 0u, 0u, 65535u, 147u}) put32(out, value);
        int64_t start = 1765250000000000;
        for (int i = 0; i < 100; ++i) {
            putPacket(out, start + i * 20000, 0, shortLine(static_cast<uint8_t>(10 + i)));
            if (i == 50)
                putPacket(out, start + i * 20000 + 5000, 1,
                          std::vector<uint8_t>(REQUEST_FRAME, REQUEST_FRAME + sizeof REQUEST_FRAME));
        }
    }
    SimProcess sim({"--replay", path, "--speed", "4", "--loop"});
    ASSERT_TRUE(sim.waitForLink());
    int fd = openPort(sim.link);
    ASSERT_GE(fd, 0);
    PortReader reader(fd);
    reader.readFor(1500);
    close(fd);
    ASSERT_GE(reader.words.size(), 100u);
    for (size_t i = 1; i < reader.words.size(); ++i) {
        uint16_t expected = reader.words[i - 1] == 109 ? 10 : static_cast<uint16_t>(reader.words[i - 1] + 1);
        ASSERT_EQ(expected, reader.words[i]) << "at word " << i;
    }
    // Each round is logged at its end; at a quarter of the recorded time a
    // round takes about 0.5 s: never less, well under the recording's half.
    std::vector<double> rounds;
    std::istringstream log(sim.logText());
    for (std::string line; std::getline(log, line);)
        if (line.find(" REPLAYED") != std::string::npos) rounds.push_back(std::stod(line));
    ASSERT_GE(rounds.size(), 2u) << sim.logText();
    double round = rounds[1] - rounds[0];
    EXPECT_GE(round, 0.45);
    EXPECT_LT(round, 0.99);
    EXPECT_EQ(0, sim.stop());
    unlink(path.c_str());
    rmdir(dir.c_str());
}

TEST(SimulatorProcess, ReplayOfAMalformedFileExitsWithItsOwnCode) {
    char pattern[] = "/tmp/elqreplay-XXXXXX";
    std::string dir = mkdtemp(pattern);
    std::string path = dir + "/not.pcap";
    std::ofstream(path) << "time,measurement\n";
    std::string command = std::string(ELQ770_SIM_BINARY) + " --replay " + path + " --link " + dir + "/com1 2>" +
                          dir + "/err";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(3, WEXITSTATUS(status));
    std::ifstream err(dir + "/err");
    std::string text((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    EXPECT_NE(std::string::npos, text.find("not.pcap: not a recording")) << text;
    EXPECT_FALSE(pathExists(dir + "/com1")) << "no link made for a refused file";
    unlink(path.c_str());
    unlink((dir + "/err").c_str());
    rmdir(dir.c_str());
}
