#include "svg_timing_diagram.h"

#include <cstdio>

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
constexpr double kAxisY = kRowTop + 2 * kRowPitch + 4;
constexpr double kLegendY = kAxisY + 46;
constexpr double kHeight = kLegendY + 22;

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

std::string PhaseBands(const LineRecording& recording, const TimeScale& scale) {
    const RunPhases phases = FindPhases(recording);
    if (!phases.found) return "";
    const double writeX = scale.X(phases.writeStartUs);
    const double readX = scale.X(phases.readStartUs);
    const double endX = scale.X(recording.EndUs());
    const double bandHeight = kAxisY - kBandTop;
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

std::string Waveform(const LineTrack& track, double rowTop, const TimeScale& scale,
                     std::uint64_t endUs) {
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
    svg += Text(kPlotLeft - 8, high + 4, "1", " class=\"level\"");
    svg += Text(kPlotLeft - 8, low + 4, "0", " class=\"level\"");
    for (int style = 0; style < kStyleCount; ++style) {
        if (paths[style].empty()) continue;
        svg += std::string("<path d=\"") + paths[style] + "\" stroke=\"" + kLooks[style].stroke +
               "\"" + kLooks[style].extra + "/>\n";
    }
    return svg;
}

std::string TimeAxis(const TimeScale& scale, std::uint64_t endUs) {
    std::string svg = "<path d=\"M" + Number(kPlotLeft) + " " + Number(kAxisY) + "H" +
                      Number(scale.X(endUs)) + "\" stroke=\"#444\"/>\n";
    const std::uint64_t step = scale.TickStepUs();
    for (std::uint64_t t = 0; t <= endUs; t += step) {
        const double x = scale.X(t);
        svg += "<path d=\"M" + Number(x) + " " + Number(kAxisY) + "v5\" stroke=\"#444\"/>\n";
        svg += Text(x, kAxisY + 19, FormatShortSeconds(t) + " s", " class=\"tick\"");
    }
    return svg;
}

std::string Legend() {
    std::string svg;
    double x = kPlotLeft;
    for (const auto& look : kLooks) {
        svg += "<path d=\"M" + Number(x) + " " + Number(kLegendY - 4) + "h24\" stroke=\"" +
               look.stroke + "\"" + look.extra + "/>\n";
        svg += Text(x + 30, kLegendY, look.legend, " class=\"legend\"");
        x += 270;
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

// The whole schedule, one drive a line, for whoever opens the file.
std::string DriveListComment(const std::vector<std::string>& drives) {
    if (drives.empty()) return "";
    std::string comment = "<!-- Driven from outside:\n";
    for (const auto& drive : drives) comment += "  " + Escape(drive) + "\n";
    return comment + "-->\n";
}

}  // namespace

std::string RenderTimingDiagram(const LineRecording& recording, const std::vector<std::string>& drives,
                                const std::string& clock) {
    const TimeScale scale(recording.EndUs());
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(kWidth) + "\" height=\"" +
           Number(kHeight) + "\" viewBox=\"0 0 " + Number(kWidth) + " " + Number(kHeight) + "\">\n";
    svg += "<style>text{font-family:DejaVu Sans,Verdana,sans-serif;fill:#222}"
           ".title{font-size:16px;font-weight:bold}.subtitle{font-size:12px;fill:#555}"
           ".phase{font-size:12px;fill:#345}.line{font-size:14px;font-weight:bold}"
           ".level{font-size:11px;fill:#777;text-anchor:end}.tick{font-size:11px;text-anchor:middle}"
           ".legend{font-size:12px}path{fill:none;stroke-width:1.6}</style>\n";
    svg += DriveListComment(drives);
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += Text(kPlotLeft, 24, "GPIO33 and GPIO80 over the exercise on a simulated PXA27x",
                " class=\"title\"");
    svg += Text(kPlotLeft, 42, Subtitle(drives, clock), " class=\"subtitle\"");
    svg += PhaseBands(recording, scale);
    const auto& tracks = recording.Tracks();
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        svg += Waveform(tracks[t], kRowTop + kRowPitch * static_cast<double>(t), scale, recording.EndUs());
    }
    svg += TimeAxis(scale, recording.EndUs());
    svg += Legend();
    svg += "</svg>\n";
    return svg;
}

}  // namespace gpio_sim
