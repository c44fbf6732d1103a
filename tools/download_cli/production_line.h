#pragma once

#include "tools/download_cli/cli_options.h"

// The production line (--ports, --all-ports): one ordinary single-port download per port,
// each in a child process of this program reporting through its event stream, all at
// once; with --watch, a station flashing each modem that appears. Exit status 0 only when
// every download completed, 1 otherwise.
int run_production_line(const CliOptions& options);
