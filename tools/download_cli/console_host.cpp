#include "tools/download_cli/console_host.h"

#include <istream>
#include <ostream>
#include <utility>

#include "engine/download_path.h"
#include "engine/download_sequencer.h"
#include "port/clock.h"
#include "tools/download_cli/printable_text.h"

namespace {

constexpr char COMPLETION_PREFIX[] = "Download complete!";
constexpr int BAR_WIDTH = 40;

int percent_of(int position) {
    return position * 100 / IMAGE_RECORD_COUNT;
}

std::string progress_figures(int position) {
    return std::to_string(percent_of(position)) + "% (" + std::to_string(position) + "/" +
           std::to_string(IMAGE_RECORD_COUNT) + ")";
}

}  // namespace

ConsoleHost::ConsoleHost(std::ostream& out, std::istream& in, ConsoleKind kind, ConsoleTimer& timer)
    : out_(out), in_(in), kind_(kind), timer_(timer) {}

void ConsoleHost::set_status_text(const char* text) {
    status_text_ = text;
    write_line(text);
}

void ConsoleHost::enable_exit() {
    const bool complete = status_text_.rfind(COMPLETION_PREFIX, 0) == 0;
    exit_code_ = complete ? EXIT_DOWNLOAD_COMPLETE : EXIT_DOWNLOAD_FAILED;
}

void ConsoleHost::show_progress(bool visible) {
    if (visible && !bar_visible_) {
        last_milestone_ = 0;
    }
    if (!visible && bar_visible_ && records_done_) {
        set_progress(records_done_());
    }
    bar_visible_ = visible;
    if (!visible) {
        close_bar_line();
    }
}

void ConsoleHost::set_progress(int position) {
    if (position < 0) {
        position = 0;
    }
    if (position > IMAGE_RECORD_COUNT) {
        position = IMAGE_RECORD_COUNT;
    }
    if (!bar_visible_) {
        return;
    }
    if (kind_.output_is_terminal) {
        draw_bar(position);
    } else {
        draw_milestone(position);
    }
}

void ConsoleHost::end_window(int code) {
    window_ended_ = true;
    exit_code_ = code;
}

// Like the window's prompt, an empty answer is not taken: it beeps and asks again, so OK
// always comes with a path.
int ConsoleHost::prompt_download_file() {
    close_bar_line();
    for (;;) {
        out_ << "Download file: " << std::flush;
        std::string line;
        if (!std::getline(in_, line)) {
            out_ << '\n' << std::flush;
            return DIALOG_RESULT_CANCEL;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!kind_.input_is_terminal) {
            // Nobody typed it, so the terminal did not echo it: keep the transcript readable.
            out_ << line << '\n' << std::flush;
        }
        set_current_download_path(line.c_str());
        if (current_download_path[0] != '\0') {
            return DIALOG_RESULT_OK;
        }
        beep();
    }
}

void ConsoleHost::start_timer(unsigned timer_id, unsigned period_ms) {
    timer_.start(timer_id, period_ms, port_clock().tick_ms());
}

void ConsoleHost::stop_timer(unsigned timer_id) {
    timer_.stop(timer_id);
}

void ConsoleHost::set_records_done_source(std::function<int()> records_done) {
    records_done_ = std::move(records_done);
}

void ConsoleHost::beep() {
    if (kind_.output_is_terminal) {
        out_ << '\a' << std::flush;
    }
}

void ConsoleHost::write_line(const std::string& text) {
    close_bar_line();
    out_ << printable(text) << '\n' << std::flush;
}

void ConsoleHost::close_bar_line() {
    if (bar_line_open_) {
        out_ << '\n' << std::flush;
        bar_line_open_ = false;
    }
}

void ConsoleHost::draw_bar(int position) {
    const int filled = position * BAR_WIDTH / IMAGE_RECORD_COUNT;
    out_ << "\r[" << std::string(filled, '#') << std::string(BAR_WIDTH - filled, '.') << "] "
         << progress_figures(position) << std::flush;
    bar_line_open_ = true;
}

void ConsoleHost::draw_milestone(int position) {
    const int milestone = percent_of(position) / 10;
    if (milestone > last_milestone_) {
        last_milestone_ = milestone;
        out_ << "Programming: " << progress_figures(position) << '\n' << std::flush;
    }
}
