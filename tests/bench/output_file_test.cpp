// Outputs appear whole or not at all, and nothing is left behind.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "output_file.h"

namespace {

namespace fs = std::filesystem;
using gpio_bench::OutputFile;

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory = fs::temp_directory_path() / ("pxa-gpio-sim-" + std::string(info->name()) + "-" +
                                                 std::to_string(::getpid()));
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename());
        return names;
    }
    static std::string Contents(const fs::path& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path directory;
};

TEST_F(OutputFileTest, CommitLeavesExactlyTheFileWithItsContent) {
    const auto path = directory / "run.vcd";
    OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, error)) << error;
    ASSERT_TRUE(file.Commit("$enddefinitions $end\n", error)) << error;
    EXPECT_EQ(Entries(), std::vector<std::string>{"run.vcd"});
    EXPECT_EQ(Contents(path), "$enddefinitions $end\n");
}

TEST_F(OutputFileTest, ExistingFileStaysAsItWasUntilCommit) {
    const auto path = directory / "bus.log";
    std::ofstream(path) << "old\n";
    {
        OutputFile file;
        std::string error;
        ASSERT_TRUE(file.Open(path, error)) << error;
        EXPECT_EQ(Contents(path), "old\n");
        EXPECT_EQ(Entries().size(), 2u);  // the file and its temporary
    }  // dropped uncommitted, as when the run fails
    EXPECT_EQ(Entries(), std::vector<std::string>{"bus.log"});
    EXPECT_EQ(Contents(path), "old\n");
}

TEST_F(OutputFileTest, ReplacedFileKeepsItsPermissions) {
    const auto path = directory / "trace.txt";
    std::ofstream(path) << "old\n";
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, error)) << error;
    ASSERT_TRUE(file.Commit("new\n", error)) << error;
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Contents(path), "new\n");
}

TEST_F(OutputFileTest, UnwritableDestinationsFailAtOpenAndCreateNothing) {
    fs::create_directory(directory / "sub");
    const fs::path destinations[] = {directory / "missing" / "run.svg", directory / "sub"};
    const char* messages[] = {"No such file or directory", "it is a directory"};
    for (int i = 0; i < 2; ++i) {
        OutputFile file;
        std::string error;
        EXPECT_FALSE(file.Open(destinations[i], error));
        EXPECT_NE(error.find("cannot write '" + destinations[i].string() + "'"), std::string::npos) << error;
        EXPECT_NE(error.find(messages[i]), std::string::npos) << error;
    }
    EXPECT_EQ(Entries(), std::vector<std::string>{"sub"});
    EXPECT_TRUE(fs::is_empty(directory / "sub"));
}

// One output that cannot be written (a full disk, here a file size limit
// met only at the end) and none is renamed into place.
TEST_F(OutputFileTest, OneFailedOutputLeavesEveryDestinationAsItWas) {
    std::ofstream(directory / "old.log") << "old\n";
    OutputFile first, second;
    std::string error;
    ASSERT_TRUE(first.Open(directory / "new.vcd", error)) << error;
    ASSERT_TRUE(second.Open(directory / "old.log", error)) << error;
    struct rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = 4096;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // a plain EFBIG instead
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool committed = gpio_bench::CommitAll({{&first, "fits\n"}, {&second, std::string(8192, 'x')}}, error);
    limit.rlim_cur = unlimited;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(committed);
    EXPECT_NE(error.find("cannot write '" + (directory / "old.log").string() + "': File too large"),
              std::string::npos)
        << error;
    EXPECT_EQ(Entries(), std::vector<std::string>{"old.log"});
    EXPECT_EQ(Contents(directory / "old.log"), "old\n");
}

// A rename whose data never reached the disk leaves, after a crash or a
// power cut, an empty or partial file under the final name.
std::vector<std::string> g_diskCalls;
gpio_bench::DiskCalls g_realDiskCalls;

TEST_F(OutputFileTest, EveryTemporaryIsSyncedBeforeAnyRenameAndItsDirectoryAfter) {
    gpio_bench::DiskCalls& calls = gpio_bench::OutputDiskCalls();
    g_realDiskCalls = calls;
    g_diskCalls.clear();
    calls.sync = [](int fd) {
        g_diskCalls.push_back("sync " + fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string());
        return g_realDiskCalls.sync(fd);
    };
    calls.rename = [](const char* from, const char* to) {
        g_diskCalls.push_back(std::string("rename ") + from + " " + to);
        return g_realDiskCalls.rename(from, to);
    };
    const std::string d = fs::canonical(directory).string();  // as the descriptors name it
    OutputFile vcd, log;
    std::string error;
    const bool committed = vcd.Open(d + "/run.vcd", error) && log.Open(d + "/bus.log", error) &&
                           gpio_bench::CommitAll({{&vcd, "vcd\n"}, {&log, "log\n"}}, error);
    calls = g_realDiskCalls;
    ASSERT_TRUE(committed) << error;
    ASSERT_EQ(g_diskCalls.size(), 6u);
    const std::string vcdTemporary = g_diskCalls[0].substr(5), logTemporary = g_diskCalls[1].substr(5);
    EXPECT_EQ(vcdTemporary.rfind(d + "/.run.vcd.", 0), 0u) << vcdTemporary;
    EXPECT_EQ(logTemporary.rfind(d + "/.bus.log.", 0), 0u) << logTemporary;
    EXPECT_EQ(g_diskCalls[2], "rename " + vcdTemporary + " " + d + "/run.vcd");
    EXPECT_EQ(g_diskCalls[3], "sync " + d);
    EXPECT_EQ(g_diskCalls[4], "rename " + logTemporary + " " + d + "/bus.log");
    EXPECT_EQ(g_diskCalls[5], "sync " + d);
    EXPECT_EQ(Contents(d + "/run.vcd"), "vcd\n");
}

TEST_F(OutputFileTest, SpecialFilesAreWrittenDirectly) {
    OutputFile file;
    std::string error;
    ASSERT_TRUE(file.Open("/dev/null", error)) << error;
    EXPECT_TRUE(file.Commit("anything", error)) << error;
}

// A path naming one of the process's own descriptors is written through it.
// Fault caught: opening it anew, which on a pseudo-terminal's master makes
// another terminal, so the reader at the slave side gets nothing.
TEST_F(OutputFileTest, OwnDescriptorsAreWrittenThroughNotOpenedAnew) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    termios raw {};
    ASSERT_EQ(tcgetattr(slave, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &raw), 0);
    const int spare = fcntl(master, F_DUPFD, 10);  // as inherited: kept on exec
    ASSERT_GE(spare, 0);
    const std::string number = std::to_string(spare);
    fs::create_directory_symlink("/proc/self/fd", directory / "fds");
    const std::string names[] = {"/dev/fd/" + number, "/proc/self/fd/" + number,
                                 "/proc/" + std::to_string(getpid()) + "/fd/" + number,
                                 (directory / "fds" / number).string(), "/dev/stdout"};
    for (const auto& name : names) {
        // /dev/stdout with standard output on the master for the while.
        const bool onStandardOutput = name == "/dev/stdout";
        const int savedOutput = onStandardOutput ? dup(STDOUT_FILENO) : -1;
        if (onStandardOutput) {
            std::fflush(stdout);
            dup2(master, STDOUT_FILENO);
        }
        OutputFile file;
        std::string error;
        const bool opened = file.Open(name, error);
        const bool committed = opened && file.Commit(name + "\n", error);
        if (onStandardOutput) {
            dup2(savedOutput, STDOUT_FILENO);
            close(savedOutput);
        }
        ASSERT_TRUE(committed) << name << ": " << error;
        // Written before the poll: waiting is only for a fault.
        pollfd ready{slave, POLLIN, 0};
        ASSERT_EQ(poll(&ready, 1, 10000), 1) << name << ": nothing reached the terminal";
        char got[256] = {};
        const ssize_t length = read(slave, got, sizeof got - 1);
        EXPECT_EQ(std::string(got, length > 0 ? static_cast<std::size_t>(length) : 0), name + "\n");
    }
    close(spare);
    close(slave);
    close(master);
}

TEST_F(OutputFileTest, OwnDescriptorThatCannotBeWrittenIsRefusedAtOpen) {
    int unused = 100;
    while (fcntl(unused, F_GETFD) != -1) ++unused;
    OutputFile file;
    std::string error;
    EXPECT_FALSE(file.Open("/dev/fd/" + std::to_string(unused), error));
    EXPECT_NE(error.find("is not open"), std::string::npos) << error;
    const int reading = open("/dev/null", O_RDONLY);
    ASSERT_GE(reading, 0);
    EXPECT_FALSE(file.Open("/proc/self/fd/" + std::to_string(reading), error));
    EXPECT_NE(error.find("open only for reading"), std::string::npos) << error;
    close(reading);
    // Opened by the tool itself (closed on exec), as another output's
    // temporary is: not the caller's to name.
    const int own = open((directory / "other.tmp").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(own, 0);
    EXPECT_FALSE(file.Open("/dev/fd/" + std::to_string(own), error));
    EXPECT_NE(error.find("not one the process was started with"), std::string::npos) << error;
    close(own);
    fs::remove(directory / "other.tmp");
    EXPECT_TRUE(Entries().empty());
}

// A signal that ends the run removes the held file's private directory with
// whatever a library left in it. Fault caught: libzip's own temporary beside
// the archive kept the directory in $TMPDIR.
TEST_F(OutputFileTest, SignalRemovesPrivateDirectoryWithEverythingInIt) {
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        const auto scratch = directory / ("pxa-gpio-sim-" + std::to_string(signalNumber));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            fs::create_directory(scratch);
            std::ofstream(scratch / "run.sr") << "archive";
            std::ofstream(scratch / "run.sr.Ab12Cd") << "libzip's copy";
            gpio_bench::HoldForRemovalOnSignal((scratch / "run.sr").string(), scratch.string());
            struct rlimit noCore {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            std::signal(signalNumber, SIG_DFL);
            gpio_bench::RemoveTemporariesOnSignals();
            std::raise(signalNumber);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << "signal " << signalNumber;
        EXPECT_FALSE(fs::exists(scratch)) << "signal " << signalNumber << " left " << scratch;
    }
}

}  // namespace
