#include "tools/download_cli/cli_options.h"

#include <CLI/CLI.hpp>

// KORVAN_VERSION comes from the build (the project's version).
std::optional<CliOptions> parse_cli_options(int argc, char** argv, int& exit_code) {
    CliOptions options;
    CLI::App app{
        "Writes a firmware image into a modem on a serial port. Searches COM3, COM4, COM2, "
        "COM1, COM5..COM9 at 115200 and 57600 baud, picks the image from ./modems.cfg or asks "
        "for it on standard input, and reports every step on standard output.\n"
        "On Linux COMn is the device named by the environment variable KORVAN_COM<n>, "
        "else the machine's serial device numbered COMn (see --list-ports).\n"
        "Exit status: 0 download complete, 1 download failed, 2 download file prompt "
        "cancelled (end of input), 64 usage error.",
        "korvan-download-cli"};
    app.add_option("--port", options.port_device,
                   "Search only this serial device (both speeds) instead of COM1..COM9")
        ->type_name("DEVICE");
    app.add_option("--image", options.image_path,
                   "Download image to write; takes the place of ./modems.cfg and is still "
                   "validated (an invalid image leads to the download file prompt)")
        ->type_name("FILE");
    app.add_option("--trace", options.trace_path,
                   "Write every byte to and from the serial port, with times and packet "
                   "names, to this file")
        ->type_name("FILE");
    CLI::Option* list =
        app.add_flag("--list-ports", options.list_ports,
                     "List the serial devices, their COM numbers and whether they are free, "
                     "then exit");
    app.add_flag("--json", options.json, "With --list-ports: the list as JSON")->needs(list);
    app.set_version_flag("--version", std::string("korvan-download-cli ") + KORVAN_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help and version exit with 0; a usage error must not look like a download outcome.
        exit_code = app.exit(error) == 0 ? 0 : EXIT_USAGE_ERROR;
        return std::nullopt;
    }
    return options;
}
