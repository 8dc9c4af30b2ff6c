// Built when libsigrok's C++ bindings were not found: every other output
// is there, and the VCD converts to a session.

#include "sigrok_session_writer.h"

namespace gpio_sim {

bool CanWriteSigrokSessions(std::string& why) {
    why = "this build cannot write sigrok sessions (it was built without libsigrok's C++ bindings, "
          "Debian packages libsigrokcxx-dev and libglibmm-2.4-dev); write a VCD and convert it: "
          "sigrok-cli -i run.vcd -I vcd -o run.sr";
    return false;
}

bool RenderSigrokSession(const gpio_bench::LineRecording&, std::string& content, std::string& error) {
    content.clear();
    return CanWriteSigrokSessions(error);
}

}  // namespace gpio_sim
