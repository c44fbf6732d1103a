#include "tools/download_cli/text_table.h"

#include <algorithm>
#include <ostream>

void write_aligned_table(std::ostream& out, const std::vector<std::vector<std::string>>& table) {
    if (table.empty()) {
        return;
    }
    std::vector<std::size_t> widths(table.front().size(), 0);
    for (const auto& cells : table) {
        for (std::size_t column = 0; column < cells.size() && column < widths.size(); ++column) {
            widths[column] = std::max(widths[column], cells[column].size());
        }
    }
    for (const auto& cells : table) {
        std::string line;
        for (std::size_t column = 0; column < cells.size(); ++column) {
            line += cells[column];
            if (column + 1 < cells.size() && column < widths.size()) {
                line += std::string(widths[column] - cells[column].size() + 2, ' ');
            }
        }
        out << line << '\n';
    }
}
