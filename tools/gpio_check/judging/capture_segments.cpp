// A captured line as stretches of one level, pulses folded out of them,
// and the words and times the reports use for them.

#include "capture_analyser.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <queue>

namespace gpio_check {
namespace analysis {

std::string Seconds(double ps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", ps / kPsPerSecond);
    return text;
}

std::string Milliseconds(double ps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", ps / kPsPerMs);
    return text;
}

const char* LevelWord(Level level) {
    switch (level) {
    case Level::Low: return "low";
    case Level::High: return "high";
    case Level::Unknown: return "unknown (x)";
    case Level::Undriven: return "undriven (z)";
    }
    return "?";
}

// A line busier than any run is kept only up to its last kept change: the
// capture holds both lines only that far.
double KnownUntil(const Capture& capture) {
    double endPs = static_cast<double>(capture.endPs);
    for (const CapturedLine* line : {&capture.gpio33, &capture.gpio80}) {
        if (line->Busy() && !line->changes.empty()) {
            endPs = std::min(endPs, static_cast<double>(line->changes.back().timePs));
        }
    }
    return endPs;
}

// From `startPs` on: a later run is placed in the capture after an earlier one.
Segments ToSegments(const CapturedLine& line, double startPs, double endPs) {
    Segments segments;
    for (std::size_t i = 0; i < line.changes.size(); ++i) {
        const double start = std::max(startPs, static_cast<double>(line.changes[i].timePs));
        if (i + 1 < line.changes.size() && static_cast<double>(line.changes[i + 1].timePs) <= startPs) continue;
        if (i > 0 && start >= endPs) break;
        const double end = i + 1 < line.changes.size() ? static_cast<double>(line.changes[i + 1].timePs) : endPs;
        if (end <= start && i + 1 < line.changes.size()) continue;
        if (!segments.empty() && segments.back().level == line.changes[i].level) {
            segments.back().end = std::max(end, segments.back().end);
        } else {
            segments.push_back({start, std::max(start, end), line.changes[i].level});
        }
    }
    return segments;
}

// Pulses shorter than `shortestPs` folded into the level around them, the
// shortest first: a pulse soon after a step's edge leaves the edge where
// it is, rather than taking the stretch between them for a pulse too.
// `removed` gets each pulse folded in.
Segments WithoutGlitches(const Segments& segments, double shortestPs, Segments* removed) {
    const std::size_t n = segments.size();
    Segments merged = segments;
    std::vector<std::size_t> prev(n), next(n);
    std::vector<bool> gone(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        prev[i] = i - 1;  // wraps for the first: never a pulse
        next[i] = i + 1;
    }
    using Entry = std::pair<double, std::size_t>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> shortest;
    for (std::size_t i = 1; i + 1 < n; ++i) shortest.push({merged[i].end - merged[i].start, i});
    while (!shortest.empty()) {
        const auto [length, i] = shortest.top();
        shortest.pop();
        if (gone[i] || length != merged[i].end - merged[i].start || length >= shortestPs) continue;
        if (prev[i] >= n || next[i] >= n) continue;
        const std::size_t before = prev[i], after = next[i];
        if (merged[before].level != merged[after].level) continue;
        if (removed != nullptr) removed->push_back(merged[i]);
        // The pulse and the stretch after it join the one before.
        merged[before].end = merged[after].end;
        gone[i] = gone[after] = true;
        next[before] = next[after];
        if (next[after] < n) prev[next[after]] = before;
        if (prev[before] < n && next[before] < n) shortest.push({merged[before].end - merged[before].start, before});
    }
    Segments clean;
    for (std::size_t i = 0; i < n; ++i) {
        if (!gone[i]) clean.push_back(merged[i]);
    }
    if (removed != nullptr) {
        std::sort(removed->begin(), removed->end(), [](const Segment& x, const Segment& y) { return x.start < y.start; });
    }
    return clean;
}

// The level that holds longest between two times.
Level MajorityLevel(const Segments& segments, double from, double to) {
    std::array<double, 4> time{};
    auto it = std::upper_bound(segments.begin(), segments.end(), from,
                               [](double t, const Segment& s) { return t < s.start; });
    if (it != segments.begin()) --it;
    for (; it != segments.end() && it->start < to; ++it) {
        const double overlap = std::min(to, it->end) - std::max(from, it->start);
        if (overlap <= 0) continue;
        const int index = it->level == Level::Low ? 0 : it->level == Level::High ? 1 : it->level == Level::Unknown ? 2 : 3;
        time[static_cast<std::size_t>(index)] += overlap;
    }
    const auto most = std::max_element(time.begin(), time.end()) - time.begin();
    static constexpr Level kLevels[] = {Level::Low, Level::High, Level::Unknown, Level::Undriven};
    return kLevels[most];
}

std::vector<double> UnionEdges(const std::array<Segments, kLineCount>& lines) {
    std::vector<double> edges;
    for (const Segments& segments : lines) {
        for (std::size_t i = 1; i < segments.size(); ++i) edges.push_back(segments[i].start);
    }
    std::sort(edges.begin(), edges.end());
    return edges;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace analysis
}  // namespace gpio_check
