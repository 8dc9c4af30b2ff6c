// The trace as a serial terminal or a debugger window saves it, and what the
// checker makes of each form and of a board whose registers misbehave.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "expected_run.h"
#include "expected_trace.h"
#include "run_progress.h"
#include "trace_check.h"
#include "trace_messages.h"
#include "trace_reader.h"
#include "trace_text.h"

namespace gpio_check {
namespace {

constexpr std::uint32_t kBase = 0x2a010000;  // not the host's: the expectation is rebased

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string Utf16(const std::string& text, bool littleEndian, bool mark) {
    std::string bytes = mark ? (littleEndian ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (char c : text) {
        bytes += littleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    }
    return bytes;
}

// `noise` put just before the first `message`, as a serial port shows a
// byte of line noise when it opens or its baud rate settles.
std::string Glued(const std::string& text, const std::string& message, const std::string& noise) {
    std::string glued = text;
    glued.insert(glued.find(message), noise);
    return glued;
}

// A debugger window: each message on a line of its own, ended \r\n.
std::string MessagePerLine(const std::string& run) {
    std::string text = Replace(Replace(run, "\r\n", "\r"), "\r", "\r\n");
    text = Replace(text, " to 0x", "\r\nto 0x");
    return Replace(text, "     ", " \r\n    ");
}

// The bytes read as the tool reads a file, in blocks of `block` bytes;
// false when the reader refuses them.
bool Read(TraceReader& reader, const std::string& bytes, std::size_t block = 65536) {
    for (std::size_t at = 0; at < bytes.size(); at += block) {
        if (!reader.Add(bytes.data() + at, std::min(block, bytes.size() - at))) return false;
    }
    return reader.Finish();
}

TraceCheck Check(const std::string& bytes, std::size_t block = 65536) {
    TraceReader reader;
    if (!Read(reader, bytes, block)) return TraceCheck();
    const SavedTrace& trace = reader.Trace();
    return CheckTrace(trace, RunExpectedExercise(MappedBase(trace.messages)));
}

std::string Summary(const TraceCheck& check) {
    std::string text = check.order.summary + " | " + check.registers.summary + " |";
    for (const auto& detail : check.order.details) text += " " + detail;
    for (const auto& detail : check.registers.details) text += " " + detail;
    return text;
}

TEST(TraceForms, EveryWayOfSavingAWholeRunReadsAsThatRun) {
    const std::string run = expected::WholeRun(kBase, 2);
    const struct {
        const char* form;
        std::string bytes;
    } forms[] = {
        {"as sent: \\r\\n and bare \\r", run},
        {"\\n only", Replace(Replace(run, "\r\n", "\n"), "\r", "\n")},
        {"\\r only", Replace(run, "\r\n", "\r")},
        {"every \\r made \\r\\n", Replace(Replace(run, "\r\n", "\r"), "\r", "\r\n")},
        {"each message on its own line", MessagePerLine(run)},
        {"each line stamped by the debugger", "12 PID:3 TID:4 " + Replace(MessagePerLine(run), "\r\n", "\r\n12 PID:3 TID:4 ")},
        {"stamped with the time too", Replace(MessagePerLine(run), "\r\n", "\r\n12:00:01.123 4294780250 PID:3 TID:4 ")},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + run},
        {"UTF-16LE with a byte-order mark", Utf16(MessagePerLine(run), true, true)},
        {"UTF-16LE without one", Utf16(run, true, false)},
        {"UTF-16BE with a byte-order mark", Utf16(run, false, true)},
        {"UTF-16BE without one", Utf16(MessagePerLine(run), false, false)},
        // Noise beside a message hides nothing: no byte of it is text.
        {"a byte of line noise glued to a message", Glued(run, "Writing 0x00", "\xFF")},
        {"noise on both sides of a report", Glued(Glued(run, " to 0x", "\xC3"), "GPDR1", "\xFE\x80")},
        {"a lone UTF-16 surrogate beside a message",
         Glued(Utf16(run, true, true), Utf16("Writing", true, false), std::string("\x00\xD8", 2))},
        {"a character outside ASCII beside a message", Glued(run, "Read value", "\xC3\xBF")},
        // Line noise that looks like a byte-order mark: the messages say UTF-8
        // (the run was refused, no message read as UTF-16).
        {"noise FF FE before the run", "\xFF\xFE" + run},
        {"noise FE FF before the run", "\xFE\xFF" + run},
        {"noise FF FE before a run each message on its own line", "\xFF\xFE" + MessagePerLine(run)},
    };
    // Read in blocks of every kind of size: where a block ends changes nothing.
    for (const auto& form : forms) {
        for (const std::size_t block : {1, 7, 4099, 65536}) {
            SCOPED_TRACE(std::string(form.form) + ", blocks of " + std::to_string(block));
            const TraceCheck check = Check(form.bytes, block);
            EXPECT_EQ(check.order.status, Status::Ok) << Summary(check);
            EXPECT_EQ(check.registers.summary, "8 reports, each update did what it asked") << Summary(check);
            ASSERT_EQ(check.samples.size(), 600u);
            EXPECT_EQ(check.samples.back().value, 2u);
            EXPECT_EQ(check.samples.back().number, 600u);
            // The last sample is read 599 steps of 10 ms after the write phase.
            EXPECT_EQ(check.samples.back().afterWriteEndUs, 5990000u);
        }
    }
    EXPECT_EQ(DetectEncoding(Utf16(run, false, false)), TextEncoding::Utf16Be);
    EXPECT_EQ(DetectEncoding(Utf16(run, true, false)), TextEncoding::Utf16Le);
    EXPECT_EQ(DetectEncoding("\xFF\xFE" + run), TextEncoding::Utf8);
    // On a port the first messages are seen while the encoding is still
    // open: they read as UTF-8 after the noise (none did: the port waited).
    TraceReader reader;
    const std::string start = "\xFE\xFF" + run.substr(0, 200);
    ASSERT_TRUE(reader.Add(start.data(), start.size()));
    const auto held = reader.HeldMessages();
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(held.front().kind, MessageKind::RoutineStart);
}

// A board that restarts prints the run again from +TolvarGPIOTest: the
// restart named at its message, the last whole run judged (it was "not
// the program's run in order", or damaged by line noise with one byte).
TEST(TraceForms, ABoardThatRestartsIsSaidToAndItsLastWholeRunIsJudged) {
    const std::string run = expected::WholeRun(kBase, 2);
    const auto upTo = [&](std::size_t message) {  // the run's text before its message `message` (from 1)
        return run.substr(0, SplitTraceMessages(run)[message - 1].offset);
    };
    const struct {
        const char* board;
        std::string trace;
        const char* finding;
        Status order;
    } cases[] = {
        {"reset at message 305", upTo(305) + run, "the run starts again at message 305", Status::Info},
        // The noise loses the message it is in: the restart is one earlier.
        {"reset at message 305, a noise byte in the first run", Glued(upTo(305), "ting 0x02", "\xFF") + run,
         "the run from message 304 judged: a whole run in order: 741 messages", Status::Info},
        {"reset twice", upTo(20) + upTo(305) + run, "the run starts again at message 20 and 324", Status::Info},
        // The run after the restart is cut off: the whole one before it is judged.
        {"a whole run, then a restart cut off", run + upTo(100), "the run from message 1 judged", Status::Info},
        {"a restart cut off twice", upTo(100) + upTo(200), "the run from message 100 judged: cut off",
         Status::Incomplete},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.board);
        const TraceCheck check = Check(c.trace);
        EXPECT_EQ(check.order.status, c.order) << Summary(check);
        EXPECT_NE(Summary(check).find("the board restarted"), std::string::npos) << Summary(check);
        EXPECT_NE(Summary(check).find(c.finding), std::string::npos) << Summary(check);
        EXPECT_EQ(check.registers.status, Status::Ok) << Summary(check);
        if (c.order == Status::Info) {
            ASSERT_EQ(check.samples.size(), 600u);
            EXPECT_EQ(check.samples.front().number, 1u);
        }
    }
}

TEST(TraceForms, AStampOfUpToFourWordsBetweenAReportsHalvesIsSkipped) {
    const std::string run = MessagePerLine(expected::WholeRun(kBase, 0));
    const struct {
        const char* stamp;
        const char* registers;
    } stamps[] = {
        {"12:00:01.123 4294780250 PID:3 TID:4 ", "8 reports, each update did what it asked"},
        // Five words are more than a stamp: the reports are cut off.
        {"Mon 12:00:01.123 4294780250 PID:3 TID:4 ", "0 reports, each update did what it asked"},
    };
    for (const auto& stamp : stamps) {
        SCOPED_TRACE(stamp.stamp);
        const TraceCheck check = Check(Replace(run, "\r\n", std::string("\r\n") + stamp.stamp));
        EXPECT_EQ(check.order.status, Status::Ok) << Summary(check);
        EXPECT_EQ(check.registers.summary, stamp.registers) << Summary(check);
    }
}

TEST(TraceForms, ACutOffTraceIsReportedAsCutOffNotAsAFault) {
    const std::string run = expected::WholeRun(kBase, 1);
    const auto firstRead = run.find("Read value");
    const struct {
        const char* form;
        std::string text;
        const char* detail;
    } cuts[] = {
        // A terminal opened late: mid-message, in the write phase.
        {"starts mid-run", run.substr(run.find("Writing 0x02") + 3), "starts at write step 4 of 120"},
        {"ends mid-run", run.substr(0, firstRead + 100 * 17 + 5), "ends after sample 100 of 600"},
        {"UTF-16 cut after an odd byte", Utf16(run, true, true).substr(0, 2 * firstRead + 1),
         "ends after the 3rd -SetDirection()"},
        // Noise inside a message loses it: the trace is damaged, not wrong.
        {"line noise inside a message", Glued(run, "ting 0x02", "\xFF"),
         "1 character(s) of line noise"},
    };
    for (const auto& cut : cuts) {
        SCOPED_TRACE(cut.form);
        const TraceCheck check = Check(cut.text);
        EXPECT_EQ(check.order.status, Status::Incomplete) << Summary(check);
        EXPECT_NE(Summary(check).find(cut.detail), std::string::npos) << Summary(check);
        EXPECT_NE(check.registers.status, Status::Fault) << Summary(check);
        for (const auto& sample : check.samples) EXPECT_EQ(sample.value, 1u);
    }
}

TEST(TraceChecks, RegisterAndOrderFaultsAreNamed) {
    using expected::RegisterReport;
    const std::string run = expected::WholeRun(kBase, 0);
    const std::string gafr2 = RegisterReport("GAFR2_U", 0, 0);
    const struct {
        const char* fault;
        std::string trace;
        int line;  // -1: no line named
        std::string finding;
    } cases[] = {
        {"GPDR1 bit does not set", Replace(run, RegisterReport("GPDR1", 0, 2), RegisterReport("GPDR1", 0, 0)), 0,
         "GPIO33 could not be made an output: GPDR1 bit 1 reads 0"},
        {"GAFR2_U field does not clear", Replace(run, gafr2, RegisterReport("GAFR2_U", 2, 2)), 1,
         "GPIO80 is still in alternate function 2: GAFR2_U bits 1:0"},
        {"GPDR2 changes between reports",
         Replace(run, RegisterReport("GPDR2", 0x10000, 0), RegisterReport("GPDR2", 0x10400, 0x400)), -1,
         "something else on the board drives the register"},
        {"other bits change during an update", Replace(run, gafr2, RegisterReport("GAFR2_U", 0, 0x30)), -1,
         "bits 0x00000030 of GAFR2_U changed during its update"},
        {"mapping refused", "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at VirtualCopy()\r\n-TolvarGPIO()\r\n",
         -1, "could not map the GPIO registers: Error! at VirtualCopy()"},
        // Text from the file reaches the terminal escaped, and a long name cut short.
        {"a call name with a terminal's control sequence",
         "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at Virtual\x1b[2JCopy()\r\n", -1,
         "could not map the GPIO registers: Error! at Virtual\\x1b[2JCopy()"},
        {"a long call name", "+TolvarGPIOTest +TolvarGPIO(3) Error! at " + std::string(100, 'V') + "()", -1,
         "Error! at " + std::string(60, 'V') + "... |"},
        {"a pattern out of order", Replace(run, "Writing 0x01\rWriting 0x02", "Writing 0x02\rWriting 0x01"), -1,
         "message 16 is Writing 0x02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const TraceCheck check = Check(c.trace);
        const std::string summary = Summary(check);
        EXPECT_TRUE(check.order.status == Status::Fault || check.registers.status == Status::Fault) << summary;
        EXPECT_NE(summary.find(c.finding), std::string::npos) << summary;
        bool lineNamed = false;
        for (const auto& note : check.registers.lineNotes) lineNamed |= note.line == c.line && note.status == Status::Fault;
        EXPECT_EQ(lineNamed, c.line >= 0) << summary;
    }
}

TEST(TraceChecks, SamplesThatFitManyPlacesInTheRunArePlacedAtTheFirstAsAGuess) {
    const TraceCheck check = Check("Read value: 0x00\rRead value: 0x00\rRead value: 0x00\r");
    EXPECT_FALSE(check.samplesPlaced);
    ASSERT_EQ(check.samples.size(), 3u);
    EXPECT_EQ(check.samples.front().number, 1u);
    EXPECT_NE(Summary(check).find("fits more than one place in the run; the first is assumed"), std::string::npos)
        << Summary(check);
}

TEST(TraceChecks, ReadPhaseLevelsPerLineWithWhenTheyChange) {
    std::string run = expected::WholeRun(kBase, 0);
    // GPIO33 goes high from sample 251 on, 2.5 s into the read phase.
    const auto firstRead = run.find("Read value");
    for (std::size_t i = 250; i < 600; ++i) run.replace(firstRead + i * 17 + 12, 4, "0x02");
    const TraceCheck check = Check(run);
    ASSERT_EQ(check.readPhase.lineNotes.size(), 2u);
    EXPECT_EQ(check.readPhase.lineNotes[0].text,
              "reads high in 350 of 600 samples, 1 change(s): high from sample 251 (2.500 s into the read phase at the "
              "10 ms a sample asked)");
    EXPECT_EQ(check.readPhase.lineNotes[1].text, "reads low in all 600 samples");
}

// Hostile text costs steps in proportion to its length: 4 times the text,
// about 4 times the steps, and a bounded number of steps a character.
TEST(TraceReading, CostGrowsInProportionToTheText) {
    const struct {
        const char* form;
        std::string piece;
    } forms[] = {
        {"register reports cut off before their after-value", "GPDR1 changed from 0x00000000 "},
        {"'Error! at ' with no ')' and no line end", "Error! at "},
        {"cut-off reports with stamps and call names", "GPDR1 changed from 0x0 PID:3 Error! at x "},
        {"words of other text", "x "},
        {"a capital word", "A"},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.form);
        std::uint64_t steps[2];
        std::size_t characters[2];
        for (int large = 0; large < 2; ++large) {
            std::string text;
            for (int i = 0; i < (large ? 4000 : 1000); ++i) text += form.piece;
            TraceReader reader;
            Read(reader, text);
            steps[large] = reader.Steps();
            characters[large] = text.size();
        }
        EXPECT_LT(steps[1], 5 * steps[0]);
        EXPECT_LT(steps[1], 40 * characters[1]);
    }
}

TEST(TraceReading, HoldsAFewBlocksAndNoRecordPerWordOfOtherText) {
    std::string block;
    while (block.size() < 65536) block += "x ";
    TraceReader reader;
    for (int i = 0; i < 64; ++i) reader.Add(block.data(), block.size());
    EXPECT_LE(reader.HeldBytes(), 4 * block.size());
    EXPECT_FALSE(reader.Finish());
    EXPECT_EQ(reader.Trace().unrecognised, 64 * block.size() / 2);
    EXPECT_EQ(reader.Error(), "holds no message of the program: is it the run's trace?");
}

TEST(TraceReading, RefusesTooLargeATraceAndOneWithoutTheProgramsMessagesAtTheLimits) {
    const std::string run = expected::WholeRun(kBase, 0);
    const std::size_t runMessages = SplitTraceMessages(run).size();
    const auto limits = [](std::uint64_t largest, std::uint64_t firstWithin, std::size_t most) {
        TraceLimits limits;
        limits.largestBytes = largest;
        limits.firstMessageWithin = firstWithin;
        limits.mostMessages = most;
        return limits;
    };
    const TraceLimits ample = limits(1 << 20, 1 << 20, 1000);
    const std::string late = std::string(1000, ' ') + run;
    const struct {
        const char* what;
        std::string bytes;
        TraceLimits limits;
        const char* error;  // empty: accepted
    } cases[] = {
        {"as large as allowed", run, limits(run.size(), 1 << 20, 1000), ""},
        {"a byte larger", run + " ", limits(run.size(), 1 << 20, 1000), "is larger than "},
        {"the first message as late as allowed", late, limits(1 << 20, 1001, 1000), ""},
        {"a character later", late, limits(1 << 20, 1000, 1000),
         "has no message of the program in its first 1000 bytes of text"},
        {"no message at all, much text", std::string(5000, '\0'), limits(1 << 20, 1000, 1000),
         "has no message of the program in its first 1000 bytes"},
        {"as many messages as allowed", run, limits(1 << 20, 1 << 20, runMessages), ""},
        {"one more", run + "Writing 0x00", limits(1 << 20, 1 << 20, runMessages), "holds more than "},
        {"text without a message", "login: root\r\n", ample, "holds no message of the program"},
    };
    for (const auto& c : cases) {
        for (const std::size_t block : {7, 65536}) {
            SCOPED_TRACE(std::string(c.what) + ", blocks of " + std::to_string(block));
            TraceReader reader(c.limits);
            EXPECT_EQ(Read(reader, c.bytes, block), *c.error == '\0');
            EXPECT_EQ(reader.Error().find(c.error), 0u) << reader.Error();
        }
    }
}

// How far a run got while it arrives, and its first fault the moment the
// messages show it, for the progress line: each kind of fault, a run cut
// short, and a port opened when the run was already under way.
TEST(RunProgressLine, PhaseStepAndFirstFault) {
    const std::string run = expected::WholeRun(kBase, 0);
    const auto atStep = [&](int step) {  // the run up to and with write step `step`
        std::size_t at = 0;
        for (int i = 0; i < step; ++i) at = run.find("Writing", at + 1);
        return run.substr(0, run.find('\r', at) + 1);
    };
    const std::size_t sample100 = [&] {
        std::size_t at = run.find("Read value");
        for (int i = 1; i < 100; ++i) at = run.find("Read value", at + 1);
        return at;
    }();
    const struct {
        const char* name;
        std::string text;
        const char* shown;  // the progress line's text, up to the time
        bool closed;
    } cases[] = {
        {"nothing yet", "", "waiting for the run", false},
        {"set up", run.substr(0, run.find("Writing")), "setting up", false},
        {"write step 37", atStep(37), "write phase: step 37 of 120", false},
        {"whole", run, "done: sample 600 of 600", true},
        {"all samples, not yet closed", run.substr(0, run.find('\r', run.rfind("Read value")) + 2),
         "closing: sample 600 of 600", false},
        {"opened late", run.substr(sample100), "done: sample 600 of 600", true},
        {"GPDR2 bit 16 not set", Replace(run, "GPDR2 changed from 0x00000000 to 0x00010000",
                                         "GPDR2 changed from 0x00000000 to 0x00000000"),
         "done: sample 600 of 600; FAULT: GPDR2 did not take its update: GPDR2 changed from 0x00000000 to "
         "0x00000000", true},
        {"GAFR1_L field kept", Replace(run, "GAFR1_L changed from 0x00000000 to 0x00000000",
                                       "GAFR1_L changed from 0x0000000c to 0x0000000c"),
         "done: sample 600 of 600; FAULT: GAFR1_L did not take its update: GAFR1_L changed from 0x0000000c to "
         "0x0000000c", true},
        {"mapping refused", "+TolvarGPIOTest\r\n+TolvarGPIO(3)\r\nError! at VirtualCopy()\r\n-TolvarGPIOTest\r\n",
         "setting up; FAULT: the program says Error! at VirtualCopy()", true},
        {"a step out of order", Replace(atStep(3), "Writing 0x02", "Writing 0x03"),
         "write phase: step 2 of 120; FAULT: message 17 out of order: Writing 0x03 where Writing 0x02 was due", false},
    };
    const ExpectedRun expected = RunExpectedExercise(kBase);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RunProgress progress = FollowRun(SplitTraceMessages(c.text), expected);
        std::string text = ProgressText(progress, 12.34, 400);
        const auto time = text.find(", 12.3 s");
        if (time != std::string::npos) text.erase(time, 8);
        EXPECT_EQ(text, c.shown);
        EXPECT_EQ(progress.closed, c.closed);
    }
    // Cut to the terminal's width, whatever the fault's text.
    const RunProgress faulty = FollowRun(SplitTraceMessages(cases[6].text), expected);
    EXPECT_EQ(ProgressText(faulty, 1, 79).size(), 79u);
}

}  // namespace
}  // namespace gpio_check
