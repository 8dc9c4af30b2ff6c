// A saved trace from outside: decoded, split into the program's messages
// and held against the expected run, as pxa-gpio-check does with a file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "expected_run.h"
#include "trace_check.h"
#include "trace_messages.h"
#include "trace_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gpio_check;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto messages = SplitTraceMessages(DecodeTraceText(bytes));
    const ExpectedRun expected = RunExpectedExercise(MappedBase(messages));
    CheckTrace(messages, expected);
    return 0;
}
