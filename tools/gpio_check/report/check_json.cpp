#include "check_json.h"

#include <cstdio>

#include "check_report.h"

namespace gpio_check {
namespace {

const char* StatusName(Status status) {
    switch (status) {
    case Status::Ok: return "ok";
    case Status::Info: return "info";
    case Status::NotSeen: return "not seen";
    case Status::Incomplete: return "incomplete";
    case Status::Fault: return "fault";
    }
    return "?";
}

// The length of the UTF-8 sequence at `at`, 0 when it is none.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
    const unsigned char first = static_cast<unsigned char>(text[at]);
    const std::size_t length = first < 0x80            ? 1
                               : (first >> 5) == 0x06  ? 2
                               : (first >> 4) == 0x0E  ? 3
                               : (first >> 3) == 0x1E  ? 4
                                                       : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
    }
    // No overlong forms, surrogates or code points past U+10FFFF: a strict
    // JSON reader refuses them.
    const unsigned char second = length > 1 ? static_cast<unsigned char>(text[at + 1]) : 0;
    if (first == 0xC0 || first == 0xC1 || first > 0xF4) return 0;
    if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second >= 0xA0)) return 0;
    if ((first == 0xF0 && second < 0x90) || (first == 0xF4 && second >= 0x90)) return 0;
    return length;
}

// A fault's name: its note up to the first ':' ("stuck low: never ...").
std::string FaultName(const std::string& note) { return note.substr(0, note.find(':')); }

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string Strings(const std::vector<std::string>& texts, const std::string& indent) {
    if (texts.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t i = 0; i < texts.size(); ++i) {
        out += indent + "  " + JsonString(texts[i]) + (i + 1 < texts.size() ? ",\n" : "\n");
    }
    return out + indent + "]";
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
            ++i;
        } else if (const std::size_t length = Utf8Length(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

std::string RenderJsonVerdict(const std::vector<JsonInput>& inputs, const std::vector<CheckResult>& checks,
                              int exitCode) {
    std::string out = "{\n";
    out += "  \"format\": " + std::to_string(kJsonFormat) + ",\n";
    out += "  \"tool\": \"pxa-gpio-check\",\n";
    out += "  \"version\": " + JsonString(kCheckerVersion) + ",\n";
    out += "  \"inputs\": [";
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const JsonInput& input = inputs[i];
        out += std::string(i > 0 ? "," : "") + "\n    {\"role\": " + JsonString(input.role) +
               ", \"kind\": " + JsonString(input.kind) + ", \"name\": " + JsonString(input.name) +
               ", \"bytes\": " + std::to_string(input.bytes);
        if (input.seconds >= 0) out += ", \"seconds\": " + Number(input.seconds);
        if (input.messages >= 0) out += ", \"messages\": " + std::to_string(input.messages);
        if (!input.end.empty()) out += ", \"end\": " + JsonString(input.end);
        if (!input.kept.empty()) out += ", \"kept\": " + JsonString(input.kept);
        out += "}";
    }
    out += inputs.empty() ? "],\n" : "\n  ],\n";
    out += "  \"lines\": [";
    for (int line = 0; line < kLineCount; ++line) {
        const LineVerdict verdict = VerdictForLine(checks, line);
        std::vector<std::string> names;
        for (const std::string& fault : verdict.faults) names.push_back(FaultName(fault));
        out += std::string(line > 0 ? "," : "") + "\n    {\"name\": " + JsonString(kLineNames[line]) +
               ", \"status\": " + JsonString(StatusName(verdict.status)) +
               ", \"summary\": " + JsonString(verdict.text) + ",\n     \"faults\": " + Strings(names, "     ") + "}";
    }
    out += "\n  ],\n";
    out += "  \"checks\": [";
    for (std::size_t i = 0; i < checks.size(); ++i) {
        const CheckResult& check = checks[i];
        out += std::string(i > 0 ? "," : "") + "\n    {\"name\": " + JsonString(check.name) +
               ", \"status\": " + JsonString(StatusName(check.status)) +
               ", \"summary\": " + JsonString(check.summary) + ",\n     \"details\": " +
               Strings(check.details, "     ") + "}";
    }
    out += checks.empty() ? "],\n" : "\n  ],\n";
    out += "  \"verdict\": {\"status\": " + JsonString(StatusName(OverallStatus(checks))) +
           ", \"text\": " + JsonString(OverallText(checks)) + "},\n";
    out += "  \"exitCode\": " + std::to_string(exitCode) + "\n}\n";
    return out;
}

}  // namespace gpio_check
