#include "sigrok_session_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <libsigrokcxx/libsigrokcxx.hpp>
#include <sstream>
#include <vector>

#include "scratch_directory.h"
#include "vcd_writer.h"

namespace gpio_sim {
namespace {

// Samples handed to libsigrok at a time: each becomes one chunk of the
// archive, and libzip rewrites the archive for each, so few and large.
constexpr std::size_t kChunkSamples = 16u << 20;

// One byte a sample: bit 2t the level of line t, bit 2t+1 whether the
// processor drives it, in the VCD's order of variables.
std::uint8_t SampleByte(const std::vector<gpio_bench::PinState>& states) {
    std::uint8_t byte = 0;
    for (std::size_t t = 0; t < states.size(); ++t) {
        if (VcdLevel(states[t]) == '1') byte |= static_cast<std::uint8_t>(1u << (2 * t));
        if (states[t].output) byte |= static_cast<std::uint8_t>(1u << (2 * t + 1));
    }
    return byte;
}

}  // namespace

bool CanWriteSigrokSessions(std::string&) { return true; }

bool RenderSigrokSession(const gpio_bench::LineRecording& recording, std::string& content, std::string& error) {
    content.clear();
    // libsigrok writes the archive only by its name: in a private directory,
    // removed with it and whatever libzip leaves beside it.
    gpio_bench::ScratchDirectory scratch;
    if (!scratch.Make("pxa-gpio-sim-XXXXXX", "run.sr")) {
        error = "cannot make a temporary directory for the session: " + std::string(std::strerror(errno));
        return false;
    }
    const auto& tracks = recording.Tracks();
    try {
        const auto context = sigrok::Context::create();
        context->set_log_level(sigrok::LogLevel::WARN);
        const auto device = context->create_user_device("pxa-gpio-sim", "simulated PXA27x GPIO", "1");
        unsigned index = 0;
        for (const auto& track : tracks) {
            device->add_channel(index++, sigrok::ChannelType::LOGIC, track.name);
            device->add_channel(index++, sigrok::ChannelType::LOGIC, std::string(track.name) + "_output");
        }
        const auto output = context->output_formats()["srzip"]->create_output(scratch.Path(), device);
        output->receive(context->create_header_packet(Glib::TimeVal(0, 0)));
        output->receive(context->create_meta_packet(
            {{sigrok::ConfigKey::SAMPLERATE, Glib::Variant<guint64>::create(kSessionSampleRateHz)}}));

        // The samples, run by run between the changes of any line.
        std::vector<std::size_t> next(tracks.size(), 0);
        std::vector<gpio_bench::PinState> states(tracks.size());
        std::vector<std::uint8_t> chunk;
        chunk.reserve(kChunkSamples);
        const std::uint64_t end = recording.EndUs();
        std::uint64_t now = 0;
        while (now < end) {
            std::uint64_t runEnd = end;
            for (std::size_t t = 0; t < tracks.size(); ++t) {
                const auto& changes = tracks[t].changes;
                while (next[t] < changes.size() && changes[next[t]].timeUs <= now) states[t] = changes[next[t]++].state;
                if (next[t] < changes.size()) runEnd = std::min(runEnd, changes[next[t]].timeUs);
            }
            const std::uint8_t byte = SampleByte(states);
            while (now < runEnd) {
                const std::size_t room = kChunkSamples - chunk.size();
                const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(room, runEnd - now));
                chunk.insert(chunk.end(), count, byte);
                now += count;
                if (chunk.size() == kChunkSamples) {
                    output->receive(context->create_logic_packet(chunk.data(), chunk.size(), 1));
                    chunk.clear();
                }
            }
        }
        if (!chunk.empty()) output->receive(context->create_logic_packet(chunk.data(), chunk.size(), 1));
        output->receive(context->create_end_packet());
    } catch (const sigrok::Error& e) {
        error = std::string("libsigrok could not write the session: ") + e.what();
        return false;
    }
    std::ifstream file(scratch.Path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file || bytes.str().empty()) {
        error = "libsigrok wrote no session";
        return false;
    }
    content = bytes.str();
    return true;
}

}  // namespace gpio_sim
