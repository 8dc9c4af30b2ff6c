#include "sigrok_metadata.h"

#include <zip.h>

#include <cstdint>
#include <map>

#include "shown_text.h"

namespace gpio_check {
namespace {

constexpr std::uint64_t kMaxMetadataBytes = 1 << 20;
constexpr unsigned kMaxDevices = 16;

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Digits only, at most `limit`; `tooLarge` when more.
bool ParseCount(const std::string& text, unsigned limit, unsigned& value, bool& tooLarge) {
    value = 0;
    tooLarge = false;
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (!tooLarge) value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > limit) tooLarge = true;
    }
    return true;
}

struct Device {
    std::map<std::string, std::string> keys;
};

bool CheckDevice(const std::string& section, const Device& device, SessionLayout& layout, std::string& error) {
    const auto count = [&](const char* key, unsigned limit, unsigned& value) {
        const auto found = device.keys.find(key);
        if (found == device.keys.end()) return true;
        bool tooLarge = false;
        if (!ParseCount(found->second, limit, value, tooLarge)) {
            error = "[" + section + "] " + key + "=" + ShownText(found->second, 40) + " is no count";
            return false;
        }
        if (tooLarge) {
            error = "[" + section + "] claims " + key + "=" + ShownText(found->second, 40) + ": more than the " +
                    std::to_string(limit) + " a capture may have";
            return false;
        }
        return true;
    };
    if (!count("total probes", kMaxSessionChannels, layout.logicChannels) ||
        !count("total analog", kMaxSessionChannels, layout.analogChannels) ||
        !count("unitsize", kMaxSessionUnitSize, layout.unitSize)) {
        return false;
    }
    if (device.keys.count("unitsize") != 0 && layout.unitSize == 0) {
        error = "[" + section + "] unitsize=0: logic samples of no width";
        return false;
    }
    if (layout.unitSize != 0 && layout.logicChannels > layout.unitSize * 8) {
        error = "[" + section + "] " + std::to_string(layout.logicChannels) + " logic channels do not fit in " +
                std::to_string(layout.unitSize) + "-byte samples";
        return false;
    }
    for (const auto& [key, value] : device.keys) {
        if (key.compare(0, 5, "probe") != 0) continue;
        unsigned number = 0;
        bool tooLarge = false;
        if (!ParseCount(key.substr(5), kMaxSessionChannels, number, tooLarge) || number == 0 || tooLarge ||
            number > layout.logicChannels || (layout.unitSize != 0 && number > layout.unitSize * 8)) {
            error = "[" + section + "] " + ShownText(key, 40) + " names a channel beyond the session's " +
                    std::to_string(layout.logicChannels) + " logic channel(s) in " + std::to_string(layout.unitSize) +
                    "-byte samples";
            return false;
        }
    }
    layout.sampleRate = device.keys.count("samplerate") != 0;
    return true;
}

bool CheckArchive(zip_t* archive, SessionLayout& layout, std::string& error) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, "metadata", 0, &stat) != 0) {
        error = "not a sigrok session: no metadata in the archive";
        return false;
    }
    if ((stat.valid & ZIP_STAT_SIZE) != 0 && stat.size > kMaxMetadataBytes) {
        error = "its metadata is " + std::to_string(stat.size) + " bytes: no session describes itself at such length";
        return false;
    }
    zip_file_t* file = zip_fopen(archive, "metadata", 0);
    if (file == nullptr) {
        error = "cannot read the session's metadata (" + std::string(zip_strerror(archive)) + ")";
        return false;
    }
    std::string text(kMaxMetadataBytes + 1, '\0');
    std::size_t got = 0;
    zip_int64_t n;
    while (got < text.size() && (n = zip_fread(file, &text[got], text.size() - got)) > 0) got += static_cast<std::size_t>(n);
    const bool failed = got < text.size() && n < 0;
    zip_fclose(file);
    if (failed) {
        error = "cannot read the session's metadata (a damaged archive?)";
        return false;
    }
    if (got > kMaxMetadataBytes) {
        error = "its metadata is more than " + std::to_string(kMaxMetadataBytes) + " bytes";
        return false;
    }
    text.resize(got);
    return ParseSessionMetadata(text, layout, error);
}

}  // namespace

bool ParseSessionMetadata(const std::string& text, SessionLayout& layout, std::string& error) {
    std::map<std::string, Device> devices;
    Device* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line[0] == '[') {
            const std::string section = line.substr(1, line.find(']') - 1);
            current = nullptr;
            if (section.compare(0, 7, "device ") != 0) continue;
            if (devices.size() == kMaxDevices && devices.count(section) == 0) {
                error = "the session claims more than " + std::to_string(kMaxDevices) + " devices";
                return false;
            }
            current = &devices[section];
            continue;
        }
        const std::size_t equals = line.find('=');
        if (current == nullptr || equals == std::string::npos) continue;
        current->keys[Trimmed(line.substr(0, equals))] = Trimmed(line.substr(equals + 1));
    }
    if (devices.empty()) {
        error = "not a sigrok session: its metadata describes no device";
        return false;
    }
    // libsigrok reads the devices in order; the checker the first.
    SessionLayout first;
    bool any = false;
    for (const auto& [section, device] : devices) {
        SessionLayout each;
        if (!CheckDevice(section, device, each, error)) return false;
        if (section == "device 1" || !any) first = each;
        any = true;
    }
    if (first.logicChannels == 0) {
        error = first.analogChannels > 0 ? "the session holds only analog channels, no logic channel"
                                         : "the session holds no logic channel";
        return false;
    }
    if (!first.sampleRate) {
        error = "the session gives no sample rate";
        return false;
    }
    layout = first;
    return true;
}

bool ReadSessionLayout(const std::string& path, SessionLayout& layout, std::string& error) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        error = "not a readable sigrok session (a damaged or cut-short archive?)";
        return false;
    }
    const bool ok = CheckArchive(archive, layout, error);
    zip_discard(archive);
    return ok;
}

bool ReadSessionLayout(const void* data, std::size_t size, SessionLayout& layout, std::string& error) {
    zip_error_t problem;
    zip_error_init(&problem);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &problem);
    zip_t* archive = source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY, &problem);
    zip_error_fini(&problem);
    if (archive == nullptr) {
        if (source != nullptr) zip_source_free(source);
        error = "not a readable sigrok session (a damaged or cut-short archive?)";
        return false;
    }
    const bool ok = CheckArchive(archive, layout, error);
    zip_discard(archive);
    return ok;
}

}  // namespace gpio_check
