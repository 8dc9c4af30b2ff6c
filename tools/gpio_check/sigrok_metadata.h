#ifndef TOOLS_GPIO_CHECK_SIGROK_METADATA_H
#define TOOLS_GPIO_CHECK_SIGROK_METADATA_H

// A sigrok session's own description, read before libsigrok is given the
// file: the session is a zip archive whose `metadata` member is an INI file
// naming each device's channels, sample width and rate. libsigrok trusts it
// (a million channels keep it busy for minutes, a channel past the sample
// width reads past its buffer); here it is held to what a capture can be.

#include <cstddef>
#include <string>

namespace gpio_check {

constexpr unsigned kMaxSessionChannels = 256;  // logic or analog, per device
constexpr unsigned kMaxSessionUnitSize = 32;   // bytes a logic sample

struct SessionLayout {
    unsigned logicChannels = 0;
    unsigned analogChannels = 0;
    unsigned unitSize = 0;  // 0 where the file gives none
    bool sampleRate = false;
};

// The first device's layout from the metadata text; false with a message if
// any device's description is beyond the bounds or inconsistent.
bool ParseSessionMetadata(const std::string& text, SessionLayout& layout, std::string& error);

// The same from the archive, a file or bytes in memory.
bool ReadSessionLayout(const std::string& path, SessionLayout& layout, std::string& error);
bool ReadSessionLayout(const void* data, std::size_t size, SessionLayout& layout, std::string& error);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_SIGROK_METADATA_H
