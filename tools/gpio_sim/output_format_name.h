#ifndef TOOLS_GPIO_SIM_OUTPUT_FORMAT_NAME_H
#define TOOLS_GPIO_SIM_OUTPUT_FORMAT_NAME_H

// An output's file name against what is written to it: `--svg out.png`
// would put SVG text in a file every program opens as a PNG. A name whose
// ending says another known format is refused; a name with no ending, or
// one that names no format (a device, /dev/stdout, run.1), is taken.

#include <string>

namespace gpio_sim {

// What an output holds, for the names it may have.
enum class OutputFormat { Text, Vcd, Svg, SigrokSession };

// False, with why, when the name's ending says a format other than `format`.
bool CheckOutputName(const std::string& option, const std::string& path, OutputFormat format, std::string& error);

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_OUTPUT_FORMAT_NAME_H
