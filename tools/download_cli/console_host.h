#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "engine/download_host.h"
#include "tools/download_cli/console_timer.h"

// Exit status of the console front end.
inline constexpr int EXIT_DOWNLOAD_COMPLETE = 0;
inline constexpr int EXIT_DOWNLOAD_FAILED = 1;
inline constexpr int EXIT_PROMPT_CANCELLED = 2;

// How the console is attached: a terminal gets an in-place progress bar and the beep; a
// pipe or file gets plain lines only.
struct ConsoleKind {
    bool output_is_terminal = false;
    bool input_is_terminal = false;
};

// The download engine's host in a terminal: status messages become lines on out, the
// progress bar a line redrawn in place (terminal) or a few milestone lines (pipe), the
// download file prompt a line read from in, and the window timer a ConsoleTimer.
class ConsoleHost final : public ToolkitHost {
  public:
    // Pauses and timer readings come from port_clock(), the clock of the run.
    ConsoleHost(std::ostream& out, std::istream& in, ConsoleKind kind, ConsoleTimer& timer);

    void show_progress(bool visible) override;
    void set_progress(int position) override;
    void enable_close() override {}
    void end_window(int code) override;
    int prompt_download_file() override;
    void start_timer(unsigned timer_id, unsigned period_ms) override;
    void stop_timer(unsigned timer_id) override;

    // Where the bar finds the number of records acknowledged when it is hidden: the engine
    // hides it after the last acknowledgement without moving it there first.
    void set_records_done_source(std::function<int()> records_done);

    // Ends the line the in-place bar is drawn on, so that a line written to standard error
    // starts on a line of its own.
    void break_progress_line() { close_bar_line(); }

    // True once end_window was called: the program is to end.
    bool window_ended() const { return window_ended_; }
    // What the program exits with, as decided by the last outcome or end_window.
    int exit_code() const { return exit_code_; }

  private:
    // ToolkitHost: the status line is the next line of output, the beep a BEL on a
    // terminal, and the outcome decides the exit status.
    void set_status_text(const char* text) override;
    void beep() override;
    void enable_exit() override;

    void write_line(const std::string& text);
    void close_bar_line();
    void draw_bar(int position);
    void draw_milestone(int position);

    std::ostream& out_;
    std::istream& in_;
    ConsoleKind kind_;
    ConsoleTimer& timer_;
    std::function<int()> records_done_;
    std::string status_text_;

    bool bar_visible_ = false;
    bool bar_line_open_ = false;  // the in-place bar occupies the current terminal line
    int last_milestone_ = 0;      // tens of percent already printed as plain lines
    bool window_ended_ = false;
    int exit_code_ = EXIT_DOWNLOAD_FAILED;
};
