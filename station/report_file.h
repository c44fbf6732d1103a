#pragma once

#include <string>

// Appends line (ending in '\n') to the file at path, creating the file when missing. The
// line goes out in one write at the end of the file, under a lock every station takes, so
// stations sharing one report never interleave their lines. No part of a line is left
// behind: a short write is taken back, and a line that would follow a part someone else
// left (a crash mid-write) starts on a line of its own. True once the line is on the disk;
// false, with the reason in error, otherwise.
bool append_line_durably(const std::string& path, const std::string& line, std::string& error);
