#ifndef TOOLS_GPIO_SIM_OUTPUT_FILE_H
#define TOOLS_GPIO_SIM_OUTPUT_FILE_H

// An output that appears whole or not at all. Open creates a temporary file
// in the destination's directory, so an unwritable destination shows before
// the run; Commit writes it and renames it over the destination. Until then
// an existing file is left as it was. A destination that is not a regular
// file (a terminal, a pipe, /dev/stdout) is written directly at Commit.

#include <string>

namespace gpio_sim {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Open(const std::string& path, std::string& error);
    bool Commit(const std::string& content, std::string& error);
    // Removes the temporary file, if any; the destination is untouched.
    void Discard();

    bool IsOpen() const { return fd_ >= 0 || direct_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string temporaryPath_;
    int fd_ = -1;
    int slot_ = -1;  // in the table of temporaries removed on a signal
    bool direct_ = false;
};

// On SIGINT, SIGTERM or SIGHUP, removes every open output's temporary file
// before the process ends as the signal would end it.
void RemoveTemporariesOnSignals();

}  // namespace gpio_sim

#endif  // TOOLS_GPIO_SIM_OUTPUT_FILE_H
