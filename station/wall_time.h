#pragma once

#include <chrono>
#include <string>

// A moment as ISO 8601 in UTC with milliseconds: 2026-12-07T15:04:18.123Z.
std::string iso8601_utc(std::chrono::system_clock::time_point moment);
// The same without separators, for a file name on any system: 20261207T150418.123Z.
std::string compact_utc_time(std::chrono::system_clock::time_point moment);
