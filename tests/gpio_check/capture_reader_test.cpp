// The capture readers against what pxa-gpio-sim and sigrok really write, and
// against broken files: every change at its exact time, x and z kept in a
// VCD, and a message, never a quiet empty capture, for a file that cannot be
// read.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#if GPIO_CHECK_READS_SESSIONS
#include <zip.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <atomic>
#include <tuple>
#include <vector>

#include "capture_reader.h"
#include "exercise_session.h"
#include "vcd_writer.h"

// libsigrok 0.5.2 and GLib keep a few bytes for each session with analog
// channels it loads (formatted names, GLib strings), in uninstrumented code.
extern "C" const char* __lsan_default_suppressions() { return "leak:__vasprintf_internal\nleak:g_malloc\n"; }

namespace {

using namespace gpio_check;

std::string Scratch(const std::string& name) {
    return ::testing::TempDir() + "capture_reader_" + std::to_string(getpid()) + "_" + name;
}

std::string WriteFile(const std::string& name, const std::string& content) {
    const std::string path = Scratch(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// "0@0 1@1000000": each change as level@picoseconds.
std::string Changes(const CapturedLine& line) {
    std::string text;
    for (const auto& change : line.changes) {
        text += (text.empty() ? "" : " ") + std::string(1, static_cast<char>(change.level)) + "@" +
                std::to_string(change.timePs);
    }
    return text;
}

// A run on the simulated board: GPIO33 driven high in the read phase, so the
// lines go through 0, 1 and z.
struct SimulatedRun {
    std::string vcdPath;
    std::string changes33, changes80;  // as the recording has them, z kept
};
const SimulatedRun& SimulatorRun() {
    static const SimulatedRun run = [] {
        const auto result = gpio_bench::RunExerciseSession(
            gpio_bench::ClockKind::Simulated, {{33, host::SimulatedBoard::OutsideDrive::High, 62500000}}, true);
        SimulatedRun made;
        made.vcdPath = WriteFile("run.vcd", gpio_sim::RenderVcd(result.recording, "test run"));
        std::string* texts[] = {&made.changes33, &made.changes80};
        for (std::size_t t = 0; t < 2; ++t) {
            char shown = 0;
            for (const auto& change : result.recording.Tracks()[t].changes) {
                const char level = gpio_sim::VcdLevel(change.state);
                if (level == shown) continue;
                *texts[t] += (texts[t]->empty() ? "" : " ") + std::string(1, level) + "@" +
                             std::to_string(change.timeUs * 1000000);
                shown = level;
            }
        }
        return made;
    }();
    return run;
}

struct Read {
    bool ok;
    Capture capture;
    std::string error;
};
Read ReadPath(const std::string& path, const ChannelMap& channels = {}) {
    Read read{};
    read.ok = ReadCaptureFile(path, channels, read.capture, read.error);
    return read;
}

TEST(CaptureReaderTest, ReadsPxaGpioSimsVcdChangeForChange) {
    const Read read = ReadPath(SimulatorRun().vcdPath);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(Changes(read.capture.gpio33), SimulatorRun().changes33);
    EXPECT_EQ(Changes(read.capture.gpio80), SimulatorRun().changes80);
    EXPECT_EQ(read.capture.gpio33.changes.size(), 62u);  // 0 at 0, 59 changes, z at 60 s, 1 at 62.5 s
    EXPECT_EQ(read.capture.endPs, 66000000000000u);
    EXPECT_EQ(read.capture.sampleRateHz, 0u);
    EXPECT_EQ(read.capture.gpio80.channel, "GPIO80");
}

TEST(CaptureReaderTest, ReadsEveryTimescale) {
    const struct {
        const char* timescale;
        std::uint64_t ticks, ps;
    } cases[] = {{"1 s", 3, 3000000000000}, {"10 s", 3, 30000000000000}, {"100s", 1, 100000000000000},
                 {"1 ms", 3, 3000000000},   {"10ms", 3, 30000000000},     {"100 ms", 3, 300000000000},
                 {"1us", 7, 7000000},       {"10 us", 7, 70000000},       {"100 us", 7, 700000000},
                 {"1 ns", 5, 5000},         {"10 ns", 5, 50000},          {"100ns", 5, 500000},
                 {"1 ps", 9, 9},            {"10 ps", 9, 90},             {"100 ps", 3, 300},
                 {"1 fs", 3000, 3},         {"10 fs", 300, 3},            {"100 fs", 30, 3}};
    for (const auto& c : cases) {
        const std::string vcd = std::string("$timescale ") + c.timescale +
                                " $end\n$var wire 1 ! GPIO33 $end\n$var wire 1 \" GPIO80 $end\n"
                                "$enddefinitions $end\n#0\n0!\n0\"\n#" + std::to_string(c.ticks) + "\n1!\n";
        const Read read = ReadPath(WriteFile("timescale.vcd", vcd));
        ASSERT_TRUE(read.ok) << c.timescale << ": " << read.error;
        EXPECT_EQ(Changes(read.capture.gpio33), "0@0 1@" + std::to_string(c.ps)) << c.timescale;
        EXPECT_EQ(read.capture.endPs, c.ps) << c.timescale;
    }
}

// sigrok-cli's export: a META line ahead of the header when it read a VCD,
// a multi-line comment, every change of a time on one line; plus what
// other writers do: $dumpvars, buses, reals, scopes and a clock that does
// not start at 0.
TEST(CaptureReaderTest, KeepsUnknownAndUndrivenAndSkipsWhatIsNotALine) {
    const std::string vcd =
        "META samplerate: 1000000\n"
        "$date Wed Dec  9 01:31:22 2026 $end\n$version libsigrok 0.5.2 $end\n"
        "$comment\n  Acquisition with 4/4 channels at 1 MHz\n$end\n$timescale 1 us $end\n"
        "$scope module libsigrok $end\n$var wire 1 ! D0 $end\n$var wire 8 \" bus $end\n"
        "$scope module inner $end\n$var wire 1 # D3 $end\n$upscope $end\n$var real 64 % r $end\n"
        "$var wire 1 & late $end\n$upscope $end\n$enddefinitions $end\n"
        "#5 $dumpvars 0! b1010 \" x# r1.5 % $end\n#7 z! 1# b0 \" $comment a note $end\n#9 1! Z#\n#12 1& X!\n#20\n";
    const Read read = ReadPath(WriteFile("layout.vcd", vcd), {"D0", "D3"});
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(Changes(read.capture.gpio33), "0@0 z@2000000 1@4000000 x@7000000");
    EXPECT_EQ(Changes(read.capture.gpio80), "x@0 1@2000000 z@4000000");
    EXPECT_EQ(read.capture.endPs, 15000000u);
    // A line with no value until later is unknown up to then.
    const Read late = ReadPath(WriteFile("layout.vcd", vcd), {"late", "D0"});
    ASSERT_TRUE(late.ok) << late.error;
    EXPECT_EQ(Changes(late.capture.gpio33), "x@0 1@7000000");
}

TEST(CaptureReaderTest, FileCutMidLineEndsAtItsLastWholeTime) {
    const std::string whole = ReadWholeFile(SimulatorRun().vcdPath);
    const std::string cut = whole.substr(0, whole.find("#30500000") + 5);  // "...\n#3050"
    const Read read = ReadPath(WriteFile("cut.vcd", cut));
    ASSERT_TRUE(read.ok) << read.error;
    // The changes at 30 s may be incomplete: the capture ends before them.
    EXPECT_EQ(read.capture.endPs, 30000000000000u);
    EXPECT_LT(read.capture.gpio33.changes.back().timePs, 30000000000000u);
    EXPECT_EQ(read.capture.gpio80.changes.size(), 60u);
}

TEST(CaptureReaderTest, RefusesWhatItCannotReadSayingWhy) {
    const std::string header = "$timescale 1 us $end\n$var wire 1 ! GPIO33 $end\n";
    const std::string both = header + "$var wire 1 \" GPIO80 $end\n$enddefinitions $end\n";
    std::string copies;  // one signal declared again and again
    for (int i = 0; i < 40000; ++i) copies += "$var wire 1 ! GPIO33 $end\n";
    std::string signals;  // more distinct signals than any capture has
    for (int i = 0; i <= 65536; ++i) signals += "$var wire 1 s" + std::to_string(i) + " D" + std::to_string(i) + " $end\n";
    const struct {
        const char* name;
        std::string content;
        const char* message;
        ChannelMap channels = {};
    } cases[] = {
        {"empty.vcd", "", "empty.vcd: empty file"},
        {"notes.txt", "GPIO33 went high\n", "neither a sigrok session (.sr) nor a VCD"},
        {"text.sr", "hello\n", "not a sigrok session (a .sr file is a zip archive)"},
        {"novar.vcd", "$timescale 1 us $end\n$enddefinitions $end\n#0\n#10\n", "no 1-bit $var"},
        {"buses.vcd", "$var wire 2 ! GPIO33 $end\n$enddefinitions $end\n#0\nb10 !\n", "no 1-bit $var"},
        {"one.vcd", header + "$var wire 1 # D1 $end\n$enddefinitions $end\n#0\n0!\n",
         "one.vcd: no channel GPIO80 (the file has GPIO33, D1)"},
        {"nodata.vcd", both, "holds no samples of GPIO33 and GPIO80"},
        {"notime.vcd", both + "0!\n0\"\n", "holds no samples"},
        {"header.vcd", header + "$var wire 1", "ends in its header (cut short?)"},
        {"scale.vcd", "$timescale 3 us $end\n", "line 1: unknown time scale \"3 us\""},
        {"back.vcd", both + "#5\n0!\n0\"\n#3\n", "line 8: time goes backwards at #3"},
        {"stamp.vcd", both + "#5x\n", "bad time stamp #5x"},
        {"junk.vcd", both + "#0\n0!\nhello\n", "line 7: not a value change: hello"},
        {"keyword.vcd", "$var wire 1 ! GPIO33 $end\nGPIO80\n", "not a VCD header keyword: GPIO80"},
        {"minus.vcd", both + "#-1\n", "line 5: bad time stamp #-1"},
        {"huge.vcd", both + "#0\n#100000000000000000000000000\n", "#100000000000000000000000000 is beyond 64 bits"},
        {"far.vcd", "$timescale 1 s $end\n" + both.substr(both.find("$var")) + "#0\n#18446745\n", "#18446745 is beyond any capture"},
        {"copies.vcd", copies + "$enddefinitions $end\n", "no channel GPIO80 (the file has GPIO33)"},
        {"signals.vcd", signals, "line 65537: more 1-bit signals than a capture has"},
        {"shared.vcd", "$var wire 1 ! TX $end\n$var wire 1 \" TX $end\n$enddefinitions $end\n",
         "2 channels are named TX (indices 0, 1): pick one by its index, e.g. --channel GPIO33@0", {"TX", "x"}},
        {"index.vcd", both + "#0\n", "no channel with index 2 for GPIO80 (the file has 2 logic channel(s), 0 to 1: "
         "GPIO33, GPIO80)", {"GPIO33", "", -1, 2}},
        // What comes from the file is shown escaped and cut.
        {"escape.vcd", "$var wire 1 ! GP\x1b[2J\x07\xc2\x9b\xc2\xb5 $end\n$enddefinitions $end\n",
         "(the file has GP\\x1b[2J\\x07\\xc2\\x9b\xc2\xb5)"},
        {"token.vcd", both + "#0\n" + std::string(100000, 'a') + "\n", "line 6: not a VCD: a token of more than 4096 "
         "bytes: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa..."},
        {"zeros.vcd", both + std::string(100000, '\0'), "a token of more than 4096 bytes: \\x00\\x00"},
    };
    for (const auto& c : cases) {
        const Read read = ReadPath(WriteFile(c.name, c.content), c.channels);
        EXPECT_FALSE(read.ok) << c.name;
        EXPECT_NE(read.error.find(c.message), std::string::npos) << c.name << " gave: " << read.error;
        EXPECT_TRUE(read.capture.gpio33.changes.empty() && read.capture.endPs == 0) << c.name;
        EXPECT_LT(read.error.size(), 400u) << c.name;
        EXPECT_EQ(read.error.find('\x1b'), std::string::npos) << c.name;
    }
    EXPECT_NE(ReadPath(Scratch("absent.vcd")).error.find("No such file or directory"), std::string::npos);
    EXPECT_NE(ReadPath(::testing::TempDir()).error.find(": is a directory, not a capture file"), std::string::npos);
}

// Channels by index count the file's 1-bit signals once each, however often
// each is declared, and every declared name of a signal finds it.
TEST(CaptureReaderTest, PicksChannelsByIndexAndByEveryName) {
    std::string vcd = "$var wire 1 ! TX $end\n$var wire 4 # bus $end\n$var wire 1 ( Recv PAN1321/FTDI TX $end\n"
                      "$var wire 1 ) D0 [0] $end\n";
    for (int i = 0; i < 1000; ++i) vcd += "$var wire 1 ! TX $end\n$var wire 1 ! alias $end\n";
    vcd += "$var wire 1 \" TX $end\n$var wire 1 % 1 $end\n$enddefinitions $end\n#0\n0!\n1\"\n0%\n1)\n#5\n1!\n1%\n#9\n0(\n#10\n";
    const struct {
        ChannelMap channels;
        const char *name33, *changes33, *name80, *changes80;
    } picks[] = {
        {{"", "", 3, 0}, "TX", "1@0", "TX", "0@0 1@5000000"},
        {{"alias", "1"}, "TX", "0@0 1@5000000", "1", "0@0 1@5000000"},
        {{"", "1", 4, -1}, "1", "0@0 1@5000000", "1", "0@0 1@5000000"},
        // sigrok's export: a channel name with spaces as it is; a bit range.
        {{"Recv PAN1321/FTDI TX", "D0[0]"}, "Recv PAN1321/FTDI TX", "x@0 0@9000000", "D0[0]", "1@0"},
    };
    for (const auto& p : picks) {
        Capture capture;
        std::string error;
        MemorySource in(vcd.data(), vcd.size());
        ASSERT_TRUE(ReadVcd(in, "picks.vcd", p.channels, capture, error)) << error;
        EXPECT_EQ(capture.gpio33.channel, p.name33);
        EXPECT_EQ(Changes(capture.gpio33), p.changes33);
        EXPECT_EQ(capture.gpio80.channel, p.name80);
        EXPECT_EQ(Changes(capture.gpio80), p.changes80);
    }
}

// A clock on a line: its changes are counted, the first kMaxKeptChanges
// kept, and nothing grows with the rest.
std::string Clock(std::size_t changes) {
    std::string vcd = "$timescale 1 ns $end\n$var wire 1 ! GPIO33 $end\n$var wire 1 \" GPIO80 $end\n"
                      "$enddefinitions $end\n#0\n0!\n0\"\n";
    for (std::size_t i = 1; i <= changes; ++i) vcd += "#" + std::to_string(i * 40) + "\n" + (i % 2 ? "1!\n" : "0!\n");
    return vcd;
}

TEST(CaptureReaderTest, KeepsOnlyTheFirstChangesOfALineBusierThanAnyRun) {
    for (const std::size_t changes : {kMaxKeptChanges, kMaxKeptChanges + 1, 3 * kMaxKeptChanges}) {
        const std::string vcd = Clock(changes);
        Capture capture;
        std::string error;
        MemorySource in(vcd.data(), vcd.size());
        ASSERT_TRUE(ReadVcd(in, "clock.vcd", {}, capture, error)) << error;
        EXPECT_EQ(capture.gpio33.changeCount, changes);
        EXPECT_EQ(capture.gpio33.Busy(), changes > kMaxKeptChanges);
        EXPECT_EQ(capture.gpio33.changes.size(), kMaxKeptChanges + 1);
        EXPECT_EQ(capture.gpio33.changes.back().timePs, kMaxKeptChanges * 40000);
        EXPECT_EQ(capture.gpio80.changeCount, 0u);
        EXPECT_EQ(capture.endPs, changes * 40000);
    }
}

// A named pipe or /dev/stdin is read once, in order.
class FifoWriter {
public:
    FifoWriter(const std::string& name, std::string content) : path_(Scratch(name)) {
        std::signal(SIGPIPE, SIG_IGN);  // the reader may stop early
        std::remove(path_.c_str());
        EXPECT_EQ(mkfifo(path_.c_str(), 0600), 0);
        writer_ = std::thread([this, content] {
            std::FILE* fifo = std::fopen(path_.c_str(), "wb");
            if (fifo == nullptr) return;
            std::fwrite(content.data(), 1, content.size(), fifo);
            std::fclose(fifo);
        });
    }
    ~FifoWriter() {
        writer_.join();
        std::remove(path_.c_str());
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::thread writer_;
};

TEST(CaptureReaderTest, ReadsANamedPipeOnce) {
    const FifoWriter fifo("run.fifo", ReadWholeFile(SimulatorRun().vcdPath));
    const Read read = ReadPath(fifo.Path());
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(Changes(read.capture.gpio33), SimulatorRun().changes33);
    EXPECT_EQ(read.capture.endPs, 66000000000000u);
}

// Sessions come from sigrok-cli, as a user makes them.
bool SigrokCliPresent() { return std::system("command -v sigrok-cli >/dev/null 2>&1") == 0; }

#define REQUIRE_SESSIONS()                                                                          \
    do {                                                                                            \
        if (!GPIO_CHECK_READS_SESSIONS) GTEST_SKIP() << "built without libsigrok's C++ bindings";   \
        if (!SigrokCliPresent()) {                                                                  \
            const char* required = std::getenv("GPIO_REQUIRE_WAVEFORM_TOOLS");                      \
            if (required != nullptr && std::string(required) == "1") FAIL() << "sigrok-cli missing"; \
            GTEST_SKIP() << "sigrok-cli not installed (Debian package sigrok-cli)";                 \
        }                                                                                           \
    } while (false)

bool Sigrok(const std::string& arguments) {
    return std::system(("sigrok-cli " + arguments + " 2>/dev/null >/dev/null").c_str()) == 0;
}

// What a session of the run holds: sigrok reads z as 0.
std::string WithoutUndriven(const std::string& changes) {
    std::string text, shown;
    std::istringstream in(changes);
    for (std::string change; in >> change;) {
        if (change[0] == 'z') change[0] = '0';
        if (change.substr(0, 1) == shown) continue;
        text += (text.empty() ? "" : " ") + change;
        shown = change.substr(0, 1);
    }
    return text;
}

TEST(SigrokSessionTest, ReadsTheSimulatorsRunConvertedBySigrok) {
    REQUIRE_SESSIONS();
    const std::string session = Scratch("run.sr");
    ASSERT_TRUE(Sigrok("-i " + SimulatorRun().vcdPath + " -I vcd -o " + session));
    const Read read = ReadPath(session);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(Changes(read.capture.gpio33), WithoutUndriven(SimulatorRun().changes33));
    EXPECT_EQ(Changes(read.capture.gpio80), WithoutUndriven(SimulatorRun().changes80));
    EXPECT_EQ(read.capture.sampleRateHz, 1000000u);
    EXPECT_EQ(read.capture.endPs, 66000000000000u);

    // Cut short, the archive cannot be opened; a channel it lacks is named.
    const std::string whole = ReadWholeFile(session);
    const Read cut = ReadPath(WriteFile("cut.sr", whole.substr(0, whole.size() / 2)));
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(cut.error.find("not a readable sigrok session"), std::string::npos) << cut.error;
    const Read unnamed = ReadPath(session, {"D3", "GPIO80"});
    EXPECT_FALSE(unnamed.ok);
    EXPECT_NE(unnamed.error.find("no channel D3 (the file has GPIO33, GPIO33_output, GPIO80, GPIO80_output)"),
              std::string::npos)
        << unnamed.error;
}

// Raw samples at 24 MHz with changes on both sides of every 8-byte word the
// reader skips, a one-sample glitch, and a change in the last sample; in one
// byte a sample and in two.
TEST(SigrokSessionTest, FindsEveryChangeAt24MHzWhateverTheSampleWidth) {
    REQUIRE_SESSIONS();
    const std::vector<unsigned> changes33 = {1, 8, 9, 16, 23, 24, 100, 101, 4095};
    const std::vector<unsigned> changes80 = {7, 64, 65, 2000};
    const struct {
        unsigned channels, bit33, bit80;
    } widths[] = {{2, 0, 1}, {12, 9, 3}};
    for (const auto& width : widths) {
        const unsigned unit = (width.channels + 7) / 8;
        std::string samples(4096 * unit, '\0');
        std::string expected33 = "0@0", expected80 = "0@0";
        for (const auto& [changes, bit, expected] :
             {std::make_tuple(&changes33, width.bit33, &expected33), std::make_tuple(&changes80, width.bit80, &expected80)}) {
            bool high = false;
            std::size_t next = 0;
            for (unsigned s = 0; s < 4096; ++s) {
                if (next < changes->size() && (*changes)[next] == s) {
                    high = !high;
                    ++next;
                    *expected += std::string(high ? " 1@" : " 0@") + std::to_string(s * 1000000000000ull / 24000000);
                }
                if (high) samples[s * unit + bit / 8] = static_cast<char>(samples[s * unit + bit / 8] | (1 << (bit % 8)));
            }
        }
        const std::string raw = WriteFile("samples.bin", samples);
        const std::string session = Scratch("samples.sr");
        std::remove(session.c_str());
        ASSERT_TRUE(Sigrok("-i " + raw + " -I binary:numchannels=" + std::to_string(width.channels) +
                           ":samplerate=24000000 -o " + session));
        const Read read = ReadPath(session, {std::to_string(width.bit33), std::to_string(width.bit80)});
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(Changes(read.capture.gpio33), expected33) << width.channels << " channels";
        EXPECT_EQ(Changes(read.capture.gpio80), expected80) << width.channels << " channels";
        EXPECT_EQ(read.capture.sampleRateHz, 24000000u);
        EXPECT_EQ(read.capture.endPs, 4096ull * 1000000000000ull / 24000000);
    }
}

#if GPIO_CHECK_READS_SESSIONS
// A session made by hand: its metadata and its members as given.
std::string MakeSession(const std::string& name, const std::vector<std::pair<std::string, std::string>>& members) {
    const std::string path = Scratch(name);
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    EXPECT_NE(archive, nullptr);
    for (const auto& [member, content] : members) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        EXPECT_GE(zip_file_add(archive, member.c_str(), source, ZIP_FL_OVERWRITE), 0);
    }
    EXPECT_EQ(zip_close(archive), 0);
    return path;
}

// The archive at `path` with its last member listed `copies` times more in
// the central directory, as logic-1-2, logic-1-3, ...: every copy names the
// same compressed bytes, as a zip bomb's do.
void ListLastMemberAgain(const std::string& path, int copies) {
    std::string zip = ReadWholeFile(path);
    const auto byte = [&](std::size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(zip[at])); };
    const auto u16 = [&](std::size_t at) { return byte(at) | byte(at + 1) << 8; };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const auto put16 = [](std::string& to, std::size_t at, unsigned v) {
        to[at] = static_cast<char>(v);
        to[at + 1] = static_cast<char>(v >> 8);
    };
    const std::size_t end = zip.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    const std::size_t directory = u32(end + 16), directorySize = u32(end + 12);
    std::size_t last = directory;
    for (std::size_t at = directory; at < directory + directorySize;) {
        last = at;
        at += 46 + u16(at + 28) + u16(at + 30) + u16(at + 32);
    }
    const std::string entry = zip.substr(last, directory + directorySize - last);
    const std::size_t nameLength = u16(last + 28);
    std::string added;
    for (int k = 2; k < copies + 2; ++k) {
        const std::string name = "logic-1-" + std::to_string(k);
        std::string copy = entry.substr(0, 46) + name + entry.substr(46 + nameLength);
        put16(copy, 28, static_cast<unsigned>(name.size()));
        added += copy;
    }
    std::string tail = zip.substr(end);
    put16(tail, 8, u16(end + 8) + static_cast<unsigned>(copies));
    put16(tail, 10, u16(end + 10) + static_cast<unsigned>(copies));
    const std::size_t size = directorySize + added.size();
    for (int b = 0; b < 4; ++b) tail[12 + b] = static_cast<char>(size >> (8 * b));
    zip = zip.substr(0, directory + directorySize) + added + tail;
    std::ofstream(path, std::ios::binary) << zip;
}

// The member `name` of the archive at `path` declared `size` bytes long
// when inflated, in its local header and in the central directory alike.
void DeclareSize(const std::string& path, const std::string& name, std::uint32_t size) {
    std::string zip = ReadWholeFile(path);
    // Local headers hold the size 22 bytes in and the name at 30; central
    // directory entries at 24 and 46.
    const struct {
        const char* signature;
        std::size_t sizeAt, nameAt;
    } headers[] = {{"PK\x03\x04", 22, 30}, {"PK\x01\x02", 24, 46}};
    for (const auto& header : headers) {
        for (std::size_t h = zip.find(header.signature); h != std::string::npos;
             h = zip.find(header.signature, h + 4)) {
            if (zip.compare(h + header.nameAt, name.size(), name) != 0) continue;
            for (std::size_t b = 0; b < 4; ++b) zip[h + header.sizeAt + b] = static_cast<char>(size >> (8 * b));
        }
    }
    std::ofstream(path, std::ios::binary) << zip;
}

std::string Metadata(const std::string& device) {
    return "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\n" + device;
}

// What libsigrok would trust is refused first: channels past the sample
// width, more channels than any analyser has, times past 64 bits.
TEST(SigrokSessionTest, RefusesSessionsNoAnalyserMakes) {
    if (!GPIO_CHECK_READS_SESSIONS) GTEST_SKIP() << "built without libsigrok's C++ bindings";
    const std::string rate = "samplerate=1 MHz\n", named = "probe1=GPIO33\nprobe2=GPIO80\n";
    const std::string samples(64, '\0');
    const struct {
        const char* name;
        std::string device, samples;
        const char* message;
        int overlapping = 0;  // copies of the last chunk's entry
        std::uint32_t declared = 0;  // the size the chunk claims, when not its own
    } cases[] = {
        {"wide.sr", "total probes=16\n" + rate + "probe1=GPIO33\nprobe16=GPIO80\nunitsize=1\n", samples,
         "16 logic channels do not fit in 1-byte samples"},
        {"beyond.sr", "total probes=8\n" + rate + "probe1=GPIO33\nprobe9=GPIO80\nunitsize=1\n", samples,
         "probe9 names a channel beyond the session's 8 logic channel(s)"},
        {"million.sr", "total probes=1000000\n" + rate + named + "unitsize=125000\n", samples,
         "claims total probes=1000000: more than the 256 a capture may have"},
        {"most.sr", "total probes=2\ntotal analog=2147483647\n" + rate + named + "unitsize=1\n", samples,
         "total analog=2147483647: more than the 256"},
        {"unit.sr", "total probes=2\n" + rate + named + "unitsize=64\n", samples, "unitsize=64: more than the 32"},
        {"norate.sr", "total probes=2\n" + named + "unitsize=1\n", samples, "the session gives no sample rate"},
        {"analog.sr", "total probes=0\ntotal analog=2\n" + rate + "analog1=A0\nanalog2=A1\n", "",
         "the session holds only analog channels, no logic channel"},
        // 2^25 samples at 1 Hz: 388 days, refused by the sizes the archive declares.
        {"long.sr", "total probes=2\nsamplerate=1 Hz\n" + named + "unitsize=1\n", std::string(1 << 25, '\0'),
         "declares 33554432 bytes of samples: more than 1 Hz allows"},
        // A line GLib's key-file parser takes, white space first, as libsigrok reads it.
        {"formfeed.sr", "total probes=2\n\x0ctotal probes=300\n" + rate + named + "unitsize=1\n", samples,
         "claims total probes=300: more than the 256"},
        // The same compressed samples listed as three chunk files.
        {"overlap.sr", "total probes=2\n" + rate + named + "unitsize=1\n", samples,
         "members overlap", 2},
        // 2^25 samples at 1 Hz that claim to be 64: stopped where 2^64 ps ends.
        {"lying.sr", "total probes=2\nsamplerate=1 Hz\n" + named + "unitsize=1\n", std::string(1 << 25, '\0'),
         "holds more than the 18446744 samples its archive declares room for at 1 Hz", 0, 64},
    };
    for (const auto& c : cases) {
        const std::string path = MakeSession(
            c.name, {{"version", "2"}, {"metadata", Metadata(c.device)}, {"logic-1-1", c.samples}});
        if (c.overlapping > 0) ListLastMemberAgain(path, c.overlapping);
        if (c.declared > 0) DeclareSize(path, "logic-1-1", c.declared);
        const Read read = ReadPath(path);
        EXPECT_FALSE(read.ok) << c.name;
        EXPECT_NE(read.error.find(c.message), std::string::npos) << c.name << " gave: " << read.error;
    }
    // A device group libsigrok makes no device of is passed over, as it does.
    const std::string noDevice = "[device 0]\nnote=x\n";
    const Read passedOver = ReadPath(MakeSession(
        "passed-over.sr", {{"version", "2"},
                           {"metadata", noDevice + Metadata("total probes=2\n" + rate + named + "unitsize=1\n")},
                           {"logic-1-1", samples}}));
    EXPECT_TRUE(passedOver.ok) << passedOver.error;
    const Read bare = ReadPath(MakeSession("bare.sr", {{"version", "2"}}));
    EXPECT_NE(bare.error.find("no metadata in the archive"), std::string::npos) << bare.error;
}

// The session checked is the session read: a path turned from a sound
// session to one the check refuses while the checker works reads as the
// first, or is refused, never as the second.
TEST(SigrokSessionTest, ReadsTheSessionItChecked) {
    if (!GPIO_CHECK_READS_SESSIONS) GTEST_SKIP() << "built without libsigrok's C++ bindings";
    const std::string named = "probe1=GPIO33\nprobe2=GPIO80\nunitsize=1\nsamplerate=1 MHz\n";
    const std::string sound = MakeSession("sound.sr", {{"version", "2"},
                                                       {"metadata", Metadata("total probes=2\n" + named)},
                                                       {"logic-1-1", std::string(4096, '\0')}});
    const std::string refused = MakeSession("refused.sr", {{"version", "2"},
                                                           {"metadata", Metadata("total probes=300\n" + named)},
                                                           {"logic-1-1", std::string(4096, '\3')}});
    const std::string link = Scratch("flipped.sr"), turning = Scratch("flipped.sr.new");
    const auto pointAt = [&](const std::string& target) {
        unlink(turning.c_str());
        if (symlink(target.c_str(), turning.c_str()) == 0) rename(turning.c_str(), link.c_str());
    };
    unlink(link.c_str());
    ASSERT_EQ(symlink(sound.c_str(), link.c_str()), 0);
    // Mostly the link turns while the checker reads; now and then it is
    // held on the sound session, which must then be read. The holds are
    // handed over, not timed: on a busy machine the flipping may otherwise
    // land inside every read, and no read would show the reader works.
    enum Phase { kFlip, kHold, kDone };
    std::atomic<int> phase{kFlip};
    std::atomic<int> holdsAsked{0}, holdsServed{0};
    std::thread flipper([&] {
        for (bool toSound = false;; toSound = !toSound) {
            const int now = phase;
            if (now == kDone) return;
            if (now == kHold) {
                const int asked = holdsAsked;
                if (holdsServed != asked) {
                    pointAt(sound);
                    holdsServed = asked;
                }
                std::this_thread::yield();
                continue;
            }
            pointAt(toSound ? sound : refused);
        }
    });
    int soundReads = 0, heldReads = 0;
    for (int run = 0; run < 180; ++run) {
        const bool held = run % 6 == 5;
        if (held) {
            phase = kHold;
            const int asked = ++holdsAsked;
            while (holdsServed != asked) std::this_thread::yield();
        } else {
            phase = kFlip;
        }
        const Read read = ReadPath(link);
        if (held) {
            ++heldReads;
            EXPECT_TRUE(read.ok) << "run " << run << ", the link held on the sound session: " << read.error;
        }
        if (!read.ok) continue;
        ++soundReads;
        EXPECT_EQ(Changes(read.capture.gpio33), "0@0") << "run " << run << " read the session it did not check";
    }
    phase = kDone;
    flipper.join();
    unlink(link.c_str());
    EXPECT_EQ(heldReads, 30);
    EXPECT_GE(soundReads, heldReads);
}

// Two bytes a sample, chunks of odd lengths: a sample split between two
// chunk files is put together again. A busy line keeps its first changes.
TEST(SigrokSessionTest, JoinsSamplesSplitBetweenChunksAndBoundsABusyLine) {
    if (!GPIO_CHECK_READS_SESSIONS) GTEST_SKIP() << "built without libsigrok's C++ bindings";
    const std::size_t count = 2 * kMaxKeptChanges + 10;
    std::string samples;
    for (std::size_t s = 0; s < count; ++s) {
        // Bit 0 toggles every sample, bit 9 every third, bit 15 is high.
        samples += static_cast<char>(s % 2);
        samples += static_cast<char>(0x80 | ((s / 3) % 2 ? 0x02 : 0));
    }
    const std::string device = "total probes=16\nsamplerate=1 MHz\nprobe1=clock\nprobe10=GPIO33\nprobe16=GPIO80\n"
                               "unitsize=2\n";
    const std::string path = MakeSession("split.sr", {{"version", "2"}, {"metadata", Metadata(device)},
                                                      {"logic-1-1", samples.substr(0, 7)},
                                                      {"logic-1-2", samples.substr(7, 100001)},
                                                      {"logic-1-3", samples.substr(100008)}});
    const Read read = ReadPath(path);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.capture.gpio33.changeCount, (count - 1) / 3);
    EXPECT_EQ(read.capture.gpio33.changes[1].timePs, 3000000u);
    EXPECT_EQ(read.capture.gpio33.changes.back().timePs, 3000000u * read.capture.gpio33.changeCount);
    EXPECT_EQ(Changes(read.capture.gpio80), "1@0");
    EXPECT_EQ(read.capture.endPs, count * 1000000);

    const Read clock = ReadPath(path, {"clock", "GPIO80"});
    ASSERT_TRUE(clock.ok) << clock.error;
    EXPECT_EQ(clock.capture.gpio33.changeCount, count - 1);
    EXPECT_TRUE(clock.capture.gpio33.Busy());
    EXPECT_EQ(clock.capture.gpio33.changes.size(), kMaxKeptChanges + 1);
}
#endif

// Sessions of sigrok's demo device: channels named as people name them in
// PulseView, or not at all, analog channels beside the logic ones or alone.
TEST(SigrokSessionTest, ReadsDemoSessionsByNameAndByIndex) {
    REQUIRE_SESSIONS();
    const std::string named = Scratch("demo-named.sr"), wide = Scratch("demo-wide.sr"),
                      analog = Scratch("demo-analog.sr");
    ASSERT_TRUE(Sigrok("-d demo:logic_channels=4:analog_channels=1 -C 'D0=Recv PAN1321/FTDI TX,D1=#3 (SDA),D2=TX,"
                       "D3=TX' --config samplerate=1m --samples 10000 -o " + named));
    ASSERT_TRUE(Sigrok("-d demo:logic_channels=16:analog_channels=3 --config samplerate=50m --samples 20000 -o " + wide));
    ASSERT_TRUE(Sigrok("-d demo:logic_channels=0:analog_channels=2 --config samplerate=1m --samples 1000 -o " + analog));

    const Read byName = ReadPath(named, {"Recv PAN1321/FTDI TX", "#3 (SDA)"});
    ASSERT_TRUE(byName.ok) << byName.error;
    EXPECT_EQ(byName.capture.gpio33.channel, "Recv PAN1321/FTDI TX");
    EXPECT_EQ(byName.capture.endPs, 10000ull * 1000000);
    const Read byIndex = ReadPath(named, {"", "", 0, 1});
    ASSERT_TRUE(byIndex.ok) << byIndex.error;
    EXPECT_EQ(Changes(byIndex.capture.gpio33), Changes(byName.capture.gpio33));
    EXPECT_EQ(Changes(byIndex.capture.gpio80), Changes(byName.capture.gpio80));
    // sigrok's VCD export keeps the names' spaces.
    const std::string exported = Scratch("demo-named.vcd");
    ASSERT_TRUE(Sigrok("-i " + named + " -O vcd -o " + exported));
    const Read vcd = ReadPath(exported, {"Recv PAN1321/FTDI TX", "#3 (SDA)"});
    ASSERT_TRUE(vcd.ok) << vcd.error;
    EXPECT_EQ(Changes(vcd.capture.gpio33), Changes(byName.capture.gpio33));
    EXPECT_EQ(Changes(vcd.capture.gpio80), Changes(byName.capture.gpio80));
    const Read shared = ReadPath(named, {"TX", "#3 (SDA)"});
    EXPECT_NE(shared.error.find("2 channels are named TX (indices 2, 3)"), std::string::npos) << shared.error;
    const Read tx = ReadPath(named, {"", "", 3, 2});
    ASSERT_TRUE(tx.ok) << tx.error;
    EXPECT_EQ(tx.capture.gpio33.channel, "TX");

    const Read high = ReadPath(wide, {"D3", "D15"});
    ASSERT_TRUE(high.ok) << high.error;
    const Read highIndex = ReadPath(wide, {"", "", 3, 15});
    ASSERT_TRUE(highIndex.ok) << highIndex.error;
    EXPECT_EQ(Changes(highIndex.capture.gpio80), Changes(high.capture.gpio80));
    EXPECT_EQ(high.capture.sampleRateHz, 50000000u);
    EXPECT_EQ(high.capture.endPs, 20000ull * 20000);
    EXPECT_NE(ReadPath(wide, {"", "", 16, 0}).error.find("no channel with index 16 for GPIO33 (the file has 16 "
                                                          "logic channel(s), 0 to 15: D0, D1"),
              std::string::npos);

    EXPECT_NE(ReadPath(analog).error.find("only analog channels"), std::string::npos);
}

// A session from a pipe goes through a private temporary file, bounded,
// and leaves nothing behind.
TEST(SigrokSessionTest, ReadsASessionFromAPipeThroughABoundedTemporaryFile) {
    REQUIRE_SESSIONS();
    const std::string session = Scratch("piped.sr"), spoolDir = Scratch("spool");
    ASSERT_TRUE(Sigrok("-i " + SimulatorRun().vcdPath + " -I vcd -o " + session));
    mkdir(spoolDir.c_str(), 0700);
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp != nullptr ? oldTmp : "";
    setenv("TMPDIR", spoolDir.c_str(), 1);
    {
        const FifoWriter fifo("session.fifo", ReadWholeFile(session));
        const Read read = ReadPath(fifo.Path());
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(Changes(read.capture.gpio80), WithoutUndriven(SimulatorRun().changes80));
    }
    {
        const FifoWriter fifo("zeros.fifo", "PK\x03\x04" + std::string(3 << 20, '\0'));
        Read read{};
        read.ok = ReadCaptureFile(fifo.Path(), {}, read.capture, read.error, 1 << 20);
        EXPECT_FALSE(read.ok);
        EXPECT_NE(read.error.find("a sigrok session from a pipe may hold at most 1 MB"), std::string::npos) << read.error;
    }
    if (oldTmp != nullptr) setenv("TMPDIR", savedTmp.c_str(), 1);
    else unsetenv("TMPDIR");
    EXPECT_EQ(rmdir(spoolDir.c_str()), 0) << "left in " << spoolDir;
}

}  // namespace
