#include "svg_timing_diagram.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "drive_schedule.h"

namespace gpio_sim {
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
    // A round tick step giving at most 14 ticks.
    std::uint64_t TickStepUs() const {
        for (std::uint64_t step : {1000ull, 2000ull, 5000ull, 10000ull, 20000ull, 50000ull, 100000ull,
                                   200000ull, 500000ull, 1000000ull, 2000000ull, 5000000ull,
                                   10000000ull, 20000000ull, 50000000ull}) {
            if (endUs_ / step <= 14) return step;
        }
        return 100000000ull;
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

std::string Waveform(const LineTrack& track, const std::string& caption, double rowTop,
                     const TimeScale& scale, std::uint64_t endUs) {
    const double high = rowTop + kHighOffset;
    const double low = rowTop + kLowOffset;
    const double middle = (high + low) / 2;
    std::string paths[kStyleCount];
    double previousY = 0;
    for (std::size_t i = 0; i < track.changes.size(); ++i) {
        const auto& change = track.changes[i];
        const std::uint64_t untilUs = i + 1 < track.changes.size() ? track.changes[i + 1].timeUs : endUs;
        if (untilUs < change.timeUs) continue;
        const Style style = StyleOf(change.state);
        const double y = style == kUndriven ? middle : (change.state.level ? high : low);
        const double x = scale.X(change.timeUs);
        std::string& d = paths[style];
        if (i > 0 && y != previousY) d += "M" + Number(x) + " " + Number(previousY) + "V" + Number(y);
        d += "M" + Number(x) + " " + Number(y) + "H" + Number(scale.X(untilUs));
        previousY = y;
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

std::string Marks(const std::vector<DiagramMark>& marks, const TimeScale& scale) {
    std::string svg;
    std::vector<std::pair<std::size_t, std::string>> labelled;  // each label once a row
    for (const DiagramMark& mark : marks) {
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
    if (!diagram.captions.empty()) svg += ".caption{font-size:11px;fill:#555}";
    if (!diagram.marks.empty()) svg += ".mark{font-size:11px;fill:#b71c1c}";
    svg += "</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += Text(kPlotLeft, 24, diagram.title, " class=\"title\"");
    svg += Text(kPlotLeft, 42, diagram.subtitle, " class=\"subtitle\"");
    svg += PhaseBands(diagram.phases, diagram.endUs, rows, scale);
    for (std::size_t t = 0; t < rows; ++t) {
        const std::string caption = t < diagram.captions.size() ? diagram.captions[t] : "";
        svg += Waveform(diagram.rows[t], caption, kRowTop + kRowPitch * static_cast<double>(t), scale,
                        diagram.endUs);
    }
    svg += Marks(diagram.marks, scale);
    svg += TimeAxis(scale, diagram.endUs, rows);
    svg += Legend(rows, !diagram.marks.empty());
    svg += "</svg>\n";
    return svg;
}

std::string RenderTimingDiagram(const LineRecording& recording, const std::string& subtitle) {
    TimingDiagram diagram;
    diagram.title = "GPIO33 and GPIO80 over the exercise on a simulated PXA27x";
    diagram.subtitle = subtitle;
    diagram.rows = recording.Tracks();
    diagram.phases = FindPhases(recording);
    diagram.endUs = recording.EndUs();
    return RenderTimingDiagram(diagram);
}

}  // namespace gpio_sim
