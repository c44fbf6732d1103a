#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station/report_file.h"

namespace {

bool fail_with_errno(std::string& error) {
    error = std::strerror(errno);
    return false;
}

bool ends_a_line(int fd, off_t size) {
    char last = '\n';
    return size == 0 || pread(fd, &last, 1, size - 1) != 1 || last == '\n';
}

// Cuts the part of a line this descriptor's last write left, unless another writer (one
// that does not lock) has appended behind it since: its line must stay whole. What cannot
// be cut is harmless: the next line starts on a line of its own (ends_a_line).
bool take_back(int fd, ssize_t written) {
    // An appending descriptor's offset is where its last write ended.
    const off_t end = lseek(fd, 0, SEEK_CUR);
    struct stat info {};
    return end >= written && fstat(fd, &info) == 0 && info.st_size == end &&
           ftruncate(fd, end - written) == 0;
}

bool append_locked(int fd, const std::string& line, std::string& error) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return fail_with_errno(error);
    }
    const std::string text = ends_a_line(fd, info.st_size) ? line : "\n" + line;
    ssize_t written;
    while ((written = write(fd, text.data(), text.size())) < 0 && errno == EINTR) {
    }
    if (written < 0) {
        return fail_with_errno(error);
    }
    if (static_cast<std::size_t>(written) < text.size()) {
        take_back(fd, written);
        error = "the file took only " + std::to_string(written) + " of " +
                std::to_string(text.size()) + " bytes (disk full?)";
        return false;
    }
    // A device that keeps nothing (/dev/null) cannot be synced (EINVAL): the line went out.
    return fsync(fd) == 0 || (errno == EINVAL && S_ISCHR(info.st_mode)) || fail_with_errno(error);
}

}  // namespace

bool append_line_durably(const std::string& path, const std::string& line, std::string& error) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return fail_with_errno(error);
    }
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    const bool appended = append_locked(fd, line, error);
    close(fd);  // releases the lock
    return appended;
}
