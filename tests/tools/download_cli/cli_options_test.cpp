#include "tools/download_cli/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/command_line.h"
namespace {

std::optional<CliOptions> parse(std::vector<std::string> arguments, int& exit_code) {
    CommandLine line("korvan-download-cli", std::move(arguments));
    return parse_cli_options(line.argc(), line.argv(), exit_code);
}

TEST(CliOptions, NoArgumentsSearchEveryPortWithoutPresetImage) {
    int exit_code = -1;
    const auto options = parse({}, exit_code);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->port_device, "");
    EXPECT_EQ(options->image_path, "");
}

TEST(CliOptions, PortAndImageAreTaken) {
    int exit_code = -1;
    const auto options = parse({"-p", "/dev/pts/7", "--image=fw v2.dl"}, exit_code);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->port_device, "/dev/pts/7");
    EXPECT_EQ(options->image_path, "fw v2.dl");
}

TEST(CliOptions, VersionAndHelpExitWithZero) {
    int exit_code = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(parse({"--version"}, exit_code));
    const std::string version = testing::internal::GetCapturedStdout();
    EXPECT_EQ(exit_code, 0);
    EXPECT_EQ(version.rfind("korvan-download-cli ", 0), 0u) << version;

    exit_code = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(parse({"--help"}, exit_code));
    const std::string help = testing::internal::GetCapturedStdout();
    EXPECT_EQ(exit_code, 0);
    // Each option's description beside it, not a list of the options it excludes.
    EXPECT_NE(help.find("-p,--port DEVICE        Search only this serial device"),
              std::string::npos)
        << help;
    EXPECT_EQ(help.find("Excludes"), std::string::npos) << help;
    EXPECT_NE(help.find("--image"), std::string::npos);
}

TEST(CliOptions, UsageErrorsHaveTheirOwnExitStatus) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--baud", "9600"},
                                                      {"--port"},
                                                      {"extra"},
                                                      {"--json"},
                                                      {"--identify", "--events"},
                                                      {"-p", "COM3", "--all-ports"},
                                                      {"--ports", ""}}) {
        int exit_code = -1;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(parse(arguments, exit_code));
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(exit_code, EXIT_USAGE_ERROR);
        EXPECT_NE(errors.find("Usage: korvan-download-cli"), std::string::npos) << errors;
    }
}

}  // namespace
