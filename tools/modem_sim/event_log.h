#pragma once

#include <cstdio>
#include <string>
#include <vector>

// One line per thing the modem received or did, kept in memory and, when a file is open,
// written there at once so a test can read it while the modem runs.
class EventLog {
  public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    bool open(const std::string& path);
    void write(const std::string& line);
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    std::FILE* file_ = nullptr;
    std::vector<std::string> lines_;
};
