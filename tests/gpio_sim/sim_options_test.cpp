// The simulator's command line: what it accepts and how it refuses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_options.h"

namespace {

using gpio_bench::ClockKind;
using gpio_sim::ParseArguments;

TEST(SimOptionsTest, NoArgumentsRunsLikeTheProgram) {
    const auto parsed = ParseArguments({});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.clock, ClockKind::Real);
    EXPECT_TRUE(parsed.options.schedule.empty());
    EXPECT_TRUE(parsed.options.tracePath.empty());
    EXPECT_FALSE(parsed.options.showHelp);
    EXPECT_EQ(parsed.options.runLengthUs, 66000000u);
}

TEST(SimOptionsTest, TakesEveryOptionWithItsValueApartOrJoined) {
    const auto parsed = ParseArguments({"--clock", "simulated", "--drive", "GPIO33=high@62.5",
                                        "--drive=GPIO80=low@1", "--trace", "t.txt",
                                        "--access-log=bus.log", "--vcd", "run.vcd", "--svg=run.svg",
                                        "--sr", "run.sr", "--debug-baud", "115200", "--sleep-tick=1ms",
                                        "--exe", "TolvarGPIOTest.exe", "--exe-core=pxa255"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const auto& options = parsed.options;
    EXPECT_EQ(options.clock, ClockKind::Simulated);
    ASSERT_EQ(options.schedule.size(), 2u);
    EXPECT_EQ(options.schedule[0].gpio, 33u);
    EXPECT_EQ(options.schedule[0].atUs, 62500000u);
    EXPECT_EQ(options.schedule[1].gpio, 80u);
    EXPECT_EQ(options.schedule[1].atUs, 1000000u);
    EXPECT_EQ(options.tracePath, "t.txt");
    EXPECT_EQ(options.accessLogPath, "bus.log");
    EXPECT_EQ(options.vcdPath, "run.vcd");
    EXPECT_EQ(options.svgPath, "run.svg");
    EXPECT_EQ(options.sessionPath, "run.sr");
    EXPECT_EQ(options.timing.debugBaud, 115200u);
    EXPECT_EQ(options.timing.sleepTickUs, 1000u);
    EXPECT_EQ(options.executablePath, "TolvarGPIOTest.exe");
    EXPECT_TRUE(options.pxa255Core);
    EXPECT_EQ(ParseArguments({"--sleep-tick", "0.0155s"}).options.timing.sleepTickUs, 15500u);
    EXPECT_EQ(ParseArguments({"--sleep-tick", "250US", "--debug-baud=50"}).options.timing.sleepTickUs, 250u);
    // A longer run takes later drives.
    const auto timed = ParseArguments({"--drive", "GPIO33=high@67.4", "--debug-baud", "115200", "--sleep-tick", "1ms"});
    ASSERT_TRUE(timed.ok) << timed.error;
    EXPECT_EQ(timed.options.runLengthUs, 67493427u);
    EXPECT_EQ(timed.options.schedule.at(0).atUs, 67400000u);
    EXPECT_EQ(ParseArguments({"--fault", "slow-clock=0.05"}).options.runLengthUs, 69300000u);
    EXPECT_TRUE(ParseArguments({"--vcd", "x", "-h"}).options.showHelp);
}

TEST(SimOptionsTest, TakesBoardFaultsEachOnce) {
    using Kind = host::BoardFault::Kind;
    const auto parsed = ParseArguments({"--fault", "stuck-low=GPIO80", "--fault=inverted=gpio33", "--fault",
                                        "swapped", "--fault", "shorted", "--fault", "slow-clock=0.05",
                                        "--fault", "stuck-high=GPIO33"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const auto& wiring = parsed.options.faults.wiring;
    ASSERT_EQ(wiring.size(), 5u);
    const std::pair<Kind, unsigned> expected[] = {{Kind::StuckLow, 80}, {Kind::Inverted, 33}, {Kind::Swapped, 33},
                                                  {Kind::Shorted, 33}, {Kind::StuckHigh, 33}};
    for (std::size_t i = 0; i < wiring.size(); ++i) {
        EXPECT_EQ(wiring[i].kind, expected[i].first) << i;
        EXPECT_EQ(wiring[i].line, expected[i].second) << i;
    }
    EXPECT_EQ(wiring[2].other, 80u);
    EXPECT_DOUBLE_EQ(parsed.options.faults.slowClock, 0.05);
    EXPECT_EQ(gpio_bench::DescribeFaults(parsed.options.faults),
              "GPIO80 stuck low, GPIO33 inverted, GPIO33 and GPIO80 swapped, GPIO33 and GPIO80 shorted "
              "together, GPIO33 stuck high, clock slow, each step 5 % longer");
    EXPECT_EQ(ParseArguments({"--trace=-t", "--vcd", "./-v"}).options.tracePath, "-t");
}

TEST(SimOptionsTest, RefusesBadArgumentsSayingWhich) {
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--speed"}, "unknown option '--speed'"},
        {{"run.vcd"}, "unexpected argument 'run.vcd'"},
        {{"--vcd"}, "option '--vcd' needs a value"},
        {{"--vcd="}, "option '--vcd' needs a file name"},
        {{"--clock", "fast"}, "bad clock 'fast': expected real or simulated"},
        {{"--drive", "GPIO1=high"}, "unknown line 'GPIO1'"},
        {{"--drive", "GPIO33=up"}, "bad level 'up' for GPIO33"},
        {{"--drive", "GPIO33=high@70"}, "time '70' is outside the run"},
        {{"--drive", "GPIO33=high@1", "--drive", "GPIO33=low@1000ms"}, "two drives for GPIO33 at 1 s"},
        {{"--vcd", "out", "--svg", "./out"}, "--vcd and --svg both name './out'"},
        {{"--trace", "a/../t", "--access-log", "t"}, "--trace and --access-log both name 't'"},
        // A value that looks like an option is a forgotten one.
        {{"--trace", "--vcd"}, "option '--trace' needs a value, not '--vcd'"},
        {{"--trace", "--help"}, "option '--trace' needs a value, not '--help'"},
        {{"--vcd", "-5"}, "option '--vcd' needs a value, not '-5'"},
        {{"--drive", "-x", "--vcd", "v"}, "option '--drive' needs a value, not '-x'"},
        // Given twice, the first would be silently dropped.
        {{"--vcd", "a.vcd", "--vcd", "b.vcd"}, "option '--vcd' given more than once"},
        {{"--clock", "simulated", "--clock=real"}, "option '--clock' given more than once"},
        {{"--help=foo"}, "option '--help' takes no value"},
        {{"--fault", "broken"}, "unknown fault 'broken': expected stuck-low=LINE"},
        {{"--fault", "stuck-low"}, "stuck-low takes a line, stuck-low=GPIO33 or stuck-low=GPIO80"},
        {{"--fault", "inverted=GPIO34"}, "bad fault 'inverted=GPIO34'"},
        {{"--fault", "swapped=GPIO33"}, "fault 'swapped' takes no value"},
        {{"--fault", "slow-clock"}, "bad fault 'slow-clock': slow-clock takes the fraction"},
        {{"--fault", "slow-clock=0"}, "above 0 and up to 1"},
        {{"--fault", "slow-clock=1.5"}, "above 0 and up to 1"},
        {{"--fault", "slow-clock=5%"}, "bad fault 'slow-clock=5%'"},
        {{"--fault", "shorted", "--fault", "shorted"}, "fault 'shorted' given more than once"},
        {{"--fault", "slow-clock=0.1", "--fault", "slow-clock=0.2"}, "fault 'slow-clock' given more than once"},
        {{"--fault", "stuck-high=GPIO80", "--fault", "stuck-low=GPIO80"}, "GPIO80 cannot be stuck both low and high"},
        // Far too many digits is out of range, not a crash.
        {{"--fault", "slow-clock=" + std::string(400, '1')}, "above 0 and up to 1"},
        {{"--fault", "slow-clock=0." + std::string(400, '0') + "1"}, "above 0 and up to 1"},
        {{"--debug-baud", "0"}, "bad baud rate '0': give the debug port's bits a second, from 50 to 4000000"},
        {{"--debug-baud", "4000001"}, "bad baud rate '4000001'"},
        {{"--debug-baud", std::string(400, '9')}, "bad baud rate '999"},
        {{"--debug-baud", "115200.0"}, "bad baud rate '115200.0'"},
        {{"--debug-baud", "+9600"}, "bad baud rate '+9600'"},
        {{"--debug-baud", "9600 "}, "bad baud rate '9600 '"},
        {{"--debug-baud", "9600", "--debug-baud", "9600"}, "option '--debug-baud' given more than once"},
        {{"--drive", "GPIO33=high@67.5", "--debug-baud", "115200", "--sleep-tick", "1ms"},
         "time '67.5' is outside the run, which lasts from 0 to 67.493427 s"},
        {{"--drive", "GPIO33=high@69.3", "--fault", "slow-clock=0.05"}, "which lasts from 0 to 69.3 s"},
        {{"--sleep-tick", "1"}, "bad sleep tick '1': give the tick with its unit"},
        {{"--sleep-tick", "0ms"}, "from 1us up to 1s"},
        {{"--sleep-tick", "1.5us"}, "bad sleep tick '1.5us'"},
        {{"--sleep-tick", "1.0001s"}, "bad sleep tick '1.0001s'"},
        {{"--sleep-tick", std::string(400, '9') + "ms"}, "from 1us up to 1s"},
        {{"--sleep-tick", "ms"}, "bad sleep tick 'ms'"},
        {{"--sleep-tick", "1ms", "--sleep-tick=2ms"}, "option '--sleep-tick' given more than once"},
        // A name that says another format: a viewer would open it as that.
        {{"--svg", "out.png"}, "--svg 'out.png': the name says PNG, but --svg writes SVG: name it .svg"},
        {{"--svg", "dir.svg/run.PDF"}, "the name says PDF"},
        {{"--vcd", "run.sr"}, "--vcd 'run.sr': the name says a sigrok session, but --vcd writes a VCD"},
        {{"--sr", "run.vcd"}, "--sr 'run.vcd': the name says VCD"},
        {{"--trace", "trace.svg"}, "--trace 'trace.svg': the name says SVG, but --trace writes text"},
        {{"--access-log", "bus.csv"}, "the name says CSV"},
        {{"--sr", "a.sr", "--sr", "b.sr"}, "option '--sr' given more than once"},
        {{"--exe", "a.exe", "--exe", "b.exe"}, "option '--exe' given more than once"},
        {{"--exe-core", "pxa255"}, "option '--exe-core' needs --exe"},
        {{"--exe", "a.exe", "--exe-core", "pxa250"}, "bad core 'pxa250': expected pxa255 or pxa270"},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseArguments(c.arguments);
        EXPECT_FALSE(parsed.ok) << c.arguments[0];
        EXPECT_NE(parsed.error.find(c.message), std::string::npos)
            << c.arguments[0] << " gave: " << parsed.error;
    }
}

TEST(SimOptionsTest, HelpDocumentsEveryOptionAndTheAccessLogFormat) {
    const std::string help = gpio_sim::UsageText();
    for (const char* option : {"--drive", "--fault", "--clock", "--debug-baud", "--sleep-tick", "--trace", "--access-log", "--vcd", "--svg", "--sr", "--help"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
    EXPECT_NE(help.find("KIND OFFSET VALUE TIME"), std::string::npos);
    EXPECT_NE(help.find("Exit status"), std::string::npos);
}

}  // namespace
