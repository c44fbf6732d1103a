#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "station/port_run.h"
#include "tests/support/command_line.h"
#include "ui/station/adapter_labels.h"
#include "ui/station/header_model.h"
#include "ui/station/image_source.h"
#include "ui/station/station_options.h"
#include "ui/station/tile_model.h"

namespace {

using namespace std::chrono_literals;

const std::chrono::steady_clock::time_point NOW{1000s};

PortRun waiting() {
    PortRun run;
    run.port = "COM3";
    run.step = "Waiting for a modem...";
    run.started_steady = NOW - 40s;
    return run;
}

// A download on the port that began 65 s ago and has reached its modem.
PortRun running() {
    PortRun run = waiting();
    run.started = std::chrono::system_clock::now();
    run.started_steady = NOW - 65s;
    run.identification = "KORVAN 56K V.90 MODEM";
    run.step = "Programming modem...";
    run.records = 112;
    return run;
}

PortRun ended(const char* result, const char* message) {
    PortRun run = running();
    run.result = result;
    run.message = message;
    run.ended = std::chrono::system_clock::now();
    run.seconds = 75;
    return run;
}

struct Expected {
    PortRun run;
    TileState state;
    TileColour colour;
    std::string word;
    std::string detail;
    std::string elapsed;
};

TEST(StationTile, EachStateHasItsWordColourAndDetail) {
    PortRun busy = waiting();
    busy.holder = "in use by ModemManager (pid 812)";
    PortRun busy_attempt = busy;  // the next try on it, its modem not reached yet
    busy_attempt.started = std::chrono::system_clock::now();
    busy_attempt.step = "Searching for modem...";
    PortRun complete = ended(RESULT_COMPLETE, "Download complete!  (1a2b)");
    complete.records = 224;
    complete.checksum = "1a2b";
    PortRun no_modem_try = waiting();  // the try's outcome, before the station decided
    no_modem_try.started = std::chrono::system_clock::now();
    no_modem_try.result = RESULT_NO_MODEM;
    no_modem_try.message = "no modem answered";
    PortRun no_modem = no_modem_try;  // given up on: it counts
    no_modem.ended = std::chrono::system_clock::now();
    const std::vector<Expected> cases = {
        {waiting(), TileState::waiting, TileColour::grey, "waiting", "", ""},
        {busy, TileState::busy, TileColour::amber, "busy", "in use by ModemManager (pid 812)", ""},
        {busy_attempt, TileState::busy, TileColour::amber, "busy",
         "in use by ModemManager (pid 812)", ""},
        {running(), TileState::running, TileColour::blue, "running", "", "1:05"},
        {complete, TileState::complete, TileColour::green, "complete", "checksum total 1a2b",
         "1:15"},
        {ended(RESULT_FAILED, "Could not program modem!"), TileState::failed, TileColour::red,
         "failed", "Could not program modem!", "1:15"},
        {ended(RESULT_CANCELLED, "Download file not specified!"), TileState::no_image,
         TileColour::red, "no image", "Download file not specified!", "1:15"},
        {no_modem_try, TileState::waiting, TileColour::grey, "waiting", "", "0:40"},
        {no_modem, TileState::failed, TileColour::red, "failed", "no modem answered", "0:00"},
    };
    for (const Expected& expected : cases) {
        const Tile tile = tile_of(expected.run, "", NOW);
        SCOPED_TRACE(expected.word + " " + expected.detail);
        EXPECT_EQ(tile.state, expected.state);
        EXPECT_EQ(tile.colour, expected.colour);
        EXPECT_EQ(tile.word, expected.word);
        EXPECT_EQ(tile.detail, expected.detail);
        EXPECT_EQ(tile.elapsed, expected.elapsed);
    }
    const TileRgb red = rgb_of(TileColour::red);
    const TileRgb green = rgb_of(TileColour::green);
    EXPECT_NE(std::vector<int>({red.red, red.green, red.blue}),
              std::vector<int>({green.red, green.green, green.blue}));
}

TEST(StationTile, TextFromOutsideIsShownEscaped) {
    PortRun run = ended(RESULT_FAILED, "bad\x1b]0;x\x07");
    run.port = "/dev/ttyUSB0";
    run.identification = "ACME\r\nMODEM";
    const Tile tile = tile_of(run, "usb-FTDI\n", NOW);
    EXPECT_EQ(tile.identification, "ACME\\x0d\\x0aMODEM");
    EXPECT_EQ(tile.adapter, "usb-FTDI\\x0a");
    EXPECT_EQ(tile.detail, "bad\\x1b]0;x\\x07");
    EXPECT_EQ(tile.records_text, "112/224");

    AdapterIdentity adapter{"0403", "6001",
                            "A5\x1b"
                            "0",
                            ""};
    EXPECT_EQ(adapter_label(adapter), "USB serial A5\\x1b0");
    adapter.by_id = "usb-FTDI_FT232R_A50-if00-port0";
    EXPECT_EQ(adapter_label(adapter), "usb-FTDI_FT232R_A50-if00-port0");
    EXPECT_EQ(adapter_label(AdapterIdentity{}), "");
}

// A replugged port may lead to another adapter: its label is asked for again at each new
// download, and only then.
TEST(StationTile, AdapterLabelIsLookedUpOncePerDownload) {
    std::vector<std::string> asked;
    AdapterLabels labels([&asked](const std::string& device) {
        asked.push_back(device);
        return "adapter " + std::to_string(asked.size());
    });
    PortRun run = running();
    run.device = "/dev/ttyUSB0";
    EXPECT_EQ(labels.label_of(run), "adapter 1");
    EXPECT_EQ(labels.label_of(run), "adapter 1");
    run.started += 90s;
    EXPECT_EQ(labels.label_of(run), "adapter 2");
    EXPECT_EQ(labels.label_of(run), "adapter 2");
    EXPECT_EQ(asked, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB0"}));
}

TEST(StationHeader, SaysImageReportTotalsAndPause) {
    HeaderFacts facts;
    facts.flashed = 12;
    facts.completed = 11;
    facts.running_for = 20min;
    facts.modems_cfg = "/bench/modems.cfg";
    Header header = header_of(facts);
    EXPECT_EQ(header.image, "Image: from /bench/modems.cfg");
    EXPECT_EQ(header.report, "Report: none");
    EXPECT_EQ(header.totals, "Flashed 12   Complete 11   Failed 1   36 per hour");
    EXPECT_EQ(header.state, "Watching for modems");

    facts.image_path = "/srv/fw\t.dl";
    facts.image_checksum = "1a2b";
    facts.report_path = "/srv/report.jsonl";
    facts.paused = true;
    facts.running = 2;
    header = header_of(facts);
    EXPECT_EQ(header.image, "Image: /srv/fw\\x09.dl (checksum total 1a2b)");
    EXPECT_EQ(header.report, "Report: /srv/report.jsonl");
    facts.report_failed = true;
    EXPECT_EQ(header_of(facts).report,
              "Report: /srv/report.jsonl   NOT WRITTEN: a report line could not be written "
              "(see Details)");
    EXPECT_EQ(header.state, "Paused: no new flash starts; the 2 flashes in progress finish");
    facts.closing = true;
    facts.running = 1;
    EXPECT_EQ(header_of(facts).state, "Closing once the flash in progress finishes");
    facts.ports = 40;
    facts.tiles = 32;
    EXPECT_EQ(header_of(facts).state,
              "Closing once the flash in progress finishes; 8 of 40 ports have no tile");
    EXPECT_EQ(flashes_per_hour(0, 0s), 0);
    // A port still looking for a modem is no flash to warn about.
    EXPECT_EQ(close_question(2, 0).rfind("2 ports are being checked for a modem", 0), 0u);
    EXPECT_EQ(close_question(2, 1).rfind("A flash is in progress", 0), 0u);
}

// Run in a folder of its own: the station reads ./modems.cfg.
TEST(StationImageSource, ModemsCfgMustBeThereAndNameAnImageElseImageMustBeValid) {
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("korvan-images-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);

    const ImageSource missing = check_image_source("");
    EXPECT_NE(missing.problem.find("no modems.cfg"), std::string::npos) << missing.problem;
    EXPECT_EQ(missing.modems_cfg, (std::filesystem::current_path() / "modems.cfg").string());
    std::ofstream("modems.cfg") << "only-one-word\n\n";
    EXPECT_NE(check_image_source("").problem.find("names no image"), std::string::npos);
    std::ofstream("modems.cfg") << "only-one-word\n\"KORVAN 56K\" fw.dl\n";
    EXPECT_EQ(check_image_source("").problem, "");
    std::ofstream("fw.dl") << "too short";
    EXPECT_NE(check_image_source("fw.dl").problem.find("fw.dl: "), std::string::npos);

    std::filesystem::current_path(before);
    std::filesystem::remove_all(folder);
}

struct Parsed {
    bool run = false;
    int exit_code = -1;
    StationOptions options;
    std::string err;
};

Parsed parse(std::vector<std::string> arguments) {
    CommandLine line("korvan-station", std::move(arguments));
    std::ostringstream out;
    std::ostringstream err;
    Parsed parsed;
    auto options = parse_station_options(line.argc(), line.argv(), out, err, parsed.exit_code);
    parsed.run = options.has_value();
    if (options) {
        parsed.options = *options;
    }
    parsed.err = err.str();
    return parsed;
}

// More names than a window has tiles for, each of its own device (none exists).
std::string thirty_three_ports() {
    std::string ports = "/nonexistent/0";
    for (int index = 1; index < 33; ++index) {
        ports += ",/nonexistent/" + std::to_string(index);
    }
    return ports;
}

TEST(StationOptions, PortsOrEveryPortAndTheirMistakes) {
    const Parsed every = parse({});
    ASSERT_TRUE(every.run);
    EXPECT_TRUE(every.options.all_ports);

    const Parsed named = parse(
        {"--ports", "COM3,/dev/ttyUSB0", "--image", "fw.dl", "--port-filter", "vid=0403,pid=6001"});
    ASSERT_TRUE(named.run);
    EXPECT_FALSE(named.options.all_ports);
    EXPECT_EQ(named.options.ports, (std::vector<std::string>{"COM3", "/dev/ttyUSB0"}));
    EXPECT_EQ(named.options.image_path, "fw.dl");
    ASSERT_EQ(named.options.port_filters.size(), 1u);
    EXPECT_EQ(describe_port_filter(named.options.port_filters[0]), "vid=0403,pid=6001");

    for (const auto& wrong :
         std::vector<std::vector<std::string>>{{"--ports", "COM3,,COM4"},
                                               {"--port-filter", "pid=6001"},
                                               {"--ports", "COM3", "--all-ports"},
                                               {"--trace", "/proc/version"},
                                               {"--report", "/proc"},
                                               {"--watch"},
                                               {"--ports", "/dev/null,/dev/./null"},
                                               {"--ports", thirty_three_ports()}}) {
        const Parsed parsed = parse(wrong);
        SCOPED_TRACE(wrong.front() + " " + wrong.back());
        EXPECT_FALSE(parsed.run);
        EXPECT_EQ(parsed.exit_code, STATION_USAGE_ERROR);
        EXPECT_NE(parsed.err.find("korvan-station"), std::string::npos) << parsed.err;
    }
}

}  // namespace
