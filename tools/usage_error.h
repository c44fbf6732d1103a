#pragma once
// Command-line parsing for the helper tools (korvan-image, korvan-modem-sim): a usage error
// exits 64 like the download programs, never with CLI11's own codes (105 and up), which a
// script could not tell from a result of the program.

#include <cstdio>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

inline constexpr int TOOL_USAGE_ERROR = 64;

// Prints the error and the usage line of the (sub)command it concerns on standard error and
// returns the usage-error status.
inline int report_usage_error(const CLI::App& app, const std::string& error) {
    const CLI::App* failed = &app;
    std::string name = app.get_name();
    // The innermost subcommand named on the line, when the error is within it.
    while (!failed->get_subcommands().empty()) {
        failed = failed->get_subcommands().back();
        name += " " + failed->get_name();
    }
    std::string usage = CLI::Formatter().make_usage(failed, name);
    std::fprintf(stderr, "%s: %s\n%sRun with --help for more information.\n",
                 app.get_name().c_str(), error.c_str(), usage.c_str());
    return TOOL_USAGE_ERROR;
}

// Parses the command line. Returns the status to exit with when the program ends here:
// 0 after --help or --version, TOOL_USAGE_ERROR after a usage error; nothing otherwise.
inline std::optional<int> parse_tool_command_line(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& request) {
        return app.exit(request);
    } catch (const CLI::ParseError& error) {
        return report_usage_error(app, error.what());
    }
    return std::nullopt;
}
