#include "tests/port/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "port/posix_custom_baud.h"

namespace {

constexpr auto safety_deadline = std::chrono::seconds(3);

}  // namespace

PtyLine::PtyLine() {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    slave_path_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyLine::~PtyLine() {
    hang_up();
    close(slave_);
}

void PtyLine::send(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) {
            throw std::runtime_error("pty master refused bytes");
        }
        sent += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyLine::receive(std::size_t n) {
    std::vector<std::uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + safety_deadline;
    while (bytes.size() < n && std::chrono::steady_clock::now() < deadline) {
        pollfd waiting{master_, POLLIN, 0};
        if (poll(&waiting, 1, 10) <= 0) {
            continue;
        }
        std::uint8_t chunk[4096];
        const ssize_t got = read(master_, chunk, sizeof chunk);
        if (got > 0) {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
    }
    return bytes;
}

std::vector<std::uint8_t> PtyLine::receive_all() {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[4096];
    ssize_t got = 0;
    while ((got = read(master_, chunk, sizeof chunk)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

termios PtyLine::attributes() const {
    termios attributes{};
    tcgetattr(master_, &attributes);
    return attributes;
}

speed_t PtyLine::speed() const {
    const termios current = attributes();
    return cfgetospeed(&current);
}

std::uint32_t PtyLine::rate() const {
    std::uint32_t rate = 0;
    get_line_rate(master_, &rate);
    return rate;
}

bool PtyLine::exclusive() const {
    int flag = 0;
    ioctl(slave_, TIOCGEXCL, &flag);
    return flag != 0;
}

void PtyLine::hang_up() {
    if (master_ >= 0) {
        close(master_);
        master_ = -1;
    }
}

ScopedComMapping::ScopedComMapping(int number, const std::string& path)
    : name_("KORVAN_COM" + std::to_string(number)) {
    const char* previous = std::getenv(name_.c_str());
    had_previous_ = previous != nullptr;
    previous_ = had_previous_ ? previous : "";
    setenv(name_.c_str(), path.c_str(), 1);
}

ScopedComMapping::~ScopedComMapping() {
    if (had_previous_) {
        setenv(name_.c_str(), previous_.c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

std::string unmapped_com_path(int number) {
    return "/nonexistent/korvan-com" + std::to_string(number);
}
