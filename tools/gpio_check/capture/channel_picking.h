#ifndef TOOLS_GPIO_CHECK_CHANNEL_PICKING_H
#define TOOLS_GPIO_CHECK_CHANNEL_PICKING_H

// Finding GPIO33 and GPIO80 among a capture file's logic channels, by name
// or by index, with a message that lists what the file has when it fails.

#include <string>
#include <vector>

#include "capture.h"

namespace gpio_check {

struct FileChannel {
    int index;         // among the file's logic channels, from 0
    std::string name;  // a channel may have several names (VCD aliases)
};

// The index of each line's channel in `index33` and `index80`. A name that
// several channels carry is refused: only an index tells them apart.
bool PickChannels(const std::vector<FileChannel>& fileChannels, const ChannelMap& channels, int& index33,
                  int& index80, std::string& error);

// The first name of the channel at `index`, made printable.
std::string ChannelName(const std::vector<FileChannel>& fileChannels, int index);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CHANNEL_PICKING_H
