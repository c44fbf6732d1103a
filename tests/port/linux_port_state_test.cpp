// Why a device cannot be opened, as the user is told it.
#include "port/linux_port_state.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr uid_t NOBODY = 65534;

// Runs diagnose_refused_open for path in a child process that is no more than an ordinary
// user (root may open anything), and returns what it would tell the user.
std::string diagnosis_as_ordinary_user(const std::string& path) {
    int channel[2];
    if (pipe(channel) != 0) {
        return "no pipe";
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const bool dropped = geteuid() != 0 || (setgid(NOBODY) == 0 && setuid(NOBODY) == 0);
        const std::string text =
            dropped ? describe_port_state(diagnose_refused_open(path, SystemRoots{})) : "root";
        const ssize_t written = write(channel[1], text.data(), text.size());
        _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return text;
}

TEST(PortState, NoPermissionNamesTheGroupThatOwnsTheDevice) {
    char path[] = "/tmp/korvan-device-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    // Read and write for owner and group only, as udev leaves a serial device; an ordinary
    // user who is not the owner gets no access (and the owner none either, when not root).
    chmod(path, geteuid() == 0 ? 0660 : 0000);
    struct stat node {};
    ASSERT_EQ(stat(path, &node), 0);
    const group* owner = getgrgid(node.st_gid);
    ASSERT_NE(owner, nullptr);

    EXPECT_EQ(diagnosis_as_ordinary_user(path), std::string("no permission to open it (add "
                                                            "yourself to the '") +
                                                    owner->gr_name + "' group)");
    unlink(path);
}

}  // namespace
