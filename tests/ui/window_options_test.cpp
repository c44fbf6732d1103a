#include "ui/window_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/command_line.h"
namespace {

struct Parsed {
    bool run = false;
    int exit_code = -1;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<std::string> arguments) {
    CommandLine line("korvan-download", std::move(arguments));
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed;
    parsed.run =
        parse_window_options(line.argc(), line.argv(), out, err, parsed.exit_code).has_value();
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

TEST(WindowOptions, WithoutOptionsTheWindowRuns) {
    const Parsed parsed = parse({});
    EXPECT_TRUE(parsed.run);
    EXPECT_EQ(parsed.out + parsed.err, "");
}

TEST(WindowOptions, HelpAndVersionPrintAndExitWithZero) {
    const Parsed version = parse({"--version"});
    EXPECT_FALSE(version.run);
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("korvan-download ") + KORVAN_VERSION + "\n");

    const Parsed help = parse({"--help"});
    EXPECT_FALSE(help.run);
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
}

TEST(WindowOptions, AnythingElseIsAUsageErrorAndOpensNoWindow) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--port", "COM3"}, {"image.dl"}, {"--display=:0"}}) {
        const Parsed parsed = parse(arguments);
        EXPECT_FALSE(parsed.run) << arguments[0];
        EXPECT_EQ(parsed.exit_code, WINDOW_USAGE_ERROR) << arguments[0];
        EXPECT_NE(parsed.err, "") << arguments[0];
    }
}

TEST(WindowOptions, ATraceOnTheModemMapIsAUsageErrorAndLeavesItWhole) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("window_options_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    const std::string map_text = "KORVAN firmware.dl\n";
    std::ofstream("modems.cfg", std::ios::binary) << map_text;

    const Parsed parsed = parse({"--trace", "modems.cfg"});

    std::ifstream map("modems.cfg", std::ios::binary);
    const std::string map_after{std::istreambuf_iterator<char>(map), {}};
    std::filesystem::current_path(before);
    std::filesystem::remove_all(folder);
    EXPECT_FALSE(parsed.run);
    EXPECT_EQ(parsed.exit_code, WINDOW_USAGE_ERROR);
    EXPECT_NE(parsed.err.find("modem map"), std::string::npos) << parsed.err;
    EXPECT_EQ(map_after, map_text);
}

}  // namespace
