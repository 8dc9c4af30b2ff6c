#ifndef TOOLS_GPIO_CHECK_TRACE_MESSAGES_H
#define TOOLS_GPIO_CHECK_TRACE_MESSAGES_H

// The program's trace split back into its messages. Line endings are not
// relied on: a terminal log keeps them as sent (\r\n, and a bare \r after
// each progress message), a debugger window may put every message on its
// own line, and a register report has none at all and runs into the next
// message. So the text is read as a sequence of the known messages with
// any white space between them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gpio_check {

enum class MessageKind {
    RoutineStart,     // +TolvarGPIOTest
    RoutineEnd,       // -TolvarGPIOTest
    DriverStart,      // +TolvarGPIO(%i), value: the direction mask
    DriverEnd,        // -TolvarGPIO()
    Mapped,           // 0x%08x mapped to: 0x%08x, value: physical, value2: base
    Error,            // Error! at ..., name: the call
    DirectionStart,   // +SetDirection()
    DirectionEnd,     // -SetDirection()
    RegisterReport,   // NAME changed from 0x%08x to 0x%08x: name, value, value2
    Writing,          // Writing 0x%02x, value: the pattern
    ReadValue,        // Read value: 0x%02x, value: the sample
    DestructorStart,  // +~TolvarGPIO()
    DestructorEnd,    // -~TolvarGPIO()
    Unrecognised,     // text that is none of these, name: the text
};

struct TraceMessage {
    MessageKind kind;
    std::string name;
    std::uint32_t value = 0;
    std::uint32_t value2 = 0;
    // A register report cut off after "changed from" has no after-value.
    bool complete = true;
    std::size_t offset = 0;  // where in the text it starts
};

std::vector<TraceMessage> SplitTraceMessages(const std::string& text);

// The message as the program prints it, without line endings: for reports.
std::string DescribeMessage(const TraceMessage& message);

// Two messages are the same step of the run when kind, register or call,
// and what the program chose (mask, pattern, physical address, and the
// base, which the expected run takes from the trace) agree; values read
// from the board may differ.
bool SameStep(const TraceMessage& a, const TraceMessage& b);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_TRACE_MESSAGES_H
