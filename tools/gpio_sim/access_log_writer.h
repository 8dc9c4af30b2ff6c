#ifndef TOOLS_GPIO_SIM_ACCESS_LOG_WRITER_H
#define TOOLS_GPIO_SIM_ACCESS_LOG_WRITER_H

// The register access log as text: "W 0x00000020 0x00010000 0.500000", one
// access a line. The first three fields are the board's own form of an
// access, so other bus logs compare with it once the time is cut off.

#include <string>
#include <vector>

#include "pxa_gpio_model.h"

namespace gpio_sim {

std::string RenderAccessLog(const std::vector<host::PxaGpioModel::Access>& accesses);

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_ACCESS_LOG_WRITER_H
