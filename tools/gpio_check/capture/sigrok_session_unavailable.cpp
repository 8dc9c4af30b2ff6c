// Built when libsigrok's C++ bindings were not found: the checker still reads
// VCD, and says how to read a session.

#include "capture_reader.h"

namespace gpio_check {

bool ReadSigrokSession(const std::string& path, const ChannelMap& channels, Capture& capture,
                       std::string& error) {
    return ReadSigrokSession(path, path, channels, capture, error);
}

bool ReadSigrokSession(const std::string&, const std::string& name, const ChannelMap&, Capture& capture,
                       std::string& error) {
    capture = Capture{};
    error = name + ": this build cannot read sigrok sessions (it was built without libsigrok's "
                   "C++ bindings, Debian packages libsigrokcxx-dev and libglibmm-2.4-dev); "
                   "convert it: sigrok-cli -i " + name + " -O vcd > capture.vcd";
    return false;
}

}  // namespace gpio_check
