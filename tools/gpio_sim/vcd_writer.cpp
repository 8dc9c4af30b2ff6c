#include "vcd_writer.h"

#include <map>

namespace gpio_sim {
namespace {

// Identifier codes: one printable character per variable, level then
// direction for each line in turn.
char LevelCode(std::size_t track) { return static_cast<char>('!' + 2 * track); }
char OutputCode(std::size_t track) { return static_cast<char>('!' + 2 * track + 1); }

}  // namespace

char VcdLevel(const gpio_bench::PinState& state) {
    if (state.contention) return 'x';
    if (!state.output && !state.driven) return 'z';
    return state.level ? '1' : '0';
}

std::string RenderVcd(const gpio_bench::LineRecording& recording, const std::string& comment) {
    const auto& tracks = recording.Tracks();
    std::string vcd;
    vcd += "$version pxa-gpio-sim: GPIO exercise on a simulated PXA27x $end\n";
    if (!comment.empty()) vcd += "$comment " + comment + " $end\n";
    vcd += "$timescale 1 us $end\n";
    vcd += "$scope module pxa27x_gpio $end\n";
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        vcd += std::string("$var wire 1 ") + LevelCode(t) + " " + tracks[t].name + " $end\n";
        vcd += std::string("$var wire 1 ") + OutputCode(t) + " " + tracks[t].name + "_output $end\n";
    }
    vcd += "$upscope $end\n$enddefinitions $end\n";

    // Every change of every line, by time; at one time the lines in order.
    std::map<std::uint64_t, std::string> changesAt;
    std::vector<gpio_bench::PinState> shown(tracks.size());
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        bool first = true;
        for (const auto& change : tracks[t].changes) {
            std::string& text = changesAt[change.timeUs];
            if (first || VcdLevel(change.state) != VcdLevel(shown[t])) {
                text += VcdLevel(change.state);
                text += LevelCode(t);
                text += '\n';
            }
            if (first || change.state.output != shown[t].output) {
                text += change.state.output ? '1' : '0';
                text += OutputCode(t);
                text += '\n';
            }
            shown[t] = change.state;
            first = false;
        }
    }

    vcd += "#0\n$dumpvars\n" + changesAt[0] + "$end\n";
    for (const auto& [timeUs, text] : changesAt) {
        if (timeUs == 0 || text.empty()) continue;
        vcd += "#" + std::to_string(timeUs) + "\n" + text;
    }
    // A closing time stamp, so viewers show the last state to the end of the run.
    std::uint64_t lastUs = changesAt.empty() ? 0 : changesAt.rbegin()->first;
    if (recording.EndUs() > lastUs) vcd += "#" + std::to_string(recording.EndUs()) + "\n";
    return vcd;
}

}  // namespace gpio_sim
