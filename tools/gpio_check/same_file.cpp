#include "same_file.h"

#include <sys/stat.h>

namespace gpio_check {

namespace {

bool SameInode(const struct stat& first, const struct stat& second) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// A path's directory and its last name: "out.svg" is "." and "out.svg".
void SplitPath(const std::string& path, std::string& directory, std::string& name) {
    const std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        directory = ".";
        name = path;
        return;
    }
    directory = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
}

}  // namespace

bool NameSameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    const bool firstExists = ::stat(a.c_str(), &first) == 0;
    const bool secondExists = ::stat(b.c_str(), &second) == 0;
    if (firstExists || secondExists) return firstExists && secondExists && SameInode(first, second);
    // Two files still to be made: one name in one directory.
    std::string firstDirectory, firstName, secondDirectory, secondName;
    SplitPath(a, firstDirectory, firstName);
    SplitPath(b, secondDirectory, secondName);
    return !firstName.empty() && firstName == secondName && ::stat(firstDirectory.c_str(), &first) == 0 &&
           ::stat(secondDirectory.c_str(), &second) == 0 && SameInode(first, second);
}

}  // namespace gpio_check
