#include "tools/modem_sim/serial_line.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

struct SpeedName {
    speed_t speed;
    unsigned baud;
};

constexpr SpeedName SPEEDS[] = {
    {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
};

// The termios speed for baud; B0 when there is none.
speed_t speed_for(unsigned baud) {
    for (const SpeedName& entry : SPEEDS) {
        if (entry.baud == baud) {
            return entry.speed;
        }
    }
    return B0;
}

// Raw mode; speed B0 keeps the line's speed.
bool make_raw(int fd, speed_t speed) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (speed != B0) {
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
    }
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

std::string describe(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<SerialLine> SerialLine::create_pty(std::string& error, bool keep_modes) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = describe("openpty");
        return nullptr;
    }
    const char* slave_name = ttyname(slave);
    if (slave_name == nullptr || (!keep_modes && !make_raw(slave, B9600)) ||
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
        error = describe("pty set-up");
        ::close(master);
        ::close(slave);
        return nullptr;
    }
    return std::unique_ptr<SerialLine>(new SerialLine(master, slave, slave_name));
}

std::unique_ptr<SerialLine> SerialLine::open_device(const std::string& path, unsigned baud,
                                                    std::string& error) {
    const speed_t speed = baud == 0 ? B0 : speed_for(baud);
    if (baud != 0 && speed == B0) {
        error = "no terminal speed for " + std::to_string(baud) + " baud";
        return nullptr;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = describe(path.c_str());
        return nullptr;
    }
    if (!make_raw(fd, speed)) {
        error = describe(path.c_str());
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SerialLine>(new SerialLine(fd, -1, path));
}

SerialLine::~SerialLine() {
    close();
}

unsigned SerialLine::line_speed() const {
    termios settings{};
    if (fd_ < 0 || tcgetattr(slave_fd_ >= 0 ? slave_fd_ : fd_, &settings) != 0) {
        return 0;
    }
    speed_t speed = cfgetospeed(&settings);
    for (const SpeedName& entry : SPEEDS) {
        if (entry.speed == speed) {
            return entry.baud;
        }
    }
    return 0;
}

void SerialLine::close() {
    for (int* fd : {&slave_fd_, &fd_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}
