#ifndef TOOLS_GPIO_CHECK_SAME_FILE_H
#define TOOLS_GPIO_CHECK_SAME_FILE_H

// Whether two paths name one file, judged by what they name (device and
// inode, links followed), not by how they are spelled: `in.vcd`, `./in.vcd`,
// `../x/in.vcd` and `/home/me/x/in.vcd` are one file.

#include <string>

namespace gpio_check {

// False when either does not exist.
bool NameSameFile(const std::string& a, const std::string& b);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_SAME_FILE_H
