#pragma once

#include <string>

// Why path must not take a file a run writes (a trace, a report), or empty when it may: it
// is empty, one of the images the run may read (image_path when given, every image the
// working directory's modems.cfg names), modems.cfg itself, or no regular file. Writing
// such a file would wipe what the run needs or block on a reader that never comes.
std::string output_file_refusal(const std::string& path, const std::string& image_path);

// Why path is no place to write a file ("is a FIFO, not a regular file", ...); empty when
// it may be written. A missing file may be created. Per OS.
std::string unsafe_output_file(const std::string& path);
