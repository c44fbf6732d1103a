#include "tools/download_cli/line_display.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>

#include "engine/download_image.h"
#include "tools/download_cli/event_host.h"
#include "tools/download_cli/printable_text.h"

namespace {

// Cut to width, padded to width.
std::string column(std::string text, std::size_t width) {
    if (text.size() > width) {
        text.resize(width);
    }
    text.resize(width, ' ');
    return text;
}

std::string minutes_and_seconds(double seconds) {
    const long whole = static_cast<long>(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string records_of(int records) {
    return std::to_string(records) + "/" + std::to_string(IMAGE_RECORD_COUNT);
}

// A line that fits a terminal of this width: one column short of it, so the cursor never
// stands in the last column (some consoles wrap there at once).
std::string fitted(std::string line, int columns) {
    if (columns > 1 && line.size() >= static_cast<std::size_t>(columns)) {
        line.resize(static_cast<std::size_t>(columns - 1));
    }
    return line;
}

int tens_of_percent(int records) {
    return records * 100 / IMAGE_RECORD_COUNT / 10;
}

template <typename Runs, typename Get>
std::size_t port_width(const Runs& runs, Get get) {
    std::size_t width = 4;
    for (const auto& run : runs) {
        width = std::max(width, printable(get(run).port).size());
    }
    return width;
}

}  // namespace

LineDisplay::LineDisplay(std::ostream& out, std::ostream& err, LineOutput output,
                         std::function<int()> columns)
    : out_(out), err_(err), output_(output), columns_(std::move(columns)) {}

void LineDisplay::show_event(const PortRun& run, const nlohmann::ordered_json& event) {
    if (output_ == LineOutput::events) {
        nlohmann::ordered_json tagged = {{"port", json_text(run.port)}};
        for (const auto& [key, value] : event.items()) {
            tagged[key] = value;
        }
        out_ << json_line(tagged) << '\n' << std::flush;
    } else if (output_ == LineOutput::plain) {
        show_plain_event(run, event);
    }
}

void LineDisplay::show_note(const std::string& port, const std::string& text) {
    if (output_ == LineOutput::events) {
        const nlohmann::ordered_json note = {
            {"port", json_text(port)}, {"event", "note"}, {"text", json_text(text)}};
        out_ << json_line(note) << '\n' << std::flush;
        return;
    }
    erase_port_lines();
    out_ << printable(port) << ": " << printable(text) << '\n' << std::flush;
}

void LineDisplay::show_modem_gone(const std::string& port) {
    if (output_ != LineOutput::terminal) {
        show_note(port, "Modem removed: waiting for the next one");
    }
}

void LineDisplay::show_ports(const std::vector<const PortRun*>& runs) {
    redraw(runs, std::chrono::steady_clock::now());
}

void LineDisplay::show_warning(const std::string& text) {
    err_ << "korvan-download-cli: " << printable(text) << '\n' << std::flush;
}

void LineDisplay::redraw(const std::vector<const PortRun*>& runs,
                         std::chrono::steady_clock::time_point now) {
    if (output_ != LineOutput::terminal) {
        return;
    }
    const int columns = columns_ ? columns_() : 0;
    if (columns < drawn_columns_) {
        // A narrower terminal may have wrapped the lines drawn before onto more rows than
        // can be counted: draw afresh below them.
        drawn_lines_ = 0;
    }
    drawn_columns_ = columns;
    std::string frame;
    if (drawn_lines_ > 0) {
        frame += "\x1b[" + std::to_string(drawn_lines_) + "A";
    }
    const std::size_t width =
        port_width(runs, [](const PortRun* run) -> const PortRun& { return *run; });
    for (const PortRun* run : runs) {
        frame += "\r\x1b[2K" + fitted(port_line(*run, now, width), columns) + "\n";
    }
    drawn_lines_ = static_cast<int>(runs.size());
    out_ << frame << std::flush;
}

void LineDisplay::show_summary(const std::vector<PortRun>& runs) {
    if (output_ == LineOutput::events) {
        return;
    }
    drawn_lines_ = 0;  // the port lines stay above the table
    const std::size_t width =
        port_width(runs, [](const PortRun& run) -> const PortRun& { return run; });
    out_ << '\n'
         << column("Port", width + 1) << column("Result", 11) << column("Records", 9)
         << column("Time", 7) << "Message\n";
    for (const PortRun& run : runs) {
        out_ << column(printable(run.port), width) << ' ' << column(run.result, 10) << ' '
             << column(records_of(run.records), 8) << ' '
             << column(minutes_and_seconds(run.seconds), 6) << ' ' << printable(run.message)
             << '\n';
    }
    out_ << std::flush;
}

void LineDisplay::show_plain_event(const PortRun& run, const nlohmann::ordered_json& event) {
    const std::string kind = text_member(event, "event");
    const std::string prefix = printable(run.port) + ": ";
    // What the child reports may hold the modem's answer and file names: shown escaped.
    const auto text_of = [&event](std::string_view key) {
        return printable(text_member(event, key));
    };
    if (kind == "status") {
        out_ << prefix << text_of("text") << '\n';
    } else if (kind == "progress") {
        // Like the single-port console off a terminal: a line for every new ten percent.
        const int records = static_cast<int>(number_member(event, "records", 0));
        if (records > 0 && tens_of_percent(records) > tens_of_percent(records - 1)) {
            out_ << prefix << "Programming: " << records * 100 / IMAGE_RECORD_COUNT << "% ("
                 << records_of(records) << ")\n";
        }
    } else if (kind == "identification") {
        out_ << prefix << "Identification: " << text_of("text") << '\n';
    } else if (kind == "image") {
        out_ << prefix << "Image: " << text_of("path") << " (checksum total " << text_of("checksum")
             << ")\n";
    } else if (kind == "skipped") {
        out_ << prefix << "Skipped " << text_of("device") << ": the device did not open (status "
             << number_member(event, "status", 0) << ")\n";
    } else if (kind == "outcome") {
        if (text_member(event, "result") == RESULT_CANCELLED) {
            out_ << prefix << "Cancelled: no valid image (" << text_of("text") << ")\n";
        } else {
            out_ << prefix << text_of("text") << '\n';
        }
    }
    out_ << std::flush;
}

void LineDisplay::erase_port_lines() {
    if (output_ == LineOutput::terminal && drawn_lines_ > 0) {
        // The note goes where the port lines were; they are drawn again below it.
        out_ << "\x1b[" << drawn_lines_ << "A\x1b[J";
        drawn_lines_ = 0;
    }
}

std::string port_line(const PortRun& run, std::chrono::steady_clock::time_point now,
                      std::size_t port_width) {
    // The outcome arrives a moment before the child ends, which is when the time is taken.
    const bool ended = run.ended != std::chrono::system_clock::time_point{};
    const double seconds =
        ended ? run.seconds : std::chrono::duration<double>(now - run.started_steady).count();
    const std::string step = run.finished() ? run.result + ": " + run.message : run.step;
    return column(printable(run.port), port_width) + ' ' +
           column(printable(run.identification), 22) + ' ' + column(printable(step), 40) + ' ' +
           column(records_of(run.records), 7) + ' ' + minutes_and_seconds(seconds);
}
