#pragma once

#include <string>

// The path of another program of this package installed beside the running one
// ("korvan-download-cli" next to korvan-station), with the system's program suffix. Empty
// when the running program's own path cannot be found. Per OS.
std::string sibling_program_path(const std::string& name);
