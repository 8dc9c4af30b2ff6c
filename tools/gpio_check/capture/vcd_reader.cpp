// A Value Change Dump read by hand, in one pass over a stream: the work
// follows the number of changes, not the sample rate, and `x` and `z` stay
// what they are. libsigrok's own VCD input would expand every tick of the
// timescale into a sample. What is kept is bounded: a token, a declaration,
// the list of channels and each line's changes.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "capture_reader.h"
#include "channel_picking.h"
#include "shown_text.h"

namespace gpio_check {
namespace {

__extension__ typedef unsigned __int128 Wide;  // ticks times picoseconds may pass 64 bits

constexpr std::size_t kMaxToken = 4096;          // longer is no VCD token
constexpr std::size_t kMaxDeclaration = 64;      // tokens in a $var or $timescale
constexpr std::size_t kMaxChannels = 65536;      // distinct 1-bit signals and names
constexpr std::size_t kMaxNameBytes = 4 << 20;   // their names and identifiers together
constexpr std::size_t kMaxLeadingText = 4096;    // text before the first keyword

// Whitespace-separated tokens, as VCD is defined, with the line of each. A
// token longer than kMaxToken is cut there and marked. A file that does not
// end a line was cut short: its last token may be a piece and is dropped.
class Tokens {
public:
    explicit Tokens(ByteSource& in) : in_(in) {}

    // The next token; false at the end, on a read error, or at a token too
    // long for a VCD (TooLong), where reading stops.
    bool Next(std::string& token) {
        token.clear();
        if (tooLong_) return false;
        int c;
        while ((c = Get()) >= 0 && IsSpace(c)) {
        }
        if (c < 0) return false;
        tokenLine_ = line_;
        for (; c >= 0 && !IsSpace(c); c = Get()) {
            if (token.size() == kMaxToken) {
                tooLong_ = true;
                longToken_ = token;
                return false;
            }
            token += static_cast<char>(c);
        }
        if (c < 0 && !error_) {
            cutShort_ = true;  // no line end after the last token
            return false;
        }
        return !error_;
    }
    // Skips the lines before the first that starts with a keyword (sigrok-cli
    // puts "META samplerate: N" there); false if there is none near the start.
    bool SkipToKeyword() {
        std::size_t skipped = 0;
        bool lineStart = true;
        for (int c; (c = Peek()) >= 0; Get()) {
            if (lineStart && c == '$') return true;
            if (c == '\n') lineStart = true;
            else if (!IsSpace(c)) lineStart = false;
            if (++skipped > kMaxLeadingText) return false;
        }
        return false;
    }
    // Skips tokens up to `$end`; false if the input ends first.
    bool SkipToEnd() {
        std::string token;
        while (Next(token)) {
            if (token == "$end") return true;
        }
        return false;
    }
    bool TooLong() const { return tooLong_; }
    const std::string& LongToken() const { return longToken_; }
    bool CutShort() const { return cutShort_; }
    bool ReadError() const { return error_; }
    int Errno() const { return errno_; }
    unsigned Line() const { return tokenLine_; }  // of the last token

private:
    static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
    int Peek() {
        if (pos_ == size_ && !Fill()) return -1;
        return static_cast<unsigned char>(buffer_[pos_]);
    }
    int Get() {
        const int c = Peek();
        if (c >= 0) {
            ++pos_;
            if (c == '\n') ++line_;
        }
        return c;
    }
    bool Fill() {
        if (ended_) return false;
        const long got = in_.Read(buffer_, sizeof buffer_);
        if (got <= 0) {
            ended_ = true;
            if (got < 0) {
                error_ = true;
                errno_ = errno;
            }
            return false;
        }
        pos_ = 0;
        size_ = static_cast<std::size_t>(got);
        return true;
    }

    ByteSource& in_;
    char buffer_[65536];
    std::size_t pos_ = 0, size_ = 0;
    bool ended_ = false, error_ = false, tooLong_ = false, cutShort_ = false;
    int errno_ = 0;
    std::string longToken_;
    unsigned line_ = 1, tokenLine_ = 1;
};

// "1 us", "100ps", "10 ns": the tick as a fraction of a picosecond.
bool ParseTimescale(const std::string& compact, std::uint64_t& numerator, std::uint64_t& denominator) {
    static const std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> kUnits = {
        {"s", {1000000000000, 1}}, {"ms", {1000000000, 1}}, {"us", {1000000, 1}},
        {"ns", {1000, 1}},         {"ps", {1, 1}},          {"fs", {1, 1000}}};
    for (const std::uint64_t factor : {100, 10, 1}) {
        const std::string n = std::to_string(factor);
        if (compact.compare(0, n.size(), n) != 0) continue;
        const auto unit = kUnits.find(compact.substr(n.size()));
        if (unit == kUnits.end()) return false;
        numerator = unit->second.first * factor;
        denominator = unit->second.second;
        return true;
    }
    return false;
}

// Digits only, within 64 bits.
bool ParseUnsigned(const char* text, std::uint64_t& value, bool& outOfRange) {
    value = 0;
    outOfRange = false;
    if (*text == '\0') return false;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return false;
        const unsigned digit = static_cast<unsigned>(*text - '0');
        if (value > (UINT64_MAX - digit) / 10) outOfRange = true;
        value = value * 10 + digit;
    }
    return true;
}

Level LevelOf(char value) {
    switch (value) {
    case '0': return Level::Low;
    case '1': return Level::High;
    case 'z': case 'Z': return Level::Undriven;
    default: return Level::Unknown;  // x, X
    }
}

bool IsScalarValue(char value) { return std::strchr("01xXzZ", value) != nullptr && value != '\0'; }

// A line's level through the file. Values at one time may change the line
// more than once, the last counts: a time's value becomes a change only when
// a later time comes (or the file ends whole). Before its first value a line
// is unknown, as VCD defines it.
struct LineLevels {
    bool pending = false, started = false;
    Level value = Level::Unknown;  // the last value at the present time
    Level shown = Level::Unknown;  // the level as committed, kept or not

    void Set(Level level) {
        pending = true;
        value = level;
    }
    void Commit(CapturedLine& line, std::uint64_t timePs) {
        if (!pending) return;
        pending = false;
        if (!started) {
            started = true;
            shown = timePs > 0 ? Level::Unknown : value;
            line.changes.push_back({0, shown});
        }
        if (value == shown) return;
        shown = value;
        ++line.changeCount;
        if (line.changes.size() <= kMaxKeptChanges) line.changes.push_back({timePs, value});
    }
};

}  // namespace

long MemorySource::Read(char* buffer, std::size_t size) {
    const std::size_t n = std::min(size, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
}

bool ReadVcd(ByteSource& in, const std::string& name, const ChannelMap& channels, Capture& capture,
             std::string& error) {
    capture = Capture{};
    Tokens tokens(in);
    const auto fail = [&](unsigned line, const std::string& message) {
        error = name + (line > 0 ? " line " + std::to_string(line) : "") + ": " + message;
        capture = Capture{};
        return false;
    };
    // Why reading stopped early, if it did.
    const auto stopped = [&]() {
        if (tokens.ReadError()) return fail(0, std::string("cannot read the file: ") + std::strerror(tokens.Errno()));
        return fail(tokens.Line(), "not a VCD: a token of more than " + std::to_string(kMaxToken) +
                                       " bytes: " + gpio_bench::ShownText(tokens.LongToken(), 40));
    };
    std::string token;
    if (!tokens.SkipToKeyword()) {
        return tokens.ReadError() ? stopped() : fail(0, "not a VCD: no header");
    }

    std::vector<std::string> body;
    std::uint64_t tickNum = 1000000, tickDen = 1;  // 1 us when the file says nothing
    // The 1-bit signals by identifier, numbered in order of declaration; each
    // name of each (a signal declared again under the same name is one entry).
    std::map<std::string, int> indexOfId;
    std::set<std::pair<int, std::string>> named;
    std::vector<FileChannel> fileChannels;
    std::vector<std::string> idOfIndex;
    std::size_t nameBytes = 0;
    bool definitions = false;
    while (!definitions && tokens.Next(token)) {
        if (token == "$enddefinitions") definitions = true;
        if (token[0] != '$') {
            return fail(tokens.Line(), "not a VCD header keyword: " + gpio_bench::ShownText(token, 40));
        }
        const bool kept = token == "$timescale" || token == "$var";
        if (!kept) {
            if (!tokens.SkipToEnd()) break;
            continue;
        }
        const std::string keyword = token;
        body.clear();
        bool ended = false;
        while (tokens.Next(token)) {
            if (token == "$end") {
                ended = true;
                break;
            }
            if (body.size() == kMaxDeclaration) {
                return fail(tokens.Line(), "a " + keyword + " too long for a VCD: " + gpio_bench::ShownText(token, 40));
            }
            body.push_back(token);
        }
        if (!ended) break;
        if (keyword == "$timescale") {
            std::string compact, text;
            for (const std::string& part : body) {
                compact += part;
                text += (text.empty() ? "" : " ") + part;
            }
            if (!ParseTimescale(compact, tickNum, tickDen)) {
                return fail(tokens.Line(), "unknown time scale \"" + gpio_bench::ShownText(text, 40) + "\"");
            }
            continue;
        }
        // $var TYPE WIDTH ID NAME [RANGE]
        std::uint64_t width = 0;
        bool huge = false;
        if (body.size() < 4 || !ParseUnsigned(body[1].c_str(), width, huge)) {
            std::string text;
            for (const std::string& part : body) text += (text.empty() ? "" : " ") + part;
            return fail(tokens.Line(), "malformed $var: " + gpio_bench::ShownText(text, 80));
        }
        if (width != 1 || huge) continue;  // buses are not lines
        const std::string& id = body[2];
        // The name, and a bit range if any ("D0[0]"). sigrok writes a channel
        // name with spaces as it is: every token up to $end is the name.
        std::string reference = body[3];
        for (std::size_t t = 4; t < body.size(); ++t) reference += (body[t][0] == '[' ? "" : " ") + body[t];
        auto known = indexOfId.find(id);
        if (known == indexOfId.end()) {
            if (indexOfId.size() == kMaxChannels || nameBytes > kMaxNameBytes) {
                return fail(tokens.Line(), "more 1-bit signals than a capture has");
            }
            known = indexOfId.emplace(id, static_cast<int>(idOfIndex.size())).first;
            idOfIndex.push_back(id);
            nameBytes += id.size();
        }
        if (named.emplace(known->second, reference).second) {
            nameBytes += reference.size();
            if (named.size() > kMaxChannels || nameBytes > kMaxNameBytes) {
                return fail(tokens.Line(), "more signal names than a capture has");
            }
            fileChannels.push_back({known->second, reference});
        }
    }
    if (tokens.ReadError() || tokens.TooLong()) return stopped();
    if (!definitions) return fail(0, "the file ends in its header (cut short?)");
    if (fileChannels.empty()) return fail(0, "no 1-bit $var: the file holds no logic channel");
    int index33 = -1, index80 = -1;
    if (!PickChannels(fileChannels, channels, index33, index80, error)) return fail(0, error);
    const std::string id33 = idOfIndex[static_cast<std::size_t>(index33)];
    const std::string id80 = idOfIndex[static_cast<std::size_t>(index80)];
    capture.gpio33.channel = ChannelName(fileChannels, index33);
    capture.gpio80.channel = ChannelName(fileChannels, index80);
    // Nothing more of the header is needed.
    std::map<std::string, int>().swap(indexOfId);
    std::set<std::pair<int, std::string>>().swap(named);
    std::vector<FileChannel>().swap(fileChannels);
    std::vector<std::string>().swap(idOfIndex);

    LineLevels levels33, levels80;
    bool anyTime = false;
    std::uint64_t startTick = 0, nowTick = 0, nowPs = 0;
    const auto commit = [&]() {
        levels33.Commit(capture.gpio33, nowPs);
        levels80.Commit(capture.gpio80, nowPs);
    };
    while (tokens.Next(token)) {
        const char first = token[0];
        if (first == '#') {
            std::uint64_t tick = 0;
            bool outOfRange = false;
            if (!ParseUnsigned(token.c_str() + 1, tick, outOfRange)) {
                return fail(tokens.Line(), "bad time stamp " + gpio_bench::ShownText(token, 40));
            }
            if (outOfRange) return fail(tokens.Line(), "time stamp " + gpio_bench::ShownText(token, 40) + " is beyond 64 bits");
            if (!anyTime) startTick = nowTick = tick;  // times count from the first sample
            if (tick < nowTick) return fail(tokens.Line(), "time goes backwards at " + token);
            const Wide ps = static_cast<Wide>(tick - startTick) * tickNum / tickDen;
            if (ps >> 64) return fail(tokens.Line(), "time " + token + " is beyond any capture (213 days)");
            if (anyTime && tick != nowTick) commit();
            anyTime = true;
            nowTick = tick;
            nowPs = static_cast<std::uint64_t>(ps);
        } else if (token == "$comment") {
            tokens.SkipToEnd();
        } else if (first == '$') {
            // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end: the
            // values inside are ordinary changes.
        } else if (first == 'b' || first == 'B' || first == 'r' || first == 'R') {
            tokens.Next(token);  // a bus or real value and its identifier
        } else if (IsScalarValue(first) && token.size() > 1) {
            const char* id = token.c_str() + 1;
            if (id33 == id) levels33.Set(LevelOf(first));
            if (id80 == id) levels80.Set(LevelOf(first));
        } else {
            return fail(tokens.Line(), "not a value change: " + gpio_bench::ShownText(token, 40));
        }
    }
    if (tokens.ReadError() || tokens.TooLong()) return stopped();
    // A file cut short may hold only some of the changes at its last time
    // stamp: it ends before them.
    if (!tokens.CutShort()) commit();
    if (!anyTime || capture.gpio33.changes.empty() || capture.gpio80.changes.empty() ||
        (tokens.CutShort() && nowPs == 0)) {
        return fail(0, "the file holds no samples of " + capture.gpio33.channel + " and " + capture.gpio80.channel);
    }
    capture.endPs = nowPs;
    return true;
}

bool ReadVcdFile(const std::string& path, const ChannelMap& channels, Capture& capture, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        capture = Capture{};
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct FileSource : ByteSource {
        std::FILE* file;
        long Read(char* buffer, std::size_t size) override {
            const std::size_t got = std::fread(buffer, 1, size, file);
            return got == 0 && std::ferror(file) ? -1 : static_cast<long>(got);
        }
    } source;
    source.file = file;
    const bool ok = ReadVcd(source, path, channels, capture, error);
    std::fclose(file);
    return ok;
}

}  // namespace gpio_check
