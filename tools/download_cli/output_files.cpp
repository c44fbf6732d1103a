#include "tools/download_cli/output_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tools/download_cli/printable_text.h"
#include "tools/output_file_check/output_file_check.h"

namespace fs = std::filesystem;

namespace {

std::string file_refusal(const std::string& option, const std::string& path,
                         const CliOptions& options) {
    const std::string why = output_file_refusal(path, options.image_path);
    return why.empty() ? why : option + ' ' + printable(path) + ' ' + why;
}

std::string trace_directory_refusal(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return {};
    }
    return "--trace " + printable(path) +
           " is not a directory: with several ports it names the directory that gets one "
           "trace file per run";
}

}  // namespace

std::string output_files_refusal(const CliOptions& options) {
    if (!options.report_path.empty()) {
        if (std::string why = file_refusal("--report", options.report_path, options);
            !why.empty()) {
            return why;
        }
    }
    if (options.trace_path.empty()) {
        return {};
    }
    // Only a station runs a download per port; --identify probes every port in one process,
    // into one trace file.
    const bool trace_per_run = options.is_production_line() && !options.identify;
    return trace_per_run ? trace_directory_refusal(options.trace_path)
                         : file_refusal("--trace", options.trace_path, options);
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
