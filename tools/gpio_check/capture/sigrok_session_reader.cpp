// A sigrok session (.sr), PulseView's own format, through libsigrok's C++
// bindings, once its metadata has been checked. The session is streamed:
// each logic packet is scanned for the samples where GPIO33 or GPIO80
// change and nothing else is kept, so a 66 s capture at 24 MHz (1.6 billion
// samples) needs only the changes.

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <libsigrokcxx/libsigrokcxx.hpp>
#include <memory>
#include <utility>

#include "capture_reader.h"
#include "channel_picking.h"
#include "shown_text.h"
#include "sigrok_metadata.h"

namespace gpio_check {
namespace {

__extension__ typedef unsigned __int128 Wide;  // samples times 10^12 may pass 64 bits

// A line's changes in sample numbers, the first kMaxKeptChanges kept.
struct SampledLine {
    std::vector<LevelChange> changes;
    std::uint64_t changeCount = 0;
    Level last = Level::Unknown;

    void Note(Level level, std::uint64_t sample) {
        if (!changes.empty() && last == level) return;
        if (!changes.empty()) ++changeCount;
        last = level;
        if (changes.size() <= kMaxKeptChanges) changes.push_back({sample, level});
    }
};

// Follows the levels of the two lines through the logic packets, in sample
// numbers until the sample rate is known. A sample split between two
// packets (chunk files need not end on a sample) is carried over.
class LevelScanner {
public:
    LevelScanner(unsigned bit33, unsigned bit80) : bit33_(bit33), bit80_(bit80) {}

    void Scan(const std::uint8_t* data, std::size_t length, unsigned unitSize) {
        if (bad_ || length == 0) return;
        if (unitSize != unitSize_) {
            if (unitSize_ != 0 || unitSize == 0 || unitSize > kMaxSessionUnitSize ||
                std::max(bit33_, bit80_) / 8 >= unitSize) {
                bad_ = true;
                return;
            }
            unitSize_ = unitSize;
        }
        if (carried_ > 0) {
            const std::size_t take = std::min(length, unitSize - carried_);
            std::memcpy(partial_ + carried_, data, take);
            carried_ += take;
            data += take;
            length -= take;
            if (carried_ < unitSize) return;
            ScanWhole(partial_, unitSize, unitSize);
            carried_ = 0;
        }
        const std::size_t whole = length / unitSize * unitSize;
        ScanWhole(data, whole, unitSize);
        carried_ = length - whole;
        std::memcpy(partial_, data + whole, carried_);
    }

    bool Bad() const { return bad_; }
    std::uint64_t Samples() const { return samples_; }

    // The changes in picoseconds at `rateHz`; false if the capture lasts
    // longer than picoseconds in 64 bits can say.
    bool Finish(std::uint64_t rateHz, Capture& capture) const {
        const Wide endPs = static_cast<Wide>(samples_) * 1000000000000u / rateHz;
        if (endPs >> 64) return false;
        const auto ps = [rateHz](std::uint64_t sample) {
            return static_cast<std::uint64_t>(static_cast<Wide>(sample) * 1000000000000u / rateHz);
        };
        const std::pair<const SampledLine*, CapturedLine*> lines[] = {{&line33_, &capture.gpio33},
                                                                      {&line80_, &capture.gpio80}};
        for (const auto& [from, to] : lines) {
            for (const LevelChange& change : from->changes) to->changes.push_back({ps(change.timePs), change.level});
            to->changeCount = from->changeCount;
        }
        // The end of the last sample's period, as sigrok's own VCD export has it.
        capture.endPs = static_cast<std::uint64_t>(endPs);
        capture.sampleRateHz = rateHz;
        return true;
    }

private:
    void ScanWhole(const std::uint8_t* data, std::size_t length, unsigned unitSize) {
        const std::size_t count = length / unitSize;
        // Whole 8-byte words equal to the same bytes one sample earlier hold
        // only repeats of the sample before them: skip them unread.
        const std::size_t skip = unitSize <= 8 ? 8 / unitSize : 0;
        std::size_t s = 0;
        while (s < count) {
            if (skip > 0 && s > 0 && s * unitSize + 8 <= length) {
                std::uint64_t word, before;
                std::memcpy(&word, data + s * unitSize, 8);
                std::memcpy(&before, data + (s - 1) * unitSize, 8);
                if (word == before) {
                    s += skip;
                    continue;
                }
            }
            const std::uint8_t* sample = data + s * unitSize;
            line33_.Note(Bit(sample, bit33_), samples_ + s);
            line80_.Note(Bit(sample, bit80_), samples_ + s);
            ++s;
        }
        samples_ += count;
    }
    static Level Bit(const std::uint8_t* sample, unsigned bit) {
        return (sample[bit / 8] >> (bit % 8)) & 1u ? Level::High : Level::Low;
    }

    unsigned bit33_, bit80_;
    unsigned unitSize_ = 0;
    bool bad_ = false;
    std::uint64_t samples_ = 0;
    std::uint8_t partial_[kMaxSessionUnitSize] = {};
    std::size_t carried_ = 0;
    SampledLine line33_, line80_;  // times in samples for now
};

std::uint64_t Uint64Of(const Glib::VariantBase& value) {
    GVariant* variant = const_cast<GVariant*>(value.gobj());  // GLib's getters take no const
    return variant != nullptr && g_variant_is_of_type(variant, G_VARIANT_TYPE_UINT64)
               ? g_variant_get_uint64(variant)
               : 0;
}

}  // namespace

bool ReadSigrokSession(const std::string& path, const ChannelMap& channels, Capture& capture,
                       std::string& error) {
    return ReadSigrokSession(path, path, channels, capture, error);
}

bool ReadSigrokSession(const std::string& path, const std::string& name, const ChannelMap& channels,
                       Capture& capture, std::string& error) {
    capture = Capture{};
    // The bindings' exceptions carry only a code; the library logs the reason.
    std::string logged;
    const auto fail = [&](const std::string& message) {
        error = name + ": " + message + (logged.empty() ? "" : " (" + logged + ")");
        capture = Capture{};
        return false;
    };
    SessionLayout layout;
    std::string problem;
    if (!ReadSessionLayout(path, layout, problem)) return fail(problem);
    try {
        const auto context = sigrok::Context::create();
        context->set_log_level(sigrok::LogLevel::WARN);
        context->set_log_callback([&logged](const sigrok::LogLevel*, std::string message) {
            logged = gpio_bench::ShownText(message, 200);
        });
        std::shared_ptr<sigrok::Session> session;
        try {
            session = context->load_session(path);
        } catch (const sigrok::Error&) {
            return fail("not a readable sigrok session (a damaged or cut-short archive?)");
        }
        // Loading opens the session's device; closing it is the caller's
        // part, and frees what the library holds for it.
        struct DeviceCloser {
            std::vector<std::shared_ptr<sigrok::Device>> devices;
            ~DeviceCloser() {
                for (const auto& device : devices) {
                    try {
                        device->close();
                    } catch (const sigrok::Error&) {
                    }
                }
            }
        } closer{session->devices()};
        const auto& devices = closer.devices;
        if (devices.empty()) return fail("not a sigrok session: no device in it");
        const auto device = devices.front();

        std::vector<FileChannel> fileChannels;
        for (const auto& channel : device->channels()) {
            if (channel->type() != sigrok::ChannelType::LOGIC) continue;
            fileChannels.push_back({static_cast<int>(channel->index()), channel->name()});
        }
        int bit33 = -1, bit80 = -1;
        if (!PickChannels(fileChannels, channels, bit33, bit80, problem)) return fail(problem);
        const unsigned width = layout.unitSize * 8;
        if (width != 0 && static_cast<unsigned>(std::max(bit33, bit80)) >= width) {
            return fail("channel " + std::to_string(std::max(bit33, bit80)) + " lies beyond the session's " +
                        std::to_string(layout.unitSize) + "-byte samples");
        }
        capture.gpio33.channel = ChannelName(fileChannels, bit33);
        capture.gpio80.channel = ChannelName(fileChannels, bit80);

        std::uint64_t rateHz = 0;
        try {
            rateHz = Uint64Of(device->config_get(sigrok::ConfigKey::SAMPLERATE));
        } catch (const sigrok::Error&) {
            // Not in the device's configuration: a META packet brings it.
        }
        LevelScanner scanner(static_cast<unsigned>(bit33), static_cast<unsigned>(bit80));
        bool overran = false;
        session->add_datafeed_callback([&](std::shared_ptr<sigrok::Device>,
                                           std::shared_ptr<sigrok::Packet> packet) {
            if (packet->type() == sigrok::PacketType::LOGIC) {
                if (overran) return;
                const auto logic = std::static_pointer_cast<sigrok::Logic>(packet->payload());
                scanner.Scan(static_cast<const std::uint8_t*>(logic->data_pointer()),
                             logic->data_length(), logic->unit_size());
                // A member may inflate to more than it declares: stopped
                // where the samples pass what the archive's check allowed.
                if (scanner.Samples() > layout.mostSamples) {
                    overran = true;
                    session->stop();
                }
            } else if (packet->type() == sigrok::PacketType::META) {
                const auto meta = std::static_pointer_cast<sigrok::Meta>(packet->payload());
                for (const auto& [key, value] : meta->config()) {
                    if (key == sigrok::ConfigKey::SAMPLERATE && Uint64Of(value) > 0) rateHz = Uint64Of(value);
                }
            }
        });
        session->start();
        session->run();

        if (overran) {
            return fail("holds more than the " + std::to_string(layout.mostSamples) +
                        " samples its archive declares room for at " + std::to_string(layout.sampleRateHz) +
                        " Hz: stopped there");
        }
        if (scanner.Bad()) return fail("logic samples of changing width, or narrower than the channels named");
        // libsigrok yields nothing, with no error, from a session it cannot
        // read: no samples means an unreadable file, not a quiet board.
        if (scanner.Samples() == 0) return fail("no samples could be read from the session");
        if (rateHz == 0) return fail("the session gives no sample rate");
        if (!scanner.Finish(rateHz, capture)) {
            return fail(std::to_string(scanner.Samples()) + " samples at " + std::to_string(rateHz) +
                        " Hz last longer than a capture may (213 days)");
        }
        return true;
    } catch (const sigrok::Error& e) {
        return fail(std::string("cannot read the sigrok session: ") + e.what());
    } catch (const std::exception& e) {
        return fail(std::string("cannot read the sigrok session: ") + e.what());
    } catch (const Glib::Error& e) {
        return fail("cannot read the sigrok session: " + std::string(e.what()));
    }
}

}  // namespace gpio_check
