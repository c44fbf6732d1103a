#pragma once

#include <cstdio>
#include <streambuf>
#include <string>

#include "tools/download_cli/cli_options.h"

// The trace and report files are checked before any port is touched: a path that is the
// image, the modem map or no regular file is a usage error. In a production line the trace
// names a directory that gets one file per run. What is wrong, or empty when the run may
// go on.
std::string output_files_refusal(const CliOptions& options);

// A file written through a stream that never fails: a write the system refuses (a full
// disk, /dev/full) is dropped, and the first refusal is kept for the end of the run, so
// the flash itself never stops for its trace.
class DroppingFileBuffer final : public std::streambuf {
  public:
    DroppingFileBuffer() = default;
    ~DroppingFileBuffer() override;
    DroppingFileBuffer(const DroppingFileBuffer&) = delete;
    DroppingFileBuffer& operator=(const DroppingFileBuffer&) = delete;

    // Creates or truncates path; false (with the reason in error) when it cannot.
    bool open(const std::string& path, std::string& error);
    // Flushes and closes; the reason of the first write that failed, or empty.
    std::string close();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    void note_failure();

    std::FILE* file_ = nullptr;
    int first_error_ = 0;
};
