#include "channel_picking.h"

#include <algorithm>

#include "shown_text.h"

namespace gpio_check {
namespace {

constexpr std::size_t kListedChannels = 16;

std::string Listing(const std::vector<FileChannel>& fileChannels) {
    std::string text;
    std::size_t listed = 0;
    for (const FileChannel& channel : fileChannels) {
        if (listed == kListedChannels) {
            text += " and " + std::to_string(fileChannels.size() - listed) + " more";
            break;
        }
        text += (text.empty() ? "" : ", ") + gpio_bench::ShownText(channel.name, 40);
        ++listed;
    }
    return text;
}

// The channel most likely to carry `line`: one whose name holds its number
// (D33, "gpio80 probe"), else the first; as the option that maps it.
std::string Suggestion(const std::vector<FileChannel>& fileChannels, const char* line) {
    const std::string number = std::string(line).substr(4);
    const FileChannel* best = &fileChannels.front();
    for (const FileChannel& c : fileChannels) {
        if (c.name.find(number) != std::string::npos) {
            best = &c;
            break;
        }
    }
    const bool plain = !best->name.empty() && gpio_bench::ShownText(best->name) == best->name &&
                       best->name.find_first_of(" '\"=@") == std::string::npos && best->name[0] != '-';
    return std::string("--channel ") + line + "@" + std::to_string(best->index) +
           (plain ? std::string(" or --channel ") + line + "=" + best->name : std::string());
}

bool PickOne(const std::vector<FileChannel>& fileChannels, const char* line, const std::string& name, int wanted,
             int& index, std::string& error) {
    if (wanted >= 0) {
        const bool present = std::any_of(fileChannels.begin(), fileChannels.end(),
                                          [&](const FileChannel& c) { return c.index == wanted; });
        if (present) {
            index = wanted;
            return true;
        }
        int count = 0;
        for (const FileChannel& c : fileChannels) count = std::max(count, c.index + 1);
        error = std::string("no channel with index ") + std::to_string(wanted) + " for " + line + " (the file has " +
                std::to_string(count) + " logic channel(s), 0 to " + std::to_string(count - 1) + ": " +
                Listing(fileChannels) + ")";
        return false;
    }
    std::vector<int> found;
    for (const FileChannel& c : fileChannels) {
        if (c.name == name && std::find(found.begin(), found.end(), c.index) == found.end()) found.push_back(c.index);
    }
    if (found.empty()) {
        error = "no channel " + gpio_bench::ShownText(name) + " (the file has " + Listing(fileChannels) +
                "): say which carries " + line + ", e.g. " + Suggestion(fileChannels, line);
        return false;
    }
    if (found.size() > 1) {
        std::string indices;
        for (std::size_t i = 0; i < found.size() && i < kListedChannels; ++i) {
            indices += (i == 0 ? "" : ", ") + std::to_string(found[i]);
        }
        error = std::to_string(found.size()) + " channels are named " + gpio_bench::ShownText(name) + " (indices " + indices +
                "): pick one by its index, e.g. --channel " + line + "@" + std::to_string(found[0]);
        return false;
    }
    index = found[0];
    return true;
}

}  // namespace

bool PickChannels(const std::vector<FileChannel>& fileChannels, const ChannelMap& channels, int& index33,
                  int& index80, std::string& error) {
    if (fileChannels.empty()) {
        error = "the file holds no logic channel";
        return false;
    }
    return PickOne(fileChannels, "GPIO33", channels.gpio33, channels.gpio33Index, index33, error) &&
           PickOne(fileChannels, "GPIO80", channels.gpio80, channels.gpio80Index, index80, error);
}

std::string ChannelName(const std::vector<FileChannel>& fileChannels, int index) {
    for (const FileChannel& c : fileChannels) {
        if (c.index == index) return gpio_bench::ShownText(c.name);
    }
    return std::to_string(index);
}

}  // namespace gpio_check
