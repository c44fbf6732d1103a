#include "ui/window_options.h"

#include <CLI/CLI.hpp>

#include "tools/output_file_check/output_file_check.h"

// KORVAN_VERSION comes from the build (the project's version).
std::optional<WindowOptions> parse_window_options(int argc, char** argv, std::ostream& out,
                                                  std::ostream& err, int& exit_code) {
    WindowOptions options;
    CLI::App app{
        "Writes a firmware image into a modem on a serial port, in a progress window. Searches "
        "COM3, COM4, COM2, COM1, COM5..COM9 at 115200 and 57600 baud, picks the image from "
        "./modems.cfg or asks for a download file, and shows every step on the window's "
        "status line. Leave with Exit once the run has ended.\n"
        "On Linux COMn is the device named by the environment variable KORVAN_COM<n>, "
        "else the machine's serial device numbered COMn (see korvan-download-cli --list-ports).",
        "korvan-download"};
    CLI::Option* trace =
        app.add_option("--trace", options.trace_path,
                       "Write every byte to and from the serial port, with times and packet "
                       "names, to this file")
            ->type_name("FILE");
    app.set_version_flag("--version", std::string("korvan-download ") + KORVAN_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        exit_code = app.exit(error, out, err) == 0 ? 0 : WINDOW_USAGE_ERROR;
        return std::nullopt;
    }
    // Refused before anything opens it: opening truncates, so the image or the modem map
    // would be lost, and a FIFO would hold the window until a reader came.
    if (trace->count() > 0) {
        if (const std::string why = output_file_refusal(options.trace_path, {}); !why.empty()) {
            err << "korvan-download: --trace " << options.trace_path << ' ' << why << '\n';
            exit_code = WINDOW_USAGE_ERROR;
            return std::nullopt;
        }
    }
    return options;
}
