#ifndef TOOLS_GPIO_CHECK_CHECK_OPTIONS_H
#define TOOLS_GPIO_CHECK_CHECK_OPTIONS_H

// The checker's command line.

#include <string>
#include <vector>

#include "capture.h"

namespace gpio_check {

struct CheckOptions {
    std::string tracePath;
    std::string capturePath;
    std::string svgPath;
    std::string jsonPath;      // "-": standard output, instead of the text report
    std::string saveTracePath; // where a trace read from a port or pipe is kept; "" for the default
    unsigned baud = 0;         // 0: not given (a port is read at kDefaultBaud)
    double quietSeconds = 0;   // 0: not given (kDefaultQuietSeconds)
    ChannelMap channels;
    bool showHelp = false;
};

struct ParsedCheckArguments {
    bool ok = false;
    CheckOptions options;
    std::string error;  // why not, when not ok
};

// The arguments after the program name. Looks at no file.
ParsedCheckArguments ParseCheckArguments(const std::vector<std::string>& arguments);

std::string CheckUsageText();

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_CHECK_OPTIONS_H
