#ifndef TOOLS_GPIO_CHECK_TRACE_MESSAGES_H
#define TOOLS_GPIO_CHECK_TRACE_MESSAGES_H

// The program's trace split back into its messages. Line endings are not
// relied on: a terminal log keeps them as sent (\r\n, and a bare \r after
// each progress message), a debugger window may put every message on its
// own line, and a register report has none at all and runs into the next
// message. So the text is read as a sequence of the known messages with
// any white space between them; text that is none of them is counted and
// skipped a word at a time.

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

// The longest call name of an "Error! at" message and register name of a
// report: longer text is none of the program's.
constexpr std::size_t kLongestCallName = 128;
constexpr std::size_t kLongestRegisterName = 16;
// A debugger may stamp each line it shows (time, process, thread), so a
// stamp of up to this many words may stand between a report's halves.
constexpr int kStampWords = 4;

// The text split a piece at a time, as it is read: each message is read
// from the text that follows it within kMessageWindow characters, so the
// messages found do not depend on how the text was cut into pieces, and
// the text held back is bounded.
class TraceSplitter {
public:
    static constexpr std::size_t kMessageWindow = 1024;

    void Add(const std::string& text);
    // The end of the text: splits what was held back.
    void Finish();

    std::vector<TraceMessage>& Messages() { return messages_; }
    // The messages in the text held back, with `more` after it, as the end
    // of the text would split them; nothing is consumed. For a reader that
    // wants to see a message as soon as it has come, while more may follow.
    std::vector<TraceMessage> HeldMessages(const std::string& more) const;
    // Words of text that are no message of the program.
    std::size_t Unrecognised() const { return unrecognised_; }
    // Characters split so far, including any word being skipped.
    std::uint64_t SplitCharacters() const { return offset_; }
    // Characters held back for messages that may go on in the next piece.
    std::size_t HeldCharacters() const { return pending_.capacity(); }
    // Characters examined so far: the cost of the reading, for its tests.
    std::uint64_t Steps() const { return steps_; }

private:
    void Split(bool final);

    std::string pending_;      // text not yet split
    std::size_t offset_ = 0;   // of pending_'s first character in the text
    bool inWord_ = false;      // in a word of unrecognised text that goes on
    std::vector<TraceMessage> messages_;
    std::size_t unrecognised_ = 0;
    std::uint64_t steps_ = 0;
};

// The program's messages in the whole of `text`.
std::vector<TraceMessage> SplitTraceMessages(const std::string& text);

// The message as the program prints it, without line endings, and text
// from the file shown escaped and cut short: for reports.
std::string DescribeMessage(const TraceMessage& message);

// Two messages are the same step of the run when kind, register or call,
// and what the program chose (mask, pattern, physical address, and the
// base, which the expected run takes from the trace) agree; values read
// from the board may differ.
bool SameStep(const TraceMessage& a, const TraceMessage& b);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_TRACE_MESSAGES_H
