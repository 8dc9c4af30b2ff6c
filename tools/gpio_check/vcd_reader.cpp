// A Value Change Dump read by hand: the work follows the number of changes,
// not the sample rate, and `x` and `z` stay what they are. libsigrok's own
// VCD input would expand every tick of the timescale into a sample.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <vector>

#include "capture_reader.h"

namespace gpio_check {
namespace {

__extension__ typedef unsigned __int128 Wide;  // ticks times picoseconds may pass 64 bits

// Whitespace-separated tokens, as VCD is defined, with the line of each.
class Tokens {
public:
    explicit Tokens(const std::string& text) : text_(text) {}
    bool Next(std::string& token) {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            if (text_[pos_++] == '\n') ++line_;
        }
        if (pos_ == text_.size()) return false;
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        token.assign(text_, start, pos_ - start);
        return true;
    }
    // The tokens up to the next `$end`, joined by spaces; false if none comes.
    bool UpToEnd(std::string& body) {
        body.clear();
        std::string token;
        while (Next(token)) {
            if (token == "$end") return true;
            body += body.empty() ? token : " " + token;
        }
        return false;
    }
    unsigned Line() const { return line_; }

private:
    const std::string& text_;
    std::size_t pos_ = 0;
    unsigned line_ = 1;
};

// "1 us", "100ps", "10 ns": the tick as a fraction of a picosecond.
bool ParseTimescale(const std::string& text, std::uint64_t& numerator, std::uint64_t& denominator) {
    std::string compact;
    for (char c : text) {
        if (c != ' ') compact += c;
    }
    static const std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> kUnits = {
        {"s", {1000000000000, 1}}, {"ms", {1000000000, 1}}, {"us", {1000000, 1}},
        {"ns", {1000, 1}},         {"ps", {1, 1}},          {"fs", {1, 1000}}};
    for (const char* number : {"100", "10", "1"}) {
        const std::string n = number;
        if (compact.compare(0, n.size(), n) != 0) continue;
        const auto unit = kUnits.find(compact.substr(n.size()));
        if (unit == kUnits.end()) return false;
        const std::uint64_t factor = std::stoull(n);
        numerator = unit->second.first * factor;
        denominator = unit->second.second;
        return true;
    }
    return false;
}

Level LevelOf(char value) {
    switch (value) {
    case '0': return Level::Low;
    case '1': return Level::High;
    case 'z': case 'Z': return Level::Undriven;
    default: return Level::Unknown;  // x, X
    }
}

bool IsScalarValue(char value) { return std::string("01xXzZ").find(value) != std::string::npos; }

// A line's levels: only changes are kept; before its first value a line is
// unknown, as VCD defines it.
void Record(CapturedLine& line, std::uint64_t timePs, Level level) {
    if (line.changes.empty() && timePs > 0) line.changes.push_back({0, Level::Unknown});
    if (!line.changes.empty() && line.changes.back().level == level) return;
    if (!line.changes.empty() && line.changes.back().timePs == timePs) {
        line.changes.back().level = level;  // two values at one time: the last counts
        if (line.changes.size() > 1 && line.changes[line.changes.size() - 2].level == level) {
            line.changes.pop_back();
        }
        return;
    }
    line.changes.push_back({timePs, level});
}

bool ReadFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace

bool ReadVcdFile(const std::string& path, const ChannelMap& channels, Capture& capture,
                 std::string& error) {
    capture = Capture{};
    std::string text;
    if (!ReadFile(path, text)) {
        error = path + ": cannot read the file";
        return false;
    }
    // A file that does not end a line was cut short: read up to its last
    // whole line, and only up to the last time stamp before the cut.
    const bool cutShort = !text.empty() && text.back() != '\n';
    if (cutShort) {
        const std::size_t lastNewline = text.find_last_of('\n');
        text.erase(lastNewline == std::string::npos ? 0 : lastNewline + 1);
    }

    // sigrok-cli's VCD export, when it read a VCD itself, starts with a
    // "META samplerate: N" line: skip text before the first keyword line.
    std::size_t header = 0;
    for (;;) {
        const std::size_t first = text.find_first_not_of(" \t\r\n", header);
        if (first == std::string::npos || text[first] == '$') break;
        const std::size_t next = text.find('\n', first);
        header = next == std::string::npos ? text.size() : next + 1;
    }
    const unsigned skippedLines = static_cast<unsigned>(std::count(text.begin(), text.begin() + header, '\n'));
    text.erase(0, header);

    const auto fail = [&](unsigned line, const std::string& message) {
        error = path + (line > 0 ? " line " + std::to_string(line + skippedLines) : "") + ": " + message;
        capture = Capture{};
        return false;
    };
    Tokens tokens(text);
    std::string token, body;
    std::uint64_t tickNum = 1000000, tickDen = 1;  // 1 us when the file says nothing
    std::map<std::string, std::vector<CapturedLine*>> lineOfId;
    std::string found;  // the 1-bit channels in the file, for the message
    bool definitions = false;
    while (!definitions && tokens.Next(token)) {
        if (token == "$enddefinitions") definitions = true;
        if (token.empty() || token[0] != '$') return fail(tokens.Line(), "not a VCD header keyword: " + token);
        if (!tokens.UpToEnd(body)) break;
        if (token == "$timescale" && !ParseTimescale(body, tickNum, tickDen)) {
            return fail(tokens.Line(), "unknown time scale \"" + body + "\"");
        }
        if (token != "$var") continue;
        char type[32], id[64], name[256], range[64] = "";
        unsigned width = 0;
        if (std::sscanf(body.c_str(), "%31s %u %63s %255s %63s", type, &width, id, name, range) < 4) {
            return fail(tokens.Line(), "malformed $var: " + body);
        }
        const std::string reference = std::string(name) + range;
        if (width != 1) continue;  // buses are not lines
        found += (found.empty() ? "" : ", ") + reference;
        if (reference == channels.gpio33) lineOfId[id].push_back(&capture.gpio33);
        if (reference == channels.gpio80) lineOfId[id].push_back(&capture.gpio80);
        if (reference == channels.gpio33) capture.gpio33.channel = reference;
        if (reference == channels.gpio80) capture.gpio80.channel = reference;
    }
    if (!definitions) {
        return fail(0, text.find('$') == std::string::npos ? "not a VCD: no header"
                                                           : "the file ends in its header (cut short?)");
    }
    if (found.empty()) return fail(0, "no 1-bit $var: the file holds no logic channel");
    for (const auto* line : {&capture.gpio33, &capture.gpio80}) {
        if (line->channel.empty()) {
            const std::string& wanted = line == &capture.gpio33 ? channels.gpio33 : channels.gpio80;
            return fail(0, "no channel " + wanted + " (the file has " + found + ")");
        }
    }

    bool anyTime = false;
    std::uint64_t startTick = 0, nowTick = 0, nowPs = 0;
    while (tokens.Next(token)) {
        const char first = token[0];
        if (first == '#') {
            char* end = nullptr;
            const unsigned long long tick = std::strtoull(token.c_str() + 1, &end, 10);
            if (token.size() < 2 || *end != '\0') return fail(tokens.Line(), "bad time stamp " + token);
            if (!anyTime) startTick = nowTick = tick;  // times count from the first sample
            if (tick < nowTick) return fail(tokens.Line(), "time goes backwards at " + token);
            anyTime = true;
            nowTick = tick;
            const auto ps = static_cast<Wide>(tick - startTick) * tickNum / tickDen;
            if (ps >> 64) return fail(tokens.Line(), "time " + token + " is beyond any capture");
            nowPs = static_cast<std::uint64_t>(ps);
        } else if (token == "$comment") {
            tokens.UpToEnd(body);
        } else if (first == '$') {
            // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end: the
            // values inside are ordinary changes.
        } else if (first == 'b' || first == 'B' || first == 'r' || first == 'R') {
            tokens.Next(token);  // a bus or real value and its identifier
        } else if (IsScalarValue(first) && token.size() > 1) {
            const auto lines = lineOfId.find(token.substr(1));
            if (lines == lineOfId.end()) continue;
            for (CapturedLine* line : lines->second) Record(*line, nowPs, LevelOf(first));
        } else {
            return fail(tokens.Line(), "not a value change: " + token);
        }
    }
    if (cutShort) {
        // The changes at the last time stamp may be incomplete: end before them.
        for (auto* line : {&capture.gpio33, &capture.gpio80}) {
            while (line->changes.size() > 1 && line->changes.back().timePs >= nowPs) line->changes.pop_back();
        }
    }
    if (!anyTime || capture.gpio33.changes.empty() || capture.gpio80.changes.empty() ||
        (cutShort && nowPs == 0)) {
        return fail(0, "the file holds no samples of " + channels.gpio33 + " and " + channels.gpio80);
    }
    capture.endPs = nowPs;
    return true;
}

}  // namespace gpio_check
