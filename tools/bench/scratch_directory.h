#ifndef TOOLS_BENCH_SCRATCH_DIRECTORY_H
#define TOOLS_BENCH_SCRATCH_DIRECTORY_H

// A private directory for one file that a library takes only by its name
// (libsigrok reads and writes sessions so): made in $TMPDIR, else /tmp,
// under a name no one else has, and removed with all it holds when this
// goes (libzip's temporary beside the file too), also should a signal end
// the run meanwhile.

#include <string>

namespace gpio_bench {

class ScratchDirectory {
public:
    ScratchDirectory() = default;
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    ~ScratchDirectory() { Remove(); }

    // `pattern` names the directory, ending in XXXXXX ("pxa-gpio-sim-XXXXXX");
    // `file` is the name of the file in it. False with errno set when the
    // directory cannot be made.
    bool Make(const std::string& pattern, const std::string& file);
    // The file's path, once made.
    const std::string& Path() const { return path_; }
    void Remove();

    // Where one is made: $TMPDIR as it is set, else /tmp.
    static std::string Parent();

private:
    std::string dir_;
    std::string path_;
    int hold_ = -1;  // removed by the signal handler while held
};

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_SCRATCH_DIRECTORY_H
