#ifndef TOOLS_GPIO_CHECK_SAME_FILE_H
#define TOOLS_GPIO_CHECK_SAME_FILE_H

// Whether two paths name one file, judged by what they name (device and
// inode, links followed), not by how they are spelled: `in.vcd`, `./in.vcd`,
// `../x/in.vcd` and `/home/me/x/in.vcd` are one file.

#include <string>

namespace gpio_check {

// False when only one exists; two that do not exist yet are one file when
// they give one name in one directory (two outputs still to be made).
bool NameSameFile(const std::string& a, const std::string& b);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_SAME_FILE_H
