#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station/child_process.h"
#include "station/interrupts_posix.h"

extern char** environ;

namespace {

class PosixChild final : public ChildProcess {
  public:
    PosixChild(pid_t pid, int output) : pid_(pid), output_(output) {}
    ~PosixChild() override {
        close_output();
        wait_for_exit();
    }

    bool read_output(std::string& text) override {
        while (output_ >= 0) {
            char chunk[4096];
            const ssize_t got = read(output_, chunk, sizeof chunk);
            if (got > 0) {
                text.append(chunk, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0 && errno == EAGAIN) {
                return true;
            }
            close_output();
        }
        return false;
    }

    ChildExit wait_for_exit() override {
        if (pid_ > 0) {
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            exit_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            exit_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            pid_ = -1;
        }
        return exit_;
    }

    void kill() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
        }
    }

    int output() const { return output_; }

  private:
    void close_output() {
        if (output_ >= 0) {
            close(output_);
            output_ = -1;
        }
    }

    pid_t pid_;
    int output_;
    ChildExit exit_;
};

}  // namespace

std::unique_ptr<ChildProcess> start_child_process(const std::vector<std::string>& arguments,
                                                  std::string& error) {
    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own: the terminal's Ctrl-C reaches the parent only.
    posix_spawnattr_setpgroup(&attributes, 0);
    // The interrupts arrive blocked until the child ignores them (ignore_interrupts): a
    // service manager's stop reaches every process of the station, and one that came
    // before the child's first instruction must not end it either.
    const sigset_t interrupts = interrupt_signals();
    posix_spawnattr_setsigdefault(&attributes, &interrupts);
    posix_spawnattr_setsigmask(&attributes, &interrupts);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipe_ends[1]);
    if (spawned != 0) {
        close(pipe_ends[0]);
        error = "cannot start " + arguments[0] + ": " + std::strerror(spawned);
        return nullptr;
    }
    fcntl(pipe_ends[0], F_SETFL, fcntl(pipe_ends[0], F_GETFL) | O_NONBLOCK);
    return std::make_unique<PosixChild>(pid, pipe_ends[0]);
}

bool can_start_program(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "cannot find the download program: this program's own folder is unknown";
        return false;
    }
    if (access(path.c_str(), X_OK) != 0) {
        error = "cannot start " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void wait_for_child_output(const std::vector<ChildProcess*>& children, int timeout_ms) {
    std::vector<pollfd> watched;
    for (ChildProcess* child : children) {
        const int output = static_cast<PosixChild*>(child)->output();
        if (output >= 0) {
            watched.push_back({output, POLLIN, 0});
        }
    }
    // An interrupt ends the poll early (EINTR); the caller looks at the flag.
    poll(watched.data(), watched.size(), timeout_ms);
}
