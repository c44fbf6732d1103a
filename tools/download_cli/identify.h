#pragma once

#include <iosfwd>

#include "tools/download_cli/cli_options.h"

// --identify: which modem answers on the ports of options and which image it would get,
// without changing anything in it. Text (or with --json one JSON object per search) on out;
// ports that could not be opened, and searches where no modem answered, on err. With
// --ports or --all-ports every port is a search of its own. Returns the exit status: 0 when
// in every search a modem answered and a valid image is known for it, 1 otherwise, 64 when
// a port name cannot be used.
int run_identify(const CliOptions& options, std::ostream& out, std::ostream& err);
