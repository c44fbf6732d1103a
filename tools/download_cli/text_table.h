#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Rows of cells (the first row the headings) as left-aligned columns two spaces apart, one
// line each; the last column is not padded, so no line ends in blanks.
void write_aligned_table(std::ostream& out, const std::vector<std::vector<std::string>>& table);
