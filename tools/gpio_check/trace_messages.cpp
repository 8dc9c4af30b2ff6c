#include "trace_messages.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace gpio_check {
namespace {

bool IsGap(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || c == '\f'; }

class Scanner {
public:
    explicit Scanner(const std::string& text) : text_(text) {}

    bool AtEnd() const { return at_ >= text_.size(); }
    std::size_t Position() const { return at_; }
    void Rewind(std::size_t to) { at_ = to; }
    void SkipGaps() {
        while (!AtEnd() && IsGap(text_[at_])) ++at_;
    }
    bool Literal(const char* literal) {
        const std::size_t length = std::strlen(literal);
        if (text_.compare(at_, length, literal) != 0) return false;
        at_ += length;
        return true;
    }
    // "0x" and 1 to 8 hex digits, either case.
    bool Hex(std::uint32_t& value) {
        const std::size_t start = at_;
        if (!Literal("0x") && !Literal("0X")) return false;
        value = 0;
        std::size_t digits = 0;
        while (!AtEnd() && digits < 8 && std::isxdigit(static_cast<unsigned char>(text_[at_]))) {
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
        while (!AtEnd() && digits < 9 && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            value = value * 10 + static_cast<std::uint32_t>(text_[at_] - '0');
            ++at_;
            ++digits;
        }
        return digits > 0;
    }
    // A register name as the manual spells it: capitals, digits, '_'.
    bool RegisterName(std::string& name) {
        const std::size_t start = at_;
        while (!AtEnd() && (std::isupper(static_cast<unsigned char>(text_[at_])) ||
                            std::isdigit(static_cast<unsigned char>(text_[at_])) || text_[at_] == '_')) {
            ++at_;
        }
        name = text_.substr(start, at_ - start);
        return !name.empty();
    }
    // Up to and including the first ')' on this line.
    bool CallName(std::string& name) {
        const std::size_t start = at_;
        while (!AtEnd() && text_[at_] != ')' && text_[at_] != '\r' && text_[at_] != '\n') ++at_;
        if (AtEnd() || text_[at_] != ')') {
            at_ = start;
            return false;
        }
        ++at_;
        name = text_.substr(start, at_ - start);
        return true;
    }
    std::string Word() {
        const std::size_t start = at_;
        while (!AtEnd() && !IsGap(text_[at_])) ++at_;
        return text_.substr(start, at_ - start);
    }

private:
    const std::string& text_;
    std::size_t at_ = 0;
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

bool ReadMessage(Scanner& in, TraceMessage& message);

// The "to 0x%08x" half of a register report. A debugger that stamps each
// line it shows may have put a stamp between the halves; anything else
// (another message, the end) means the report was cut off.
bool ReadAfterValue(Scanner& in, std::uint32_t& value) {
    constexpr int kStampWords = 4;
    const std::size_t start = in.Position();
    for (int word = 0; word <= kStampWords; ++word) {
        in.SkipGaps();
        const std::size_t at = in.Position();
        if (in.Literal("to ") && in.Hex(value)) return true;
        in.Rewind(at);
        Scanner probe = in;
        TraceMessage next;
        if (in.AtEnd() || ReadMessage(probe, next)) break;
        in.Word();
    }
    in.Rewind(start);
    return false;
}

bool ReadMessage(Scanner& in, TraceMessage& message) {
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
        message.complete = ReadAfterValue(in, message.value2);
        return true;
    }
    in.Rewind(start);
    message.name.clear();
    return false;
}

std::string Hex(std::uint32_t value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", width, static_cast<unsigned>(value));
    return text;
}

}  // namespace

std::vector<TraceMessage> SplitTraceMessages(const std::string& text) {
    std::vector<TraceMessage> messages;
    Scanner in(text);
    for (in.SkipGaps(); !in.AtEnd(); in.SkipGaps()) {
        TraceMessage message{MessageKind::Unrecognised, "", 0, 0, true, in.Position()};
        if (!ReadMessage(in, message)) {
            message.kind = MessageKind::Unrecognised;
            message.name = in.Word();
        }
        messages.push_back(message);
    }
    return messages;
}

std::string DescribeMessage(const TraceMessage& m) {
    switch (m.kind) {
    case MessageKind::RoutineStart: return "+TolvarGPIOTest";
    case MessageKind::RoutineEnd: return "-TolvarGPIOTest";
    case MessageKind::DriverStart: return "+TolvarGPIO(" + std::to_string(m.value) + ")";
    case MessageKind::DriverEnd: return "-TolvarGPIO()";
    case MessageKind::Mapped: return Hex(m.value, 8) + " mapped to: " + Hex(m.value2, 8);
    case MessageKind::Error: return "Error! at " + m.name;
    case MessageKind::DirectionStart: return "+SetDirection()";
    case MessageKind::DirectionEnd: return "-SetDirection()";
    case MessageKind::RegisterReport:
        return m.name + " changed from " + Hex(m.value, 8) + (m.complete ? " to " + Hex(m.value2, 8) : "");
    case MessageKind::Writing: return "Writing " + Hex(m.value, 2);
    case MessageKind::ReadValue: return "Read value: " + Hex(m.value, 2);
    case MessageKind::DestructorStart: return "+~TolvarGPIO()";
    case MessageKind::DestructorEnd: return "-~TolvarGPIO()";
    case MessageKind::Unrecognised: break;
    }
    return "'" + m.name + "'";
}

bool SameStep(const TraceMessage& a, const TraceMessage& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case MessageKind::DriverStart:
    case MessageKind::Writing: return a.value == b.value;
    case MessageKind::Mapped: return a.value == b.value && a.value2 == b.value2;
    case MessageKind::Error:
    case MessageKind::RegisterReport:
    case MessageKind::Unrecognised: return a.name == b.name;
    default: return true;
    }
}

}  // namespace gpio_check
