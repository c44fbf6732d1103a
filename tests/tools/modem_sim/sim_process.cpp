#include "tests/tools/modem_sim/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipe_fds[1], STDOUT_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    stdout_fd_ = pipe_fds[0];
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (stdout_fd_ >= 0) {
        close(stdout_fd_);
    }
}

std::optional<std::string> SimProcess::read_line(std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (true) {
        auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        pollfd watch{stdout_fd_, POLLIN, 0};
        if (poll(&watch, 1, remaining_ms(end)) <= 0) {
            return std::nullopt;
        }
        char chunk[256];
        ssize_t count = read(stdout_fd_, chunk, sizeof chunk);
        if (count <= 0) {
            return std::nullopt;
        }
        buffered_.append(chunk, static_cast<std::size_t>(count));
    }
}

int SimProcess::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

std::optional<int> SimProcess::wait_exit(std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        if (Clock::now() >= end) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return std::nullopt;
}

HostLine::HostLine(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        return;
    }
    termios settings{};
    tcgetattr(fd_, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd_, TCSANOW, &settings);
}

std::unique_ptr<HostLine> HostLine::adopt(int fd) {
    std::unique_ptr<HostLine> line(new HostLine());
    line->fd_ = fd;
    return line;
}

HostLine::~HostLine() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void HostLine::set_speed(speed_t speed) {
    termios settings{};
    tcgetattr(fd_, &settings);
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    tcsetattr(fd_, TCSANOW, &settings);
}

void HostLine::write_bytes(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd_, bytes.data() + done, bytes.size() - done);
        if (count < 0) {
            if (errno != EAGAIN) {
                return;
            }
            pollfd watch{fd_, POLLOUT, 0};
            poll(&watch, 1, 100);
            continue;
        }
        done += static_cast<std::size_t>(count);
    }
}

void HostLine::write_text(const std::string& text) {
    write_bytes(std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> HostLine::read_bytes(std::size_t count,
                                               std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count) {
        pollfd watch{fd_, POLLIN, 0};
        if (poll(&watch, 1, remaining_ms(end)) <= 0) {
            break;
        }
        std::uint8_t chunk[2048];
        std::size_t wanted = std::min(sizeof chunk, count - bytes.size());
        ssize_t got = read(fd_, chunk, wanted);
        if (got < 0 && errno == EAGAIN) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

bool HostLine::wait_hangup(std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (true) {
        pollfd watch{fd_, POLLIN, 0};
        if (poll(&watch, 1, remaining_ms(end)) <= 0) {
            return false;
        }
        std::uint8_t chunk[256];
        ssize_t got = read(fd_, chunk, sizeof chunk);
        if (got == 0 || (got < 0 && errno != EAGAIN)) {
            return true;
        }
    }
}

bool wait_for_line_in_file(const std::string& path, const std::string& line,
                           std::chrono::milliseconds timeout) {
    auto end = Clock::now() + timeout;
    while (true) {
        std::ifstream file(path);
        for (std::string text; std::getline(file, text);) {
            if (text == line) {
                return true;
            }
        }
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
