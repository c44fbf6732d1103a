#pragma once

#include <memory>
#include <string>

// The modem's end of a serial line: the master side of a pseudo-terminal it creates, or an
// existing terminal device. The descriptor is non-blocking and in raw mode.
class SerialLine {
  public:
    // A new pty; the host opens name(). The pty's own slave side stays open here so that
    // the master never sees a hang-up while the host closes and reopens the port. With
    // keep_modes the host's side keeps the modes of a fresh pty (XON/XOFF, line editing and
    // echo on), as a line nobody has set up is found.
    static std::unique_ptr<SerialLine> create_pty(std::string& error, bool keep_modes = false);
    // An existing terminal, set to baud (0 keeps its speed): the far end of a real line
    // cannot show the host's speed here, so the modem listens at one of its own.
    static std::unique_ptr<SerialLine> open_device(const std::string& path, unsigned baud,
                                                   std::string& error);

    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    int fd() const { return fd_; }
    // The path the host opens.
    const std::string& name() const { return name_; }
    // The line speed the host has set, in baud; 0 when it cannot be read. A pty shares one
    // set of terminal settings between its two sides, so the host's choice shows here.
    unsigned line_speed() const;
    void close();

  private:
    SerialLine(int fd, int slave_fd, std::string name)
        : fd_(fd), slave_fd_(slave_fd), name_(std::move(name)) {}

    int fd_;
    int slave_fd_;
    std::string name_;
};
