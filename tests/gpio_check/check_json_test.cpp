// The JSON verdict's text: whatever a file name or a trace holds, the
// result is JSON a strict reader takes, and says what the text says.

#include <gtest/gtest.h>

#include <string>

#include "check_json.h"
#include "check_report.h"

namespace gpio_check {
namespace {

TEST(CheckJson, StringsAreValidJsonWhateverTheBytes) {
    const struct {
        std::string text;
        const char* json;
    } cases[] = {
        {"debug.txt", "\"debug.txt\""},
        {"a \"quoted\" \\ name", "\"a \\\"quoted\\\" \\\\ name\""},
        {std::string("tab\tnul\0esc\x1b del\x7f", 17), "\"tab\\u0009nul\\u0000esc\\u001b del\\u007f\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x8C", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x94\x8C\""},
        {"latin-1 \xE9t\xE9", "\"latin-1 \\ufffdt\\ufffd\""},
        {"cut \xE2\x82", "\"cut \\ufffd\\ufffd\""},
        {"overlong \xC0\xAF surrogate \xED\xA0\x80 past \xF4\x90\x80\x80",
         "\"overlong \\ufffd\\ufffd surrogate \\ufffd\\ufffd\\ufffd past \\ufffd\\ufffd\\ufffd\\ufffd\""},
        // Each limit from both sides: the last control character and the
        // first that is not, each sequence length's first and last lead
        // byte, and the code points either side of each forbidden range.
        {"\x1f \x20\x7e", "\"\\u001f  ~\""},
        {"\x80 \xBF", "\"\\ufffd \\ufffd\""},
        {"\xC1\xBF \xC2\x80 \xDF\xBF", "\"\\ufffd\\ufffd \xC2\x80 \xDF\xBF\""},
        {"\xE0\x9F\xBF \xE0\xA0\x80", "\"\\ufffd\\ufffd\\ufffd \xE0\xA0\x80\""},
        {"\xED\x9F\xBF \xED\xBF\xBF \xEE\x80\x80 \xEF\xBF\xBF",
         "\"\xED\x9F\xBF \\ufffd\\ufffd\\ufffd \xEE\x80\x80 \xEF\xBF\xBF\""},
        {"\xF0\x8F\xBF\xBF \xF0\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd \xF0\x90\x80\x80\""},
        {"\xF4\x8F\xBF\xBF \xF5\x80\x80\x80", "\"\xF4\x8F\xBF\xBF \\ufffd\\ufffd\\ufffd\\ufffd\""},
        {"\xF8\x80 \xFF", "\"\\ufffd\\ufffd \\ufffd\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

TEST(CheckJson, VerdictAndExitCodeAsTheReportHasThem) {
    CheckResult trace("trace");
    trace.summary = "a whole run in order: 741 messages";
    CheckResult capture("write phase (capture)");
    capture.Note(1, Status::Fault, "stuck low: low in all 120 steps");
    capture.summary = "GPIO80 stuck low";
    const std::vector<CheckResult> checks = {trace, capture};
    JsonInput input;
    input.role = "trace";
    input.kind = "serial port";
    input.name = "/dev/ttyUSB0";
    input.bytes = 12385;
    input.seconds = 67.5;
    input.messages = 741;
    input.end = "read until the run's closing message";
    input.kept = "pxa-gpio-check-trace-20261210-051500.txt";
    const std::string json = RenderJsonVerdict({input}, checks, ExitCodeFor(checks));
    for (const char* piece : {
             "\"format\": 1,",
             "{\"role\": \"trace\", \"kind\": \"serial port\", \"name\": \"/dev/ttyUSB0\", \"bytes\": 12385, "
             "\"seconds\": 67.5, \"messages\": 741, \"end\": \"read until the run's closing message\", "
             "\"kept\": \"pxa-gpio-check-trace-20261210-051500.txt\"}",
             "{\"name\": \"GPIO80\", \"status\": \"fault\", \"summary\": \"stuck low: low in all 120 steps\",\n"
             "     \"faults\": [\n       \"stuck low\"\n     ]}",
             "{\"name\": \"GPIO33\", \"status\": \"info\", \"summary\": \"nothing checked\",\n     \"faults\": []}",
             "\"verdict\": {\"status\": \"fault\", \"text\": \"the board does not do what the program asks; found by: "
             "write phase (capture)\"},",
             "\"exitCode\": 1\n}\n",
         }) {
        EXPECT_NE(json.find(piece), std::string::npos) << piece << "\n" << json;
    }
}

}  // namespace
}  // namespace gpio_check
