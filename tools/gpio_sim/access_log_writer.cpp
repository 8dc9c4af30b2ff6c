#include "access_log_writer.h"

#include "drive_schedule.h"

namespace gpio_sim {

std::string RenderAccessLog(const std::vector<host::PxaGpioModel::Access>& accesses) {
    std::string text;
    text.reserve(accesses.size() * 33);
    for (const auto& access : accesses) {
        text += host::FormatAccess(access);
        text += ' ';
        text += gpio_bench::FormatSeconds(access.timeUs);
        text += '\n';
    }
    return text;
}

}  // namespace gpio_sim
