// The production line's port lines on a terminal that narrows under them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/download_cli/line_display.h"

namespace {

TEST(LineDisplayWidth, LinesAreCutToTheTerminalAndANarrowerOneGetsAFreshFrame) {
    std::ostringstream out;
    int columns = 50;
    LineDisplay display(out, out, LineOutput::terminal, [&columns] { return columns; });
    PortRun run;
    run.port = "/dev/ttyUSB0";
    run.step = "Programming modem...";
    const auto now = std::chrono::steady_clock::now();
    run.started_steady = now;
    const std::vector<const PortRun*> runs = {&run, &run};

    display.redraw(runs, now);
    display.redraw(runs, now);
    columns = 30;
    display.redraw(runs, now);

    // Frames: two lines, two lines after moving up over them, two lines below those.
    const std::string text = out.str();
    EXPECT_EQ(text.find("\x1b[2A"), text.rfind("\x1b[2A"));
    std::vector<std::string> lines;
    std::stringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        line = line.substr(line.rfind("\x1b[2K") + 4);
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 6u);
    for (std::size_t index = 0; index < lines.size(); ++index) {
        EXPECT_EQ(lines[index].size(), index < 4 ? 49u : 29u) << lines[index];
        EXPECT_EQ(lines[index].rfind("/dev/ttyUSB0 ", 0), 0u);
    }
}

}  // namespace
