// pxa-gpio-check's command line: what it accepts and every refusal.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "check_options.h"
#include "run_paths.h"
#include "same_file.h"

namespace gpio_check {
namespace {

TEST(CheckOptions, AcceptsEachOptionOnceAndChannelsPerLine) {
    const auto parsed = ParseCheckArguments({"--trace", "debug.txt", "--capture=run.sr", "--channel", "GPIO33=D3",
                                             "--channel=GPIO80=D5", "--svg", "check.svg"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.tracePath, "debug.txt");
    EXPECT_EQ(parsed.options.capturePath, "run.sr");
    EXPECT_EQ(parsed.options.svgPath, "check.svg");
    EXPECT_EQ(parsed.options.channels.gpio33, "D3");
    EXPECT_EQ(parsed.options.channels.gpio80, "D5");
    EXPECT_TRUE(ParseCheckArguments({"--help"}).options.showHelp);

    // Names as analysers let people give them, and channels by index.
    const struct {
        std::vector<std::string> channels;
        std::string gpio33, gpio80;
        int index33, index80;
    } mapped[] = {
        {{"GPIO33=Recv PAN1321/FTDI TX", "GPIO80=#3 (SDA)"}, "Recv PAN1321/FTDI TX", "#3 (SDA)", -1, -1},
        {{"GPIO33@3", "GPIO80=a=b@c"}, "", "a=b@c", 3, -1},
        {{"GPIO80@0", "GPIO33@12"}, "", "", 12, 0},
        // Line names as pxa-gpio-sim takes them.
        {{"gpio33=D1", "Gpio80@4"}, "D1", "", -1, 4},
    };
    for (const auto& m : mapped) {
        std::vector<std::string> arguments = {"--capture", "c"};
        for (const auto& channel : m.channels) arguments.insert(arguments.end(), {"--channel", channel});
        const auto parsed = ParseCheckArguments(arguments);
        ASSERT_TRUE(parsed.ok) << m.channels[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options.channels.gpio33, m.gpio33);
        EXPECT_EQ(parsed.options.channels.gpio80, m.gpio80);
        EXPECT_EQ(parsed.options.channels.gpio33Index, m.index33) << m.channels[0];
        EXPECT_EQ(parsed.options.channels.gpio80Index, m.index80) << m.channels[0];
    }

    // The serial port's speed and quiet time, and the JSON verdict.
    const struct {
        std::vector<std::string> arguments;
        unsigned baud;
        double quietSeconds;
        const char* json;
    } port[] = {
        {{"--trace", "/dev/ttyUSB0"}, 0, 0, ""},
        {{"--trace", "p", "--baud", "921600", "--quiet-after", "0.5s", "--json", "-"}, 921600, 0.5, "-"},
        {{"--trace", "p", "--quiet-after", "250ms", "--json=v.json"}, 0, 0.25, "v.json"},
        {{"--trace", "p", "--quiet-after", "7", "--baud=9600"}, 9600, 7, ""},
        // The ends of the stated range.
        {{"--trace", "p", "--quiet-after", "1ms"}, 0, 0.001, ""},
        {{"--trace", "p", "--quiet-after", "0.001s"}, 0, 0.001, ""},
        {{"--trace", "p", "--quiet-after", "3600s"}, 0, 3600, ""},
        {{"--trace", "p", "--quiet-after", "3600000ms"}, 0, 3600, ""},
    };
    for (const auto& p : port) {
        const auto parsed = ParseCheckArguments(p.arguments);
        ASSERT_TRUE(parsed.ok) << p.arguments[1] << ": " << parsed.error;
        EXPECT_EQ(parsed.options.baud, p.baud);
        EXPECT_DOUBLE_EQ(parsed.options.quietSeconds, p.quietSeconds);
        EXPECT_EQ(parsed.options.jsonPath, p.json);
    }
}

TEST(CheckOptions, RefusesWhatItCannotTakeAtItsWord) {
    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } refused[] = {
        {{}, "nothing to check"},
        {{"--trace", "a", "--trace=b"}, "--trace is given more than once"},
        {{"--trace", "--capture", "x.vcd"}, "--trace"},
        {{"--trace=-x"}, "looks like an option"},
        {{"--trace", "a", "stray"}, "stray"},
        {{"--bogus"}, "--bogus"},
        {{"--capture", "c", "--channel", "GPIO34=D1"}, "the line is GPIO33 or GPIO80"},
        {{"--capture", "c", "--channel", "GPIO33"}, "expected LINE=CHANNEL or LINE@INDEX"},
        {{"--capture", "c", "--channel", "GPIO33="}, "no channel name after '='"},
        {{"--capture", "c", "--channel", "GPIO33@x"}, "'x' is no channel index"},
        {{"--capture", "c", "--channel", "GPIO33@"}, "is no channel index"},
        {{"--capture", "c", "--channel", "GPIO33@-1"}, "is no channel index"},
        {{"--capture", "c", "--channel", "GPIO33@2", "--channel", "GPIO80@2"}, "both on channel @2"},
        {{"--capture", "c", "--channel", "GPIO33=D1", "--channel", "GPIO33=D2"}, "GPIO33 is mapped twice"},
        {{"--capture", "c", "--channel", "GPIO33=D1", "--channel", "GPIO80=D1"}, "both on channel D1"},
        {{"--trace", "t", "--channel", "GPIO33=D1"}, "give --capture"},
        {{"--trace", "t", "--svg", "x.svg"}, "--svg draws the captured lines"},
        {{"--capture", "c", "--svg", "c"}, "would overwrite an input"},
        {{"--trace", "t", "--json", "t"}, "--json t would overwrite an input"},
        {{"--capture", "c", "--json", "x", "--svg", "x"}, "--json and --svg are both x"},
        {{"--trace", "t", "--json=-x"}, "looks like an option"},
        {{"--trace", "t", "--baud", "12345"}, "not a serial port's speed"},
        {{"--trace", "t", "--baud", "0"}, "not a serial port's speed"},
        {{"--trace", "t", "--baud", "115200x"}, "not a serial port's speed"},
        {{"--trace", "t", "--baud", "99999999999"}, "not a serial port's speed"},
        {{"--trace", "t", "--baud", "1", "--baud", "2"}, "--baud is given more than once"},
        {{"--capture", "c", "--baud", "115200"}, "--baud is for a trace read from a serial port"},
        {{"--capture", "c", "--quiet-after", "5s"}, "--quiet-after is for a trace read from a serial port"},
        {{"--trace", "t", "--quiet-after", "0"}, "expected a time from 1ms to 3600s"},
        {{"--trace", "t", "--quiet-after", "5min"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "nan"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "1e9"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", ".5s"}, "expected a time"},
        // Below 1 ms, past an hour, or not written as a decimal time.
        {{"--trace", "t", "--quiet-after", "0.5ms"}, "expected a time from 1ms to 3600s"},
        {{"--trace", "t", "--quiet-after", "0.0009s"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "1e-9"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "1e3"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "0x10"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "3600.5s"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "5.s"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "1.2.3"}, "expected a time"},
        {{"--trace", "t", "--quiet-after", "5 s"}, "expected a time"},
        {{"--capture", "c", "--save-trace", "k.txt"}, "--save-trace keeps a trace read from a port"},
        {{"--trace", "t", "--save-trace", "t"}, "--save-trace t would overwrite an input"},
        {{"--trace", "t", "--save-trace", "j", "--json", "j"}, "--save-trace j is another output too"},
    };
    for (const auto& r : refused) {
        const auto parsed = ParseCheckArguments(r.arguments);
        EXPECT_FALSE(parsed.ok) << r.error;
        EXPECT_NE(parsed.error.find(r.error), std::string::npos) << parsed.error;
    }
}

// A command line's paths: trace, capture, svg, json.
CheckOptions Paths(const std::vector<std::string>& paths) {
    CheckOptions options;
    std::string* fields[] = {&options.tracePath, &options.capturePath, &options.svgPath, &options.jsonPath};
    for (std::size_t i = 0; i < paths.size() && i < 4; ++i) *fields[i] = paths[i];
    return options;
}

// Every path a check names, looked at before a port is opened: each
// refusal, and what must not be refused (two files side by side are two
// files, though one disk holds both).
TEST(RunPaths, EveryPathLookedAtBeforeThePort) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp != nullptr ? tmp : "/tmp") + "/run_paths_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    for (const char* name : {"/run.txt", "/run.vcd", "/old.svg"}) std::ofstream(dir + name) << "x";
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0700), 0);
    ASSERT_EQ(link((dir + "/run.vcd").c_str(), (dir + "/hard.vcd").c_str()), 0);

    EXPECT_FALSE(NameSameFile(dir + "/run.txt", dir + "/run.vcd"));
    EXPECT_FALSE(NameSameFile(dir + "/run.vcd", dir + "/old.svg"));
    EXPECT_TRUE(NameSameFile(dir + "/run.vcd", dir + "/sub/../hard.vcd"));
    EXPECT_FALSE(NameSameFile(dir + "/a.svg", dir + "/b.svg"));
    EXPECT_TRUE(NameSameFile(dir + "/a.svg", dir + "/sub/../a.svg"));
    EXPECT_FALSE(NameSameFile(dir + "/a.svg", dir + "/sub/a.svg"));

    const struct {
        const char* name;
        CheckOptions options;
        std::string kept;
        std::string error;  // "" when accepted
    } cases[] = {
        {"a missing capture", Paths({dir + "/run.txt", dir + "/missing.sr"}), "", "missing.sr: No such file or directory"},
        {"a directory as the capture", Paths({dir + "/run.txt", dir}), "", "is a directory, not a capture file"},
        {"a missing trace", Paths({dir + "/gone.txt", dir + "/run.vcd"}), "", "cannot read '" + std::string(dir) + "/gone.txt'"},
        {"the trace as the capture", Paths({dir + "/run.txt", dir + "/run.txt"}), "", "is the trace too"},
        {"a picture in no directory", Paths({dir + "/run.txt", dir + "/run.vcd", dir + "/no/x.svg"}), "",
         "cannot write " + std::string(dir) + "/no/x.svg (--svg)"},
        {"a directory as the verdict", Paths({dir + "/run.txt", dir + "/run.vcd", "", dir + "/sub"}), "", "(--json): Is a directory"},
        {"the kept trace in no directory", Paths({dir + "/run.txt", dir + "/run.vcd"}), dir + "/no/k.txt", "(--save-trace)"},
        {"the kept trace as the capture", Paths({dir + "/run.txt", dir + "/run.vcd"}), dir + "/hard.vcd", "is the capture"},
        {"the kept trace as the picture", Paths({dir + "/run.txt", dir + "/run.vcd", dir + "/k.svg"}), dir + "/sub/../k.svg",
         "is --svg too"},
        {"the verdict as the picture", Paths({dir + "/run.txt", dir + "/run.vcd", dir + "/v", dir + "/./v"}), "",
         "is the --svg picture too"},
        {"an existing picture beside the inputs", Paths({dir + "/run.txt", dir + "/run.vcd", dir + "/old.svg", dir + "/v.json"}),
         dir + "/k.txt", ""},
        {"the verdict on standard output", Paths({dir + "/run.txt", dir + "/run.vcd", "", "-"}), "", ""},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(CheckRunPaths(c.options, c.kept, error), c.error.empty()) << c.name << ": " << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    }
    // A kept trace nobody named: the message says how to name one.
    std::string unnamed;
    EXPECT_FALSE(CheckRunPaths(Paths({dir + "/run.txt"}), dir + "/no/k.txt", unnamed, true));
    EXPECT_NE(unnamed.find("--save-trace FILE keeps it elsewhere"), std::string::npos) << unnamed;
    // The default name sorts by the time the reading began; a taken one is not replaced.
    EXPECT_EQ(DefaultSavedTraceName(0, 1).size(), std::string("pxa-gpio-check-trace-19700101-000000.txt").size());
    EXPECT_EQ(DefaultSavedTraceName(0, 3).substr(36), "-3.txt");
    std::string made, error;
    const int fd = MakeSavedTrace(dir + "/old.svg", false, made, error);
    EXPECT_GE(fd, 0) << error;
    if (fd >= 0) close(fd);
    EXPECT_EQ(made, dir + "/old.svg");
    EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
}  // namespace gpio_check
