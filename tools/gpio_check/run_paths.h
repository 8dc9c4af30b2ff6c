#ifndef TOOLS_GPIO_CHECK_RUN_PATHS_H
#define TOOLS_GPIO_CHECK_RUN_PATHS_H

// Every path a check names, looked at before a port is opened: a live run
// cannot be read again, so an input that is missing or unreadable, an
// output that cannot be made or would replace another file of the run, is
// said while nothing has been read yet.

#include <string>

#include "check_options.h"

namespace gpio_check {

// The trace read from a port is kept under this name in the current
// directory unless --save-trace names a file: the local time the reading
// began, and -2, -3, ... should that name be taken.
std::string DefaultSavedTraceName(long long unixSeconds, int attempt);

// False with a message naming the path and what is wrong with it.
// `savedTrace` is where a live trace will be kept ("" for nowhere), under
// the default name or as --save-trace gave it.
bool CheckRunPaths(const CheckOptions& options, const std::string& savedTrace, std::string& error,
                   bool savedByDefault = false);

// Makes the file a live trace is kept in as it arrives: `path` as given
// (replaced, if it exists), or with `unique` the first free default name.
// -1 with a message when it cannot; `made` is the name used.
int MakeSavedTrace(const std::string& path, bool unique, std::string& made, std::string& error);

}  // namespace gpio_check

#endif  // TOOLS_GPIO_CHECK_RUN_PATHS_H
