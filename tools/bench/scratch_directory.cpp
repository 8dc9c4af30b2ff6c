#include "scratch_directory.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "output_file.h"

namespace gpio_bench {

std::string ScratchDirectory::Parent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

bool ScratchDirectory::Make(const std::string& pattern, const std::string& file) {
    Remove();
    const std::string whole = Parent() + "/" + pattern;
    std::vector<char> name(whole.begin(), whole.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) return false;
    dir_ = name.data();
    path_ = dir_ + "/" + file;
    hold_ = HoldForRemovalOnSignal(path_, dir_);
    return true;
}

void ScratchDirectory::Remove() {
    if (dir_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    if (hold_ >= 0) ReleaseFromRemovalOnSignal(hold_);
    hold_ = -1;
    dir_.clear();
    path_.clear();
}

}  // namespace gpio_bench
