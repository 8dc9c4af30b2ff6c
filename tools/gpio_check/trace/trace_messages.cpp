#include "trace_messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "shown_text.h"
#include "trace_text.h"

namespace gpio_check {
namespace {

// White space, control characters and what stands for a character outside
// ASCII (kNotAscii) all lie between messages: none is part of one.
bool IsGap(char c) { return static_cast<unsigned char>(c) <= ' ' || c == '\x7f'; }

// Reads text[at, end): the window a message is read in. Counts every
// character it looks at.
class Scanner {
public:
    Scanner(const std::string& text, std::size_t at, std::size_t end, std::uint64_t& steps)
        : text_(text), at_(at), end_(end), steps_(steps) {}

    bool AtEnd() const { return at_ >= end_; }
    std::size_t Position() const { return at_; }
    void Rewind(std::size_t to) { at_ = to; }
    void SkipGaps() {
        while (!AtEnd() && IsGap(Here())) ++at_;
    }
    bool Literal(const char* literal) {
        const std::size_t length = std::strlen(literal);
        for (std::size_t i = 0; i < length; ++i) {
            ++steps_;
            if (at_ + i >= end_ || text_[at_ + i] != literal[i]) return false;
        }
        at_ += length;
        return true;
    }
    // Every message starts with '+', '-', a capital or a digit: other text
    // is passed over at a glance.
    bool CouldStartMessage() {
        if (AtEnd()) return false;
        const unsigned char c = static_cast<unsigned char>(Here());
        return c == '+' || c == '-' || c == '_' || std::isupper(c) || std::isdigit(c);
    }
    // "0x" and 1 to 8 hex digits, either case.
    bool Hex(std::uint32_t& value) {
        const std::size_t start = at_;
        if (!Literal("0x") && !Literal("0X")) return false;
        value = 0;
        std::size_t digits = 0;
        while (!AtEnd() && digits < 8 && std::isxdigit(static_cast<unsigned char>(Here()))) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text_[at_])));
            value = value << 4 | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
            ++at_;
            ++digits;
        }
        if (digits == 0) at_ = start;
        return digits > 0;
    }
    bool Decimal(std::uint32_t& value) {
        std::size_t digits = 0;
        value = 0;
        while (!AtEnd() && digits < 9 && std::isdigit(static_cast<unsigned char>(Here()))) {
            value = value * 10 + static_cast<std::uint32_t>(text_[at_] - '0');
            ++at_;
            ++digits;
        }
        return digits > 0;
    }
    // A register name as the manual spells it: capitals, digits, '_'.
    bool RegisterName(std::string& name) {
        const std::size_t start = at_;
        while (!AtEnd() && at_ - start <= kLongestRegisterName &&
               (std::isupper(static_cast<unsigned char>(Here())) ||
                std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) {
            ++at_;
        }
        if (at_ == start || at_ - start > kLongestRegisterName) return false;
        name = text_.substr(start, at_ - start);
        return true;
    }
    // Up to and including the first ')' on this line.
    bool CallName(std::string& name) {
        const std::size_t start = at_;
        while (!AtEnd() && at_ - start < kLongestCallName && Here() != ')' && text_[at_] != '\r' &&
               text_[at_] != '\n') {
            ++at_;
        }
        if (AtEnd() || Here() != ')') {
            at_ = start;
            return false;
        }
        ++at_;
        name = text_.substr(start, at_ - start);
        return true;
    }
    // A word of at most `longest` characters, or false (and nothing read).
    bool Word(std::size_t longest) {
        const std::size_t start = at_;
        while (!AtEnd() && !IsGap(Here())) {
            if (at_ - start == longest) {
                at_ = start;
                return false;
            }
            ++at_;
        }
        return true;
    }

private:
    char Here() {
        ++steps_;
        return text_[at_];
    }

    const std::string& text_;
    std::size_t at_;
    std::size_t end_;
    std::uint64_t& steps_;
};

struct Fixed {
    const char* text;
    MessageKind kind;
};
// Longest first where one message starts another.
constexpr Fixed kFixedMessages[] = {
    {"+TolvarGPIOTest", MessageKind::RoutineStart},   {"-TolvarGPIOTest", MessageKind::RoutineEnd},
    {"-TolvarGPIO()", MessageKind::DriverEnd},        {"+SetDirection()", MessageKind::DirectionStart},
    {"-SetDirection()", MessageKind::DirectionEnd},   {"+~TolvarGPIO()", MessageKind::DestructorStart},
    {"-~TolvarGPIO()", MessageKind::DestructorEnd},
};

// A message of the program up to, for a register report, its "changed
// from" value: everything but the after-value. Reads nothing on false.
bool ReadMessageHead(Scanner& in, TraceMessage& message) {
    if (!in.CouldStartMessage()) return false;
    const std::size_t start = in.Position();
    for (const Fixed& fixed : kFixedMessages) {
        if (in.Literal(fixed.text)) {
            message.kind = fixed.kind;
            return true;
        }
    }
    std::uint32_t value = 0, value2 = 0;
    if (in.Literal("+TolvarGPIO(") && in.Decimal(value) && in.Literal(")")) {
        message.kind = MessageKind::DriverStart;
        message.value = value;
        return true;
    }
    in.Rewind(start);
    if (in.Literal("Writing ") && in.Hex(value)) {
        message.kind = MessageKind::Writing;
        message.value = value;
        return true;
    }
    in.Rewind(start);
    if (in.Literal("Read value: ") && in.Hex(value)) {
        message.kind = MessageKind::ReadValue;
        message.value = value;
        return true;
    }
    in.Rewind(start);
    if (in.Hex(value) && in.Literal(" mapped to: ") && in.Hex(value2)) {
        message.kind = MessageKind::Mapped;
        message.value = value;
        message.value2 = value2;
        return true;
    }
    in.Rewind(start);
    if (in.Literal("Error! at ") && in.CallName(message.name)) {
        message.kind = MessageKind::Error;
        return true;
    }
    in.Rewind(start);
    if (in.RegisterName(message.name) && in.Literal(" changed from ") && in.Hex(value)) {
        message.kind = MessageKind::RegisterReport;
        message.value = value;
        return true;
    }
    in.Rewind(start);
    message.name.clear();
    return false;
}

// The "to 0x%08x" half of a register report. A debugger that stamps each
// line it shows may have put a stamp between the halves; anything else
// (another message, the end) means the report was cut off. Whether another
// message starts is judged by its head alone, so a run of cut-off reports
// is read one at a time.
bool ReadAfterValue(Scanner& in, std::uint32_t& value) {
    constexpr std::size_t kLongestStampWord = 32;
    const std::size_t start = in.Position();
    for (int word = 0; word <= kStampWords; ++word) {
        in.SkipGaps();
        const std::size_t at = in.Position();
        if (in.Literal("to ") && in.Hex(value)) return true;
        in.Rewind(at);
        TraceMessage next{};
        if (in.AtEnd() || word == kStampWords || ReadMessageHead(in, next)) break;
        if (!in.Word(kLongestStampWord)) break;
    }
    in.Rewind(start);
    return false;
}

bool ReadMessage(Scanner& in, TraceMessage& message) {
    if (!ReadMessageHead(in, message)) return false;
    if (message.kind == MessageKind::RegisterReport) message.complete = ReadAfterValue(in, message.value2);
    return true;
}

std::string Hex(std::uint32_t value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", width, static_cast<unsigned>(value));
    return text;
}

}  // namespace

void TraceSplitter::Add(const std::string& text) {
    pending_ += text;
    // Split once a window's worth has come, so that each character is
    // moved a bounded number of times however small the pieces.
    if (pending_.size() >= 2 * kMessageWindow) Split(false);
}

void TraceSplitter::Finish() { Split(true); }

void TraceSplitter::Split(bool final) {
    const std::size_t size = pending_.size();
    std::size_t at = 0;
    for (;;) {
        if (inWord_) {
            while (at < size && !IsGap(pending_[at])) ++at, ++steps_;
            if (at == size) break;
            inWord_ = false;
        }
        while (at < size && IsGap(pending_[at])) ++at, ++steps_;
        if (at == size || (!final && size - at < kMessageWindow)) break;
        Scanner in(pending_, at, std::min(size, at + kMessageWindow), steps_);
        TraceMessage message{MessageKind::RoutineStart, "", 0, 0, true, offset_ + at};
        if (ReadMessage(in, message)) {
            messages_.push_back(std::move(message));
            at = in.Position();
        } else {
            ++unrecognised_;
            inWord_ = true;
        }
    }
    pending_.erase(0, at);
    offset_ += at;
    if (final) std::string().swap(pending_);
}

std::vector<TraceMessage> TraceSplitter::HeldMessages(const std::string& more) const {
    TraceSplitter rest;
    rest.pending_ = pending_ + more;
    rest.offset_ = offset_;
    rest.inWord_ = inWord_;
    rest.Split(true);
    return std::move(rest.messages_);
}

std::vector<TraceMessage> SplitTraceMessages(const std::string& text) {
    TraceSplitter splitter;
    splitter.Add(text);
    splitter.Finish();
    return std::move(splitter.Messages());
}

std::string DescribeMessage(const TraceMessage& m) {
    switch (m.kind) {
    case MessageKind::RoutineStart: return "+TolvarGPIOTest";
    case MessageKind::RoutineEnd: return "-TolvarGPIOTest";
    case MessageKind::DriverStart: return "+TolvarGPIO(" + std::to_string(m.value) + ")";
    case MessageKind::DriverEnd: return "-TolvarGPIO()";
    case MessageKind::Mapped: return Hex(m.value, 8) + " mapped to: " + Hex(m.value2, 8);
    case MessageKind::Error: return "Error! at " + gpio_bench::ShownText(m.name, 60);
    case MessageKind::DirectionStart: return "+SetDirection()";
    case MessageKind::DirectionEnd: return "-SetDirection()";
    case MessageKind::RegisterReport:
        return m.name + " changed from " + Hex(m.value, 8) + (m.complete ? " to " + Hex(m.value2, 8) : "");
    case MessageKind::Writing: return "Writing " + Hex(m.value, 2);
    case MessageKind::ReadValue: return "Read value: " + Hex(m.value, 2);
    case MessageKind::DestructorStart: return "+~TolvarGPIO()";
    case MessageKind::DestructorEnd: return "-~TolvarGPIO()";
    }
    return "";
}

bool SameStep(const TraceMessage& a, const TraceMessage& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case MessageKind::DriverStart:
    case MessageKind::Writing: return a.value == b.value;
    case MessageKind::Mapped: return a.value == b.value && a.value2 == b.value2;
    case MessageKind::Error:
    case MessageKind::RegisterReport: return a.name == b.name;
    default: return true;
    }
}

}  // namespace gpio_check
