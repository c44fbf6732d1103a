#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal standing in for a serial line: the port under test opens the slave by
// its path, the test plays the other end on the master.
class PtyLine {
  public:
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slave_path() const { return slave_path_; }

    // Sends bytes to the port under test.
    void send(const std::vector<std::uint8_t>& bytes);
    // Collects what the port under test sent, until n bytes are there or a generous
    // deadline passes (a safety net against a hanging test, not a time-out under test).
    std::vector<std::uint8_t> receive(std::size_t n);
    // Everything the port under test sent so far.
    std::vector<std::uint8_t> receive_all();

    // The line settings as the other end sees them.
    termios attributes() const;
    speed_t speed() const;
    std::uint32_t rate() const;

    // Whether the line is marked for exclusive use (TIOCEXCL).
    bool exclusive() const;

    // Closes the master: the line is gone for the port under test.
    void hang_up();

  private:
    int master_ = -1;
    int slave_ = -1;  // kept open so the master never reads a hang-up between opens
    std::string slave_path_;
};

// Sets KORVAN_COM<number> for the lifetime of this object.
class ScopedComMapping {
  public:
    ScopedComMapping(int number, const std::string& path);
    ~ScopedComMapping();
    ScopedComMapping(const ScopedComMapping&) = delete;
    ScopedComMapping& operator=(const ScopedComMapping&) = delete;

  private:
    std::string name_;
    std::string previous_;
    bool had_previous_;
};

// The path every COM port of the test process is mapped to unless a test maps it itself:
// no test may ever reach a real /dev/ttyS* device.
std::string unmapped_com_path(int number);
