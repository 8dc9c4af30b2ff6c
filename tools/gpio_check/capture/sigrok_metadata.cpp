#include "sigrok_metadata.h"

#include <glib.h>
#include <libsigrok/libsigrok.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "shown_text.h"

namespace gpio_check {
namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr std::uint64_t kMaxMetadataBytes = 1 << 20;
constexpr unsigned kMaxDevices = 16;

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct StringsFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
struct StringFree {
    void operator()(gchar* text) const { g_free(text); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;
using Strings = std::unique_ptr<gchar*, StringsFree>;
using Text = std::unique_ptr<gchar, StringFree>;

// The value as the file has it, for messages.
std::string RawValue(GKeyFile* file, const char* group, const char* key) {
    const Text value(g_key_file_get_value(file, group, key, nullptr));
    return gpio_bench::ShownText(value ? value.get() : "", 40);
}

// A count libsigrok reads with g_key_file_get_integer, held to `limit`
// (`what` says of what). Absent leaves `value` as it is.
bool ReadCount(GKeyFile* file, const char* group, const char* key, unsigned limit, const char* what,
               unsigned& value, std::string& error) {
    if (!g_key_file_has_key(file, group, key, nullptr)) return true;
    GError* problem = nullptr;
    const gint count = g_key_file_get_integer(file, group, key, &problem);
    const std::string where = "[" + gpio_bench::ShownText(group, 40) + "] ";
    if (problem != nullptr) {
        g_error_free(problem);
        error = where + key + "=" + RawValue(file, group, key) + " is no count";
        return false;
    }
    if (count < 0 || static_cast<unsigned>(count) > limit) {
        error = where + "claims " + key + "=" + RawValue(file, group, key) + ": more than the " +
                std::to_string(limit) + " " + what;
        return false;
    }
    value = static_cast<unsigned>(count);
    return true;
}

bool CheckDevice(GKeyFile* file, const char* group, SessionLayout& layout, std::string& error) {
    const std::string where = "[" + gpio_bench::ShownText(group, 40) + "] ";
    constexpr const char* kChannels = "a capture may have";
    if (!ReadCount(file, group, "total probes", kMaxSessionChannels, kChannels, layout.logicChannels, error) ||
        !ReadCount(file, group, "total analog", kMaxSessionChannels, kChannels, layout.analogChannels, error) ||
        !ReadCount(file, group, "unitsize", kMaxSessionUnitSize, "bytes a sample may have", layout.unitSize,
                   error)) {
        return false;
    }
    const bool hasUnitSize = g_key_file_has_key(file, group, "unitsize", nullptr);
    if (hasUnitSize && layout.unitSize == 0) {
        error = where + "unitsize=0: logic samples of no width";
        return false;
    }
    if (layout.unitSize != 0 && layout.logicChannels > layout.unitSize * 8) {
        error = where + std::to_string(layout.logicChannels) + " logic channels do not fit in " +
                std::to_string(layout.unitSize) + "-byte samples";
        return false;
    }
    const Strings keys(g_key_file_get_keys(file, group, nullptr, nullptr));
    for (gchar** key = keys.get(); key != nullptr && *key != nullptr; ++key) {
        if (std::strncmp(*key, "probe", 5) != 0) continue;
        // The channel's number as libsigrok takes it from the key.
        const guint64 number = g_ascii_strtoull(*key + 5, nullptr, 10);
        if (number == 0 || number > layout.logicChannels ||
            (layout.unitSize != 0 && number > layout.unitSize * 8)) {
            error = where + gpio_bench::ShownText(*key, 40) + " names a channel beyond the session's " +
                    std::to_string(layout.logicChannels) + " logic channel(s) in " +
                    std::to_string(layout.unitSize) + "-byte samples";
            return false;
        }
    }
    if (g_key_file_has_key(file, group, "samplerate", nullptr)) {
        const Text rate(g_key_file_get_string(file, group, "samplerate", nullptr));
        std::uint64_t hz = 0;
        if (!rate || sr_parse_sizestring(rate.get(), &hz) != SR_OK || hz == 0) {
            error = where + "samplerate=" + RawValue(file, group, "samplerate") + " is no sample rate";
            return false;
        }
        layout.sampleRate = true;
        layout.sampleRateHz = hz;
    }
    return true;
}

// Reads the member the way libsigrok does: its declared size, in one call.
bool ReadMetadata(zip_t* archive, std::string& text, std::string& error) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, "metadata", 0, &stat) != 0) {
        error = "not a sigrok session: no metadata in the archive";
        return false;
    }
    if ((stat.valid & ZIP_STAT_SIZE) == 0 || stat.size > kMaxMetadataBytes) {
        error = "its metadata is " + std::to_string(stat.size) + " bytes: no session describes itself at such length";
        return false;
    }
    zip_file_t* file = zip_fopen_index(archive, stat.index, 0);
    if (file == nullptr) {
        error = "cannot read the session's metadata (" + std::string(zip_strerror(archive)) + ")";
        return false;
    }
    text.assign(stat.size, '\0');
    const zip_int64_t got = zip_fread(file, &text[0], stat.size);
    zip_fclose(file);
    if (got < 0) {
        error = "cannot read the session's metadata (a damaged archive?)";
        return false;
    }
    text.resize(static_cast<std::size_t>(got));
    return true;
}

// libsigrok inflates every member it is pointed at, whatever its size: the
// sizes the archive declares are held to the samples the rate allows.
bool CheckMemberSizes(zip_t* archive, const SessionLayout& layout, std::string& error) {
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    Wide declared = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat) != 0) continue;
        const char* name = (stat.valid & ZIP_STAT_NAME) != 0 ? stat.name : "";
        if (std::strcmp(name, "metadata") == 0 || std::strcmp(name, "version") == 0) continue;
        if ((stat.valid & ZIP_STAT_SIZE) != 0) declared += stat.size;
    }
    // A logic sample and a 4-byte value for each analog channel.
    const Wide bytesPerSample = std::max(layout.unitSize, 1u) + 4u * layout.analogChannels;
    if (declared > static_cast<Wide>(layout.mostSamples) * bytesPerSample) {
        const std::uint64_t shown = declared >> 64 ? UINT64_MAX : static_cast<std::uint64_t>(declared);
        error = "the archive declares " + std::to_string(shown) + " bytes of samples: more than " +
                std::to_string(layout.sampleRateHz) + " Hz allows (at most " + std::to_string(layout.mostSamples) +
                " samples)";
        return false;
    }
    return true;
}

bool CheckArchive(zip_t* archive, SessionLayout& layout, std::string& error) {
    std::string text;
    if (!ReadMetadata(archive, text, error)) return false;
    return ParseSessionMetadata(text, layout, error) && CheckMemberSizes(archive, layout, error);
}

std::string OpenFailure(int code) {
    // libzip's consistency check finds members that share their bytes.
    if (code == ZIP_ER_INCONS) {
        return "not a sound sigrok session: its members overlap, or disagree with the archive's directory";
    }
    return "not a readable sigrok session (a damaged or cut-short archive?)";
}

}  // namespace

bool ParseSessionMetadata(const std::string& text, SessionLayout& layout, std::string& error) {
    const KeyFile file(g_key_file_new());
    GError* problem = nullptr;
    // As libsigrok loads it.
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, &problem)) {
        error = "its metadata is no key file libsigrok reads (" + gpio_bench::ShownText(problem->message, 80) + ")";
        g_error_free(problem);
        return false;
    }
    const Strings groups(g_key_file_get_groups(file.get(), nullptr));
    // libsigrok makes the devices in the order of their groups, one for each
    // group with a capture file or analog channels; the checker reads the first.
    SessionLayout first;
    bool anyDevice = false;
    unsigned devices = 0;
    for (gchar** group = groups.get(); group != nullptr && *group != nullptr; ++group) {
        if (std::strncmp(*group, "device ", 7) != 0) continue;
        if (++devices > kMaxDevices) {
            error = "the session claims more than " + std::to_string(kMaxDevices) + " devices";
            return false;
        }
        SessionLayout each;
        if (!CheckDevice(file.get(), *group, each, error)) return false;
        const bool makesDevice =
            g_key_file_has_key(file.get(), *group, "capturefile", nullptr) || each.analogChannels > 0;
        if (makesDevice && !anyDevice) first = each;
        anyDevice |= makesDevice;
    }
    if (!anyDevice) {
        error = "not a sigrok session: its metadata describes no device";
        return false;
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
    // No longer than 2^64 ps, the longest capture the checker times.
    const Wide lastingSamples = (static_cast<Wide>(UINT64_MAX) * first.sampleRateHz) / 1000000000000u;
    first.mostSamples = static_cast<std::uint64_t>(std::min<Wide>(lastingSamples, kMaxSessionSamples));
    layout = first;
    return true;
}

bool ReadSessionLayout(const std::string& path, SessionLayout& layout, std::string& error) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (archive == nullptr) {
        error = OpenFailure(code);
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
    zip_t* archive =
        source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &problem);
    const int code = zip_error_code_zip(&problem);
    zip_error_fini(&problem);
    if (archive == nullptr) {
        if (source != nullptr) zip_source_free(source);
        error = OpenFailure(code);
        return false;
    }
    const bool ok = CheckArchive(archive, layout, error);
    zip_discard(archive);
    return ok;
}

}  // namespace gpio_check
