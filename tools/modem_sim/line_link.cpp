#include "tools/modem_sim/line_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

LineLink::~LineLink() {
    remove();
}

bool LineLink::create(const std::string& link_path, const std::string& target, std::string& error) {
    struct stat existing {};
    if (lstat(link_path.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = link_path + ": exists and is not a symbolic link";
            return false;
        }
        unlink(link_path.c_str());
    }
    if (symlink(target.c_str(), link_path.c_str()) != 0) {
        error = link_path + ": " + std::strerror(errno);
        return false;
    }
    path_ = link_path;
    return true;
}

void LineLink::remove() {
    if (!path_.empty()) {
        unlink(path_.c_str());
        path_.clear();
    }
}
