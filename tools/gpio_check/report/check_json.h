#ifndef TOOLS_GPIO_CHECK_CHECK_JSON_H
#define TOOLS_GPIO_CHECK_CHECK_JSON_H

// The verdict for a program to read and keep with the board's record: the
// same checks, lines and verdict as the text report, as JSON. Its fields
// are kept stable; `format` goes up only when a field changes meaning or
// goes away (new fields may be added within a format).

#include <cstdint>
#include <string>
#include <vector>

#include "verdict.h"

namespace gpio_check {

constexpr int kJsonFormat = 1;
constexpr const char* kCheckerVersion = "1.1.0";

struct JsonInput {
    std::string role;           // "trace" or "capture"
    std::string kind;           // "file", "pipe", "serial port"
    std::string name;           // the path as given
    std::uint64_t bytes = 0;    // read from it (a capture: the file's size, 0 from a pipe)
    double seconds = -1;        // a capture's length; a port's reading time; -1 none
    std::int64_t messages = -1; // a trace's messages of the program; -1 none
    std::string end;            // how a live reading ended, or ""
    std::string kept;           // the file a live reading was kept in, or ""
};

std::string RenderJsonVerdict(const std::vector<JsonInput>& inputs, const std::vector<CheckResult>& checks,
                              int exitCode);

// Text as a JSON string: quoted, escaped, bytes that are not UTF-8 as U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CHECK_JSON_H
