#ifndef TOOLS_BENCH_OUTPUT_FILE_H
#define TOOLS_BENCH_OUTPUT_FILE_H

// Outputs that appear whole or not at all, all of them or none. Open creates
// a temporary file in the destination's directory and reserves room for the
// expected size, so an unwritable destination or a full disk shows before
// the run. CommitAll writes and syncs every temporary, and renames them into
// place only when all succeeded; until then an existing file is left as it
// was. A destination that is not a regular file (a terminal, a pipe, a
// device) is written directly, and one that names a descriptor of this
// process (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a link to one) or is
// the file standard output or error already writes to is written through
// that descriptor: never replaced, never opened anew.

#include <cstddef>
#include <string>
#include <vector>

namespace gpio_bench {

struct PendingOutput;

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // `expectedSize` is reserved on the disk at once; the content may still
    // turn out larger.
    bool Open(const std::string& path, std::size_t expectedSize, std::string& error);
    bool Open(const std::string& path, std::string& error) { return Open(path, 0, error); }
    // CommitAll of this one alone.
    bool Commit(const std::string& content, std::string& error);
    // Removes the temporary file, if any; the destination is untouched.
    void Discard();

    bool IsOpen() const { return fd_ >= 0 || directFd_ >= 0 || direct_; }
    // The destination is the file standard output writes to.
    bool IsStandardOutput() const { return directFd_ == 1; }
    const std::string& Path() const { return path_; }

private:
    friend bool CommitAll(const std::vector<PendingOutput>& outputs, std::string& error);
    bool WriteTemporary(const std::string& content, std::string& error);
    bool WriteDirect(const std::string& content, std::string& error);
    bool Publish(std::string& error);

    std::string path_;
    std::string temporaryPath_;
    int fd_ = -1;
    int slot_ = -1;        // in the table of temporaries removed on a signal
    int directFd_ = -1;    // a descriptor of this process the destination names, or standard output's file
    bool direct_ = false;  // another special file, opened when written
};

struct PendingOutput {
    OutputFile* file;
    std::string content;
};

// Every temporary written and synced, then the special files written, then
// every rename, with terminating signals held off so none can stop it half
// done. On a failure nothing is renamed and every temporary is removed.
bool CommitAll(const std::vector<PendingOutput>& outputs, std::string& error);

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed, so no
// output file can take its place (and a trace printed to a closed standard
// output cannot land in one). Returns the closed ones: bit N for descriptor N.
unsigned ReserveStandardDescriptors();

// Standard output flushed and checked: false, with why, when any write to it
// failed during the run.
bool FlushStandardOutput(std::string& error);

// On any signal whose default is to end the process, removes every open
// output's temporary file first. A broken pipe (the reader of the trace or
// of a pipe output went away) ends the run at once as an ordinary failure:
// a message and exit code 2.
void RemoveTemporariesOnSignals();

// Another temporary file, and the private directory it is in (or ""),
// removed by that handler too while held, with whatever else is in that
// directory. -1 when the table is full.
int HoldForRemovalOnSignal(const std::string& file, const std::string& directory);
void ReleaseFromRemovalOnSignal(int hold);

// The calls that put an output on the disk and in place: every temporary is
// synced before any is renamed, and each directory synced after its rename.
// Replaceable so that a test can see their order.
struct DiskCalls {
    int (*sync)(int fd);
    int (*rename)(const char* from, const char* to);
};
DiskCalls& OutputDiskCalls();

}  // namespace gpio_bench

#endif  // TOOLS_BENCH_OUTPUT_FILE_H
