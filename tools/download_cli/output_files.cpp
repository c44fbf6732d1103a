#include "tools/download_cli/output_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "engine/modem_map.h"
#include "tools/download_cli/console_platform.h"
#include "tools/download_cli/printable_text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* MODEM_MAP = "modems.cfg";

bool same_file(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && !b.empty() && fs::equivalent(a, b, error) && !error;
}

// The images a run may read: the one named on the command line and every one the modem
// map names.
std::vector<std::string> image_paths(const CliOptions& options) {
    std::vector<std::string> images;
    if (!options.image_path.empty()) {
        images.push_back(options.image_path);
    }
    std::ifstream map(MODEM_MAP, std::ios::binary);
    std::ostringstream text;
    text << map.rdbuf();
    for (const ModemMapEntry& entry : parse_modem_map(text.str())) {
        images.push_back(entry.image_path);
    }
    return images;
}

// Why path cannot take a trace or report file; empty when it can.
std::string refusal(const std::string& path, const CliOptions& options) {
    if (path.empty()) {
        return "is empty";
    }
    for (const std::string& image : image_paths(options)) {
        if (same_file(path, image)) {
            return "is the image (" + image + ")";
        }
    }
    if (same_file(path, MODEM_MAP)) {
        return std::string("is the modem map (") + MODEM_MAP + ")";
    }
    return unsafe_output_file(path);
}

bool usable(const std::string& option, const std::string& path, const CliOptions& options) {
    const std::string why = refusal(path, options);
    if (!why.empty()) {
        std::cerr << "korvan-download-cli: " << option << ' ' << printable(path) << ' ' << why
                  << '\n';
    }
    return why.empty();
}

bool usable_trace_directory(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return true;
    }
    std::cerr << "korvan-download-cli: --trace " << printable(path)
              << " is not a directory: with several ports it names the directory that gets "
                 "one trace file per run\n";
    return false;
}

}  // namespace

bool output_files_are_usable(const CliOptions& options) {
    if (!options.report_path.empty() && !usable("--report", options.report_path, options)) {
        return false;
    }
    if (options.trace_path.empty()) {
        return true;
    }
    // Only a station runs a download per port; --identify probes every port in one process,
    // into one trace file.
    const bool trace_per_run = options.is_production_line() && !options.identify;
    return trace_per_run ? usable_trace_directory(options.trace_path)
                         : usable("--trace", options.trace_path, options);
}

std::string station_trace_name(const std::string& port, const std::string& compact_utc_time) {
    std::string name;
    for (const char c : port) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        name += safe ? c : '-';
    }
    // "/dev/pts/5" gives "-dev-pts-5": no name starts with a dash or a dot.
    name.erase(0, name.find_first_not_of("-."));
    return (name.empty() ? "port" : name) + "-" + compact_utc_time + ".trace";
}

DroppingFileBuffer::~DroppingFileBuffer() {
    close();
}

bool DroppingFileBuffer::open(const std::string& path, std::string& error) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

std::string DroppingFileBuffer::close() {
    if (file_ != nullptr) {
        sync();
        if (std::fclose(file_) != 0) {
            note_failure();
        }
        file_ = nullptr;
    }
    return first_error_ != 0 ? std::strerror(first_error_) : std::string();
}

DroppingFileBuffer::int_type DroppingFileBuffer::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        const char byte = traits_type::to_char_type(c);
        xsputn(&byte, 1);
    }
    return traits_type::not_eof(c);
}

std::streamsize DroppingFileBuffer::xsputn(const char* text, std::streamsize count) {
    if (file_ != nullptr && first_error_ == 0 &&
        std::fwrite(text, 1, static_cast<std::size_t>(count), file_) !=
            static_cast<std::size_t>(count)) {
        note_failure();
    }
    return count;
}

int DroppingFileBuffer::sync() {
    if (file_ != nullptr && first_error_ == 0 && std::fflush(file_) != 0) {
        note_failure();
    }
    return 0;
}

void DroppingFileBuffer::note_failure() {
    if (first_error_ == 0) {
        first_error_ = errno != 0 ? errno : EIO;
    }
}
