#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tools/output_file_check/output_file_check.h"

namespace {

// The null, zero and full devices: writing them harms nothing (and /dev/full is how a
// full disk is tried).
bool is_harmless_device(const struct stat& node) {
    return S_ISCHR(node.st_mode) && major(node.st_rdev) == 1 &&
           (minor(node.st_rdev) == 3 || minor(node.st_rdev) == 5 || minor(node.st_rdev) == 7);
}

std::string file_kind_refusal(const struct stat& node) {
    if (S_ISREG(node.st_mode) || is_harmless_device(node)) {
        return {};
    }
    if (S_ISFIFO(node.st_mode)) {
        return "is a FIFO, not a regular file";
    }
    if (S_ISDIR(node.st_mode)) {
        return "is a directory, not a regular file";
    }
    if (S_ISSOCK(node.st_mode)) {
        return "is a socket, not a regular file";
    }
    return "is a device, not a regular file";
}

}  // namespace

std::string unsafe_output_file(const std::string& path) {
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0) {
        return {};
    }
    struct stat target {};
    const bool exists = stat(path.c_str(), &target) == 0;
    if (S_ISLNK(link.st_mode) && geteuid() == 0 && link.st_uid != 0 &&
        (!exists || target.st_uid != link.st_uid)) {
        return "is a symbolic link into a file its owner does not own: not followed as root";
    }
    return exists ? file_kind_refusal(target) : std::string();
}
