#pragma once

#include "tools/download_cli/cli_options.h"

// The ordinary single-port run reporting as an event stream on standard output (--events);
// what a production line runs once per port. Returns the exit status of the plain run.
int run_event_download(const CliOptions& options);
