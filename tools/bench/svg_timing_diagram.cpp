#include "svg_timing_diagram.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "drive_schedule.h"

namespace gpio_bench {
namespace {

constexpr double kWidth = 1200;
constexpr double kPlotLeft = 90;
constexpr double kPlotRight = kWidth - 24;
constexpr double kBandTop = 56;
constexpr double kRowTop = 96;
constexpr double kRowPitch = 76;
constexpr double kHighOffset = 8;
constexpr double kLowOffset = 48;
// Below the rows: the axis, then the legend.
constexpr double AxisY(std::size_t rows) { return kRowTop + static_cast<double>(rows) * kRowPitch + 4; }
constexpr double LegendY(std::size_t rows) { return AxisY(rows) + 46; }
constexpr double Height(std::size_t rows) { return LegendY(rows) + 22; }
constexpr const char* kMarkColour = "#d32f2f";

// How a stretch of a line is drawn, by who drives it.
enum Style { kOutput, kOutsideDriven, kUndriven, kFighting, kStyleCount };

struct StyleLook {
    const char* stroke;
    const char* extra;
    const char* legend;
};
constexpr StyleLook kLooks[kStyleCount] = {
    {"#1f4e9c", "", "output: the processor drives the line"},
    {"#2e7d32", "", "input: driven from outside"},
    {"#8a8a8a", " stroke-dasharray=\"4 3\"", "input: undriven (reads low)"},
    {"#c62828", "", "driven both ways at once"},
};

Style StyleOf(const PinState& state) {
    if (state.contention) return kFighting;
    if (state.output) return kOutput;
    return state.driven ? kOutsideDriven : kUndriven;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string Escape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string Text(double x, double y, const std::string& content, const char* attributes = "") {
    return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\"" + attributes + ">" +
           Escape(content) + "</text>\n";
}

class TimeScale {
public:
    explicit TimeScale(std::uint64_t endUs) : endUs_(endUs == 0 ? 1 : endUs) {}
    double X(std::uint64_t timeUs) const {
        return kPlotLeft + (kPlotRight - kPlotLeft) * static_cast<double>(timeUs) /
                               static_cast<double>(endUs_);
    }
    // A round tick step (1, 2 or 5 times a power of ten, from 1 ms) giving
    // at most 14 ticks, whatever the span.
    std::uint64_t TickStepUs() const {
        for (std::uint64_t decade = 1000;; decade *= 10) {
            for (std::uint64_t step : {decade, 2 * decade, 5 * decade}) {
                if (endUs_ / step <= 14) return step;
            }
        }
    }
    // The time one pixel of the plot covers, at least 1 us.
    std::uint64_t PixelUs() const {
        return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(static_cast<double>(endUs_) / (kPlotRight - kPlotLeft)));
    }

private:
    std::uint64_t endUs_;
};

std::string PhaseBands(const RunPhases& phases, std::uint64_t endUs, std::size_t rows,
                       const TimeScale& scale) {
    if (!phases.found) return "";
    const double writeX = scale.X(phases.writeStartUs);
    const double readX = scale.X(phases.readStartUs);
    const double endX = scale.X(endUs);
    const double bandHeight = AxisY(rows) - kBandTop;
    std::string svg;
    svg += "<rect x=\"" + Number(writeX) + "\" y=\"" + Number(kBandTop) + "\" width=\"" +
           Number(readX - writeX) + "\" height=\"" + Number(bandHeight) + "\" fill=\"#eef3fb\"/>\n";
    svg += "<rect x=\"" + Number(readX) + "\" y=\"" + Number(kBandTop) + "\" width=\"" +
           Number(endX - readX) + "\" height=\"" + Number(bandHeight) + "\" fill=\"#edf7ed\"/>\n";
    svg += Text(writeX + 6, kBandTop + 15,
                "write phase: outputs, patterns 0 1 2 3 (GPIO33 is bit 1, GPIO80 bit 0)",
                " class=\"phase\"");
    svg += Text(readX + 5, kBandTop + 15, "read phase:", " class=\"phase\"");
    svg += Text(readX + 5, kBandTop + 29, "inputs", " class=\"phase\"");
    return svg;
}

// The changes a picture can show: in each pixel's time only the first and
// the last, the pixels where more happened marked busy. However often a line
// changes, a row has at most a few path segments a pixel.
struct Thinned {
    std::vector<LineChange> changes;
    std::vector<LineChange> busy;  // pixels drawn full height, in the style of their last state
};

Thinned Thin(const std::vector<LineChange>& changes, std::uint64_t pixelUs) {
    Thinned thinned;
    for (std::size_t i = 0; i < changes.size();) {
        const std::uint64_t pixel = changes[i].timeUs / pixelUs;
        std::size_t last = i;
        while (last + 1 < changes.size() && changes[last + 1].timeUs / pixelUs == pixel) ++last;
        thinned.changes.push_back(changes[i]);
        if (last > i) thinned.changes.push_back({changes[i].timeUs, changes[last].state});
        if (last > i + 1) thinned.busy.push_back({changes[i].timeUs, changes[last].state});
        i = last + 1;
    }
    return thinned;
}

std::string Waveform(const LineTrack& track, const std::string& caption, double rowTop,
                     const TimeScale& scale, std::uint64_t endUs) {
    const double high = rowTop + kHighOffset;
    const double low = rowTop + kLowOffset;
    const double middle = (high + low) / 2;
    std::string paths[kStyleCount];
    double previousY = 0;
    const Thinned thinned = Thin(track.changes, scale.PixelUs());
    const std::vector<LineChange>& changes = thinned.changes;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const auto& change = changes[i];
        const std::uint64_t untilUs = i + 1 < changes.size() ? changes[i + 1].timeUs : endUs;
        if (untilUs < change.timeUs) continue;
        const Style style = StyleOf(change.state);
        const double y = style == kUndriven ? middle : (change.state.level ? high : low);
        const double x = scale.X(change.timeUs);
        std::string& d = paths[style];
        if (i > 0 && y != previousY) d += "M" + Number(x) + " " + Number(previousY) + "V" + Number(y);
        if (untilUs > change.timeUs) d += "M" + Number(x) + " " + Number(y) + "H" + Number(scale.X(untilUs));
        previousY = y;
    }
    for (const LineChange& busy : thinned.busy) {
        paths[StyleOf(busy.state)] += "M" + Number(scale.X(busy.timeUs)) + " " + Number(high) + "V" + Number(low);
    }
    std::string svg = Text(12, middle + 5, track.name, " class=\"line\"");
    if (!caption.empty()) svg += Text(12, middle + 19, caption, " class=\"caption\"");
    svg += Text(kPlotLeft - 8, high + 4, "1", " class=\"level\"");
    svg += Text(kPlotLeft - 8, low + 4, "0", " class=\"level\"");
    for (int style = 0; style < kStyleCount; ++style) {
        if (paths[style].empty()) continue;
        svg += std::string("<path d=\"") + paths[style] + "\" stroke=\"" + kLooks[style].stroke +
               "\"" + kLooks[style].extra + "/>\n";
    }
    return svg;
}

// Past this many marks the rest are counted, not drawn.
constexpr std::size_t kMostMarks = 200;

std::string Marks(const std::vector<DiagramMark>& marks, const TimeScale& scale, std::size_t rows) {
    std::string svg;
    std::vector<std::pair<std::size_t, std::string>> labelled;  // each label once a row
    if (marks.size() > kMostMarks) {
        svg += Text(kPlotLeft + 300, LegendY(rows) + 18,
                    std::to_string(marks.size() - kMostMarks) + " more faults found, not drawn", " class=\"legend\"");
    }
    for (std::size_t m = 0; m < marks.size() && m < kMostMarks; ++m) {
        const DiagramMark& mark = marks[m];
        const double top = kRowTop + kRowPitch * static_cast<double>(mark.row);
        const double x = scale.X(mark.fromUs);
        const double width = std::max(2.0, scale.X(mark.toUs) - x);
        svg += "<rect x=\"" + Number(x) + "\" y=\"" + Number(top + 2) + "\" width=\"" + Number(width) +
               "\" height=\"" + Number(kLowOffset + 4) + "\" fill=\"" + kMarkColour +
               "\" fill-opacity=\"0.18\" stroke=\"" + kMarkColour + "\" stroke-width=\"1\"/>\n";
        const std::pair<std::size_t, std::string> key{mark.row, mark.label};
        if (std::find(labelled.begin(), labelled.end(), key) != labelled.end()) continue;
        labelled.push_back(key);
        svg += Text(x + 3, top + kLowOffset + 18, mark.label, " class=\"mark\"");
    }
    return svg;
}

std::string Gaps(const std::vector<DiagramMark>& gaps, const TimeScale& scale) {
    std::string svg;
    for (const DiagramMark& gap : gaps) {
        const double top = kRowTop + kRowPitch * static_cast<double>(gap.row);
        const double x = scale.X(gap.fromUs);
        const double width = scale.X(gap.toUs) - x;
        if (width <= 0) continue;
        svg += "<rect class=\"gap\" x=\"" + Number(x) + "\" y=\"" + Number(top + 2) + "\" width=\"" + Number(width) +
               "\" height=\"" + Number(kLowOffset + 4) +
               "\" fill=\"#f4f4f4\" stroke=\"#9e9e9e\" stroke-dasharray=\"2 2\" stroke-width=\"1\"/>\n";
        if (width > 60) svg += Text(x + 6, top + (kHighOffset + kLowOffset) / 2 + 4, gap.label, " class=\"caption\"");
    }
    return svg;
}

std::string TimeAxis(const TimeScale& scale, std::uint64_t endUs, std::size_t rows) {
    const double axisY = AxisY(rows);
    std::string svg = "<path d=\"M" + Number(kPlotLeft) + " " + Number(axisY) + "H" +
                      Number(scale.X(endUs)) + "\" stroke=\"#444\"/>\n";
    const std::uint64_t step = scale.TickStepUs();
    for (std::uint64_t t = 0; t <= endUs; t += step) {
        const double x = scale.X(t);
        svg += "<path d=\"M" + Number(x) + " " + Number(axisY) + "v5\" stroke=\"#444\"/>\n";
        svg += Text(x, axisY + 19, FormatShortSeconds(t) + " s", " class=\"tick\"");
    }
    return svg;
}

std::string Legend(std::size_t rows, bool marks) {
    const double legendY = LegendY(rows);
    std::string svg;
    double x = kPlotLeft;
    for (const auto& look : kLooks) {
        svg += "<path d=\"M" + Number(x) + " " + Number(legendY - 4) + "h24\" stroke=\"" +
               look.stroke + "\"" + look.extra + "/>\n";
        svg += Text(x + 30, legendY, look.legend, " class=\"legend\"");
        x += 270;
    }
    if (marks) {
        svg += "<rect x=\"" + Number(kPlotLeft) + "\" y=\"" + Number(legendY + 8) +
               "\" width=\"24\" height=\"10\" fill=\"" + kMarkColour + "\" fill-opacity=\"0.18\" stroke=\"" +
               kMarkColour + "\"/>\n";
        svg += Text(kPlotLeft + 30, legendY + 18, "fault found here", " class=\"legend\"");
    }
    return svg;
}

// At most kNamedDrives drives fit the width beside the clock, even with
// six-decimal times; past that the first ones are named and the rest counted.
constexpr std::size_t kNamedDrives = 3;

std::string Subtitle(const std::vector<std::string>& drives, const std::string& clock) {
    if (drives.empty()) return "lines not driven from outside; " + clock;
    const std::size_t named = drives.size() <= kNamedDrives ? drives.size() : kNamedDrives - 1;
    std::string text;
    for (std::size_t i = 0; i < named; ++i) text += (i == 0 ? "" : ", ") + drives[i];
    if (named < drives.size()) {
        text += " and " + std::to_string(drives.size() - named) + " more drives (all listed in this file)";
    }
    return text + "; " + clock;
}

// The title's room for the faults beside its own words, in characters.
constexpr std::size_t kFaultTitleCharacters = 56;

std::string Title(const std::vector<std::string>& faults) {
    const std::string title = "GPIO33 and GPIO80 over the exercise on a simulated PXA27x";
    if (faults.empty()) return title;
    std::string named;
    std::size_t count = 0;
    for (; count < faults.size(); ++count) {
        const std::string more = (count == 0 ? "" : ", ") + faults[count];
        // The last one fits in place of the count it would need.
        const std::size_t room = count + 1 == faults.size() ? kFaultTitleCharacters : kFaultTitleCharacters - 24;
        if (count > 0 && named.size() + more.size() > room) break;
        named += more;
    }
    if (count < faults.size()) named += " and " + std::to_string(faults.size() - count) + " more (listed in this file)";
    return title + " with " + named;
}

// The whole schedule and every fault, one a line, for whoever opens the file.
std::string ListComment(const std::vector<std::string>& drives, const std::vector<std::string>& faults) {
    std::string comment;
    if (!faults.empty()) {
        comment += "<!-- Board faults:\n";
        for (const auto& fault : faults) comment += "  " + Escape(fault) + "\n";
        comment += "-->\n";
    }
    if (!drives.empty()) {
        comment += "<!-- Driven from outside:\n";
        for (const auto& drive : drives) comment += "  " + Escape(drive) + "\n";
        comment += "-->\n";
    }
    return comment;
}

}  // namespace

std::string RenderTimingDiagram(const TimingDiagram& diagram) {
    const std::size_t rows = diagram.rows.size();
    // Room under the legend for the marks' entry.
    const double height = Height(rows) + (diagram.marks.empty() ? 0 : 22);
    const TimeScale scale(diagram.endUs);
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) + "\" height=\"" +
           Number(height) + "\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(height) + "\">\n";
    svg += "<style>text{font-family:DejaVu Sans,Verdana,sans-serif;fill:#222}"
           ".title{font-size:16px;font-weight:bold}.subtitle{font-size:12px;fill:#555}"
           ".phase{font-size:12px;fill:#345}.line{font-size:14px;font-weight:bold}"
           ".level{font-size:11px;fill:#777;text-anchor:end}.tick{font-size:11px;text-anchor:middle}"
           ".legend{font-size:12px}path{fill:none;stroke-width:1.6}";
    if (!diagram.captions.empty() || !diagram.gaps.empty()) svg += ".caption{font-size:11px;fill:#555}";
    if (!diagram.marks.empty()) svg += ".mark{font-size:11px;fill:#b71c1c}";
    svg += "</style>\n";
    svg += diagram.comment;
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += Text(kPlotLeft, 24, diagram.title, " class=\"title\"");
    svg += Text(kPlotLeft, 42, diagram.subtitle, " class=\"subtitle\"");
    svg += PhaseBands(diagram.phases, diagram.endUs, rows, scale);
    for (std::size_t t = 0; t < rows; ++t) {
        const std::string caption = t < diagram.captions.size() ? diagram.captions[t] : "";
        svg += Waveform(diagram.rows[t], caption, kRowTop + kRowPitch * static_cast<double>(t), scale,
                        diagram.endUs);
    }
    svg += Gaps(diagram.gaps, scale);
    svg += Marks(diagram.marks, scale, rows);
    svg += TimeAxis(scale, diagram.endUs, rows);
    svg += Legend(rows, !diagram.marks.empty());
    svg += "</svg>\n";
    return svg;
}

std::string RenderTimingDiagram(const LineRecording& recording, const std::vector<std::string>& drives,
                                const std::string& clock, const std::vector<std::string>& faults) {
    TimingDiagram diagram;
    diagram.title = Title(faults);
    diagram.subtitle = Subtitle(drives, clock);
    diagram.comment = ListComment(drives, faults);
    diagram.rows = recording.Tracks();
    diagram.phases = FindPhases(recording);
    diagram.endUs = recording.EndUs();
    return RenderTimingDiagram(diagram);
}

}  // namespace gpio_bench
