#ifndef TOOLS_GPIO_CHECK_SIGROK_METADATA_H
#define TOOLS_GPIO_CHECK_SIGROK_METADATA_H

// A sigrok session's own description, read before libsigrok is given the
// file: the session is a zip archive whose `metadata` member is a GLib key
// file naming each device's channels, sample width and rate. libsigrok
// trusts it (a million channels keep it busy for hours, a channel past the
// sample width reads past its buffer); here it is held to what a capture can
// be. It is read exactly as libsigrok reads it: the same bytes of the member,
// GLib's own key-file parser, the same groups and keys, the same numbers.
// The archive itself is held to what sigrok writes: members that do not
// overlap, and no more samples than its rate and the longest capture allow.

#include <cstddef>
#include <cstdint>
#include <string>

namespace gpio_check {

constexpr unsigned kMaxSessionChannels = 256;  // logic or analog, per device
constexpr unsigned kMaxSessionUnitSize = 32;   // bytes a logic sample
// Samples a session may hold: 10 minutes at 24 MHz, or a run at 200 MHz.
// libsigrok inflates every one of them (about a second a billion).
constexpr std::uint64_t kMaxSessionSamples = std::uint64_t{1} << 34;

struct SessionLayout {
    unsigned logicChannels = 0;
    unsigned analogChannels = 0;
    unsigned unitSize = 0;  // 0 where the file gives none
    bool sampleRate = false;
    std::uint64_t sampleRateHz = 0;  // as libsigrok reads it
    // The most samples the session may yield: kMaxSessionSamples, or fewer
    // where the sample rate would make them last longer than 2^64 ps.
    std::uint64_t mostSamples = 0;
};

// The first device's layout from the metadata text; false with a message if
// any device's description is beyond the bounds or inconsistent.
bool ParseSessionMetadata(const std::string& text, SessionLayout& layout, std::string& error);

// The same from the archive, a file or bytes in memory, with the sizes of
// its members checked.
bool ReadSessionLayout(const std::string& path, SessionLayout& layout, std::string& error);
bool ReadSessionLayout(const void* data, std::size_t size, SessionLayout& layout, std::string& error);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_SIGROK_METADATA_H
