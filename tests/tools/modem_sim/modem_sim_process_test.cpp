// The simulator binary on a real pty, driven from a raw terminal descriptor as a host would.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/tools/modem_sim/protocol_bytes.h"
#include "tests/tools/modem_sim/sim_process.h"
#include "tools/image_tool/image_builder.h"

namespace {

using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr milliseconds PATIENCE{5000};

class ModemSimProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("modem_sim_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        log_path = (dir / "sim.log").string();
    }
    void TearDown() override {
        sim.reset();
        fs::remove_all(dir);
    }

    // Starts the simulator; the host end is opened on the path it prints first.
    void start(std::vector<std::string> options) {
        std::vector<std::string> args{KORVAN_MODEM_SIM, "--log", log_path};
        args.insert(args.end(), options.begin(), options.end());
        sim = std::make_unique<SimProcess>(args);
        auto path = sim->read_line(PATIENCE);
        ASSERT_TRUE(path) << "no device path printed";
        line_path = *path;
        host = std::make_unique<HostLine>(line_path);
        ASSERT_TRUE(host->is_open()) << line_path;
        host->set_speed(B115200);
    }

    std::string command(const std::string& text, std::size_t reply_size) {
        host->write_text(text);
        return text_of(host->read_bytes(reply_size, PATIENCE));
    }
    Bytes request(const Bytes& bytes, std::size_t reply_size) {
        host->write_bytes(bytes);
        return host->read_bytes(reply_size, PATIENCE);
    }

    std::string summary_after_stop() {
        int status = sim->stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        return sim->read_line(PATIENCE).value_or("");
    }

    fs::path dir;
    std::string log_path;
    std::string line_path;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<HostLine> host;
};

std::string summary(std::size_t records, std::uint16_t total) {
    char text[80];
    std::snprintf(text, sizeof text, "modem-sim: records programmed %zu, checksum total %04x",
                  records, total);
    return text;
}

TEST_F(ModemSimProcessTest, AnswersOnlyAtTheDefaultSpeeds) {
    start({});
    host->set_speed(B9600);
    host->write_text("AT\r");
    ASSERT_TRUE(wait_for_line_in_file(log_path, "garbled 3 bytes at 9600 baud", PATIENCE));
    host->set_speed(B115200);
    host->write_text("AT\r");
    // Had the AT sent at 9600 been answered, its answer would come first.
    std::string expected = "AT\r\r\nOK\r\nATZ\r\r\nOK\r\n";
    EXPECT_EQ(command("ATZ\r", expected.size()), expected);
    host->set_speed(B57600);
    EXPECT_EQ(command("AT\r", 9), "AT\r\r\nOK\r\n");
}

// For a host whose line speed never reaches this end, such as a virtual machine's UART.
TEST_F(ModemSimProcessTest, AnyBaudsAnswersAtASpeedOfNoList) {
    start({"--bauds", "any"});
    host->set_speed(B9600);
    EXPECT_EQ(command("AT\r", 9), "AT\r\r\nOK\r\n");
}

TEST_F(ModemSimProcessTest, ModemOnlyFor57600IgnoresTheHigherSpeed) {
    start({"--bauds", "57600", "--model", "SLOW 57K"});
    host->write_text("ATI3\r");
    ASSERT_TRUE(wait_for_line_in_file(log_path, "garbled 5 bytes at 115200 baud", PATIENCE));
    host->set_speed(B57600);
    host->write_text("ATI3\r");
    std::string expected = "ATI3\r\r\nSLOW 57K\r\n\r\nOK\r\nAT\r\r\nOK\r\n";
    EXPECT_EQ(command("AT\r", expected.size()), expected);
}

TEST_F(ModemSimProcessTest, ProgrammedRunLeavesTheImageInFlash) {
    std::string flash_path = (dir / "flash.dl").string();
    std::string link_path = (dir / "modem").string();
    ImageBytes image = build_image({.seed = 42, .random_tags = true});
    start({"--erase-ms", "5", "--flash-out", flash_path, "--link", link_path});
    EXPECT_EQ(fs::read_symlink(link_path), line_path);

    EXPECT_EQ(command("AT*D\r", 11), "AT*D\r\r\nOK\r\n");
    Bytes configure_reply = request(command_packet(0x0100, 0), 16);
    ASSERT_EQ(configure_reply.size(), 16u);
    ASSERT_TRUE(check_field_matches(configure_reply.data(), 14));
    Bytes erase_reply = request(erase_packet(configure_reply.data() + 2), 16);
    ASSERT_EQ(erase_reply.size(), 16u);
    for (std::size_t index = 0; index < IMAGE_GOOD_RECORDS; ++index) {
        auto record = image.begin() + static_cast<long>(index * IMAGE_RECORD_BYTES);
        Bytes ack = request(Bytes(record, record + IMAGE_RECORD_BYTES), 4);
        ASSERT_EQ(ack, with_check_field({record[0], record[1]})) << "record " << index + 1;
    }
    Bytes restore_reply =
        request(command_packet(0x0300, read_le16(configure_reply.data() + 12)), 16);
    ASSERT_EQ(restore_reply.size(), 16u);
    EXPECT_EQ(command("ATZ\r", 10), "ATZ\r\r\nOK\r\n");

    EXPECT_EQ(summary_after_stop(), summary(224, image_checksum_total(image)));
    EXPECT_EQ(read_image_file(flash_path), image);
    EXPECT_FALSE(fs::is_symlink(link_path)) << "link removed on exit";
}

TEST_F(ModemSimProcessTest, HangupAtARecordClosesTheLineAndExits) {
    std::string link_path = (dir / "modem").string();
    ImageBytes image = build_image({.records = 3});
    start({"--ignore-at", "--hangup-at", "2", "--link", link_path});
    Bytes first(image.begin(), image.begin() + IMAGE_RECORD_BYTES);
    ASSERT_EQ(request(first, 4).size(), 4u);
    host->write_bytes(
        Bytes(image.begin() + IMAGE_RECORD_BYTES, image.begin() + 2 * IMAGE_RECORD_BYTES));
    EXPECT_TRUE(host->wait_hangup(PATIENCE));
    auto status = sim->wait_exit(PATIENCE);
    ASSERT_TRUE(status) << "the simulator exits by itself";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_EQ(sim->read_line(PATIENCE), summary(1, image_checksum_total(image, 1)));
    EXPECT_FALSE(fs::is_symlink(link_path));
    EXPECT_TRUE(wait_for_line_in_file(log_path, "hangup at record 2", PATIENCE));
}

TEST_F(ModemSimProcessTest, ExistingDeviceListensAtTheFastestSpeedAndFollowsItsSettings) {
    // The device is a pty's slave; the test holds the master, whose settings are the
    // slave's. A fresh pty runs at 38400, where the modem would understand nothing.
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    host = HostLine::adopt(master);
    const std::string device = ttyname(slave);
    sim = std::make_unique<SimProcess>(
        std::vector<std::string>{KORVAN_MODEM_SIM, "--log", log_path, "--device", device});
    EXPECT_EQ(sim->read_line(PATIENCE), device);
    close(slave);

    EXPECT_EQ(command("AT\r", 9), "AT\r\r\nOK\r\n");
    host->set_speed(B9600);
    host->write_text("AT\r");
    EXPECT_TRUE(wait_for_line_in_file(log_path, "garbled 3 bytes at 9600 baud", PATIENCE));
}

TEST_F(ModemSimProcessTest, LineRateTakesTheTimeOfARealLine) {
    start({"--line-rate", "2400", "--model", "PACED"});
    std::string expected = "ATI3\r\r\nPACED\r\n\r\nOK\r\n";
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(command("ATI3\r", expected.size()), expected);
    auto taken = std::chrono::steady_clock::now() - begin;
    // 5 bytes in, then 20 out, at 240 bytes per second: no less than 104.2 ms. Generous
    // above, since a loaded machine only makes it slower.
    EXPECT_GE(taken, milliseconds(104));
    EXPECT_LT(taken, milliseconds(3000));
}

}  // namespace

namespace {

class ImageToolProcessTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("image_tool_test_" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // The tool's first output line and its exit status.
    std::pair<std::string, int> run(std::vector<std::string> args) {
        args.insert(args.begin(), KORVAN_IMAGE_TOOL);
        SimProcess tool(args);
        std::string line = tool.read_line(PATIENCE).value_or("");
        auto status = tool.wait_exit(PATIENCE);
        return {line, status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1};
    }

    fs::path dir;
};

TEST_F(ImageToolProcessTest, MakesTheImageTheLibraryBuildsAndSumsIt) {
    std::string path = (dir / "image.dl").string();
    EXPECT_EQ(run({"make", path, "--seed", "9", "--random-tags", "--tail", "10"}).second, 0);
    ImageBytes expected = build_image({.seed = 9, .random_tags = true, .tail_bytes = 10});
    EXPECT_EQ(read_image_file(path), expected);

    char total[8];
    std::snprintf(total, sizeof total, "%04x", image_checksum_total(expected));
    EXPECT_EQ(run({"checksum", path}), std::make_pair(std::string(total), 0));
}

TEST_F(ImageToolProcessTest, InfoTellsAValidImageFromAnInvalidOne) {
    std::string path = (dir / "corrupt.dl").string();
    EXPECT_EQ(run({"make", path, "--records", "224", "--corrupt", "100"}).second, 0);
    EXPECT_EQ(
        run({"info", path}),
        std::make_pair(
            std::string("bytes 230272, complete records 224, leading good records 99, invalid"),
            1));
    EXPECT_NE(run({"checksum", (dir / "missing.dl").string()}).second, 0);

    std::string truncated = (dir / "truncated.dl").string();
    EXPECT_EQ(run({"make", truncated}).second, 0);
    EXPECT_EQ(run({"info", truncated}).second, 0);
    fs::resize_file(truncated, 224 * 1028 - 1);
    EXPECT_EQ(
        run({"info", truncated}),
        std::make_pair(
            std::string("bytes 230271, complete records 223, leading good records 223, invalid"),
            1));
}

// A usage error ends with status 64, the error and the usage of the command it concerns on
// standard error, never with the parser's own status.
TEST_F(ImageToolProcessTest, ToolsExit64WithTheirUsageOnAUsageError) {
    struct Case {
        std::vector<std::string> args;
        std::string usage;
    };
    const std::vector<Case> cases = {
        {{KORVAN_IMAGE_TOOL, "--bogus"}, "Usage: korvan-image [OPTIONS] SUBCOMMAND"},
        {{KORVAN_IMAGE_TOOL}, "Usage: korvan-image [OPTIONS] SUBCOMMAND"},
        {{KORVAN_IMAGE_TOOL, "info"}, "Usage: korvan-image info [OPTIONS] file"},
        {{KORVAN_IMAGE_TOOL, "make", "x.dl", "--records", "many"},
         "Usage: korvan-image make [OPTIONS] out"},
        {{KORVAN_MODEM_SIM, "--bogus"}, "Usage: korvan-modem-sim [OPTIONS]"},
        {{KORVAN_MODEM_SIM, "--bauds", "fast"}, "Usage: korvan-modem-sim [OPTIONS]"},
    };
    for (const Case& c : cases) {
        // Standard error read through the shell, which joins it to standard output.
        std::vector<std::string> args{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SimProcess tool(args);
        std::string error = tool.read_line(PATIENCE).value_or("");
        std::string usage = tool.read_line(PATIENCE).value_or("");
        auto status = tool.wait_exit(PATIENCE);
        std::string name = fs::path(c.args[0]).filename().string();
        EXPECT_EQ(error.rfind(name + ": ", 0), 0u) << error;
        EXPECT_EQ(usage, c.usage) << error;
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 64)
            << name << " " << error;
    }
}

}  // namespace
