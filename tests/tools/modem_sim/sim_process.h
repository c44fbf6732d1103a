#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The simulator binary run as a child process, its stdout read line by line.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The next stdout line without its newline; none at end of output or after the time-out.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    // Sends SIGTERM and waits; the exit status as waitpid gives it.
    int stop();
    // Waits for the process to end on its own; none when it is still running.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);

  private:
    pid_t pid_ = -1;
    int stdout_fd_ = -1;
    std::string buffered_;
};

// The host's end of the line: the pty's slave opened raw, like a serial port.
class HostLine {
  public:
    explicit HostLine(const std::string& path);
    // Takes over an open descriptor, such as a pty's master, as the host's end.
    static std::unique_ptr<HostLine> adopt(int fd);
    ~HostLine();
    HostLine(const HostLine&) = delete;
    HostLine& operator=(const HostLine&) = delete;

    bool is_open() const { return fd_ >= 0; }
    void set_speed(speed_t speed);
    void write_bytes(const std::vector<std::uint8_t>& bytes);
    void write_text(const std::string& text);
    // Up to `count` bytes, fewer when the time-out passes or the line goes away.
    std::vector<std::uint8_t> read_bytes(std::size_t count, std::chrono::milliseconds timeout);
    // True when reading reports the other end gone (end of file or an error) in time.
    bool wait_hangup(std::chrono::milliseconds timeout);

  private:
    HostLine() = default;

    int fd_ = -1;
};

// Waits until the file holds the given line.
bool wait_for_line_in_file(const std::string& path, const std::string& line,
                           std::chrono::milliseconds timeout);
