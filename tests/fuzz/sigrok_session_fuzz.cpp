// A sigrok session from outside. An archive (starting "PK") has its
// metadata checked from memory and, if that passes, is read through
// libsigrok from a private temporary file. Anything else is a session's
// parts: metadata text, then after a NUL byte the logic samples, which are
// put into an archive in two chunk files (split anywhere, so samples may
// straddle them) for the same path; mutations then reach the metadata
// checks, libsigrok and the sample scanner, not only the zip layer.

#include <unistd.h>
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture_reader.h"
#include "sigrok_metadata.h"

namespace {

// A private directory for one input's session, gone with it.
class SessionFile {
public:
    SessionFile() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/session-fuzz.XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) {
            dir_ = pattern;
            path_ = dir_ + "/session.sr";
        }
    }
    ~SessionFile() {
        if (dir_.empty()) return;
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string& Path() const { return path_; }

private:
    std::string dir_, path_;
};

bool WriteArchive(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

bool WriteParts(const std::string& path, const std::string& metadata, const std::string& samples) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) return false;
    const std::size_t split = samples.empty() ? 0 : static_cast<unsigned char>(samples[0]) % samples.size();
    const std::string first = samples.substr(0, split), second = samples.substr(split);
    const std::pair<const char*, const std::string*> members[] = {
        {"version", nullptr}, {"metadata", &metadata}, {"logic-1-1", &first}, {"logic-1-2", &second}};
    for (const auto& [name, content] : members) {
        zip_source_t* source = content == nullptr ? zip_source_buffer(archive, "2", 1, 0)
                                                  : zip_source_buffer(archive, content->data(), content->size(), 0);
        if (source == nullptr || zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) < 0) {
            if (source != nullptr) zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    if (zip_close(archive) == 0) return true;
    zip_discard(archive);  // left open by a failed close
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gpio_check;
    SessionLayout layout;
    std::string error;
    const SessionFile session;
    if (session.Path().empty()) return 0;
    if (size >= 2 && data[0] == 'P' && data[1] == 'K') {
        if (!ReadSessionLayout(data, size, layout, error) || !WriteArchive(session.Path(), data, size)) return 0;
    } else {
        const std::string text(reinterpret_cast<const char*>(data), size);
        const std::size_t nul = text.find('\0');
        const std::string metadata = text.substr(0, nul);
        if (!ParseSessionMetadata(metadata, layout, error) || nul == std::string::npos) return 0;
        if (!WriteParts(session.Path(), metadata, text.substr(nul + 1))) return 0;
    }
    Capture capture;
    ReadSigrokSession(session.Path(), {"", "", 0, 1}, capture, error);
    ReadSigrokSession(session.Path(), {}, capture, error);
    return 0;
}
