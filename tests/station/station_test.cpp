// The station driven as a window drives it, step(0) from a timer, with a stand-in download
// program that ends when the test lets it.
#include "station/station.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_system_tree.h"

namespace {

namespace fs = std::filesystem;

// Says it reached a modem, then completes once the file <device>.release exists.
constexpr char STAND_IN_DOWNLOAD[] = R"(#!/bin/sh
device=$2
echo '{"event":"identification","text":"STAND-IN MODEM"}'
while [ ! -e "$device.release" ]; do sleep 0.01; done
echo '{"event":"outcome","result":"complete","text":"Download complete","records":224}'
)";

class RecordingView final : public StationView {
  public:
    void show_event(const PortRun& run, const nlohmann::ordered_json& event) override {
        events.push_back(run.port + " " + text_member(event, "event"));
    }
    void show_note(const std::string& port, const std::string& text) override {
        notes.push_back(port + ": " + text);
    }
    void show_modem_gone(const std::string& port) override { gone.push_back(port); }
    void show_ports(const std::vector<const PortRun*>&) override {}

    std::vector<std::string> events;
    std::vector<std::string> notes;
    std::vector<std::string> gone;
};

class StationSteps : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("korvan-station-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        program_ = (folder_ / "download").string();
        std::ofstream(program_) << STAND_IN_DOWNLOAD;
        fs::permissions(program_, fs::perms::owner_all);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // A port whose device is a plain file: there once plugged in.
    std::string port(const std::string& name) const { return (folder_ / name).string(); }
    static void plug_in(const std::string& device) { std::ofstream{device}; }
    static void let_finish(const std::string& device) { std::ofstream{device + ".release"}; }

    StationSettings watching(std::vector<std::string> ports) const {
        StationSettings settings;
        settings.ports = std::move(ports);
        settings.watch = true;
        settings.program_path = program_;
        return settings;
    }

    // Steps as a window's timer would until done holds; a bound keeps a broken station from
    // hanging the test.
    static bool step_until(Station& station, const std::function<bool()>& done) {
        for (int tries = 0; tries < 1000 && !done(); ++tries) {
            station.step(10);
        }
        return done();
    }

    fs::path folder_;
    std::string program_;
    RecordingView view_;
};

TEST_F(StationSteps, PausedWatchStartsNoDownloadUntilResumed) {
    const std::string a = port("a");
    Station station(watching({a}), view_);
    std::string error;
    ASSERT_TRUE(station.start(error)) << error;
    station.set_paused(true);
    plug_in(a);
    for (int look = 0; look < 3; ++look) {
        station.step(0);
    }
    EXPECT_EQ(station.running_count(), 0);
    EXPECT_EQ(station.current_runs().at(0)->step, "Waiting for a modem...");

    station.set_paused(false);
    station.step(0);
    EXPECT_EQ(station.running_count(), 1);
    let_finish(a);
    ASSERT_TRUE(step_until(station, [&] { return station.running_count() == 0; }));
    EXPECT_EQ(view_.events, (std::vector<std::string>{a + " identification", a + " outcome"}));
    EXPECT_EQ(station.flashed_count(), 1);
    EXPECT_EQ(station.completed_count(), 1);
    EXPECT_FALSE(station.finished());  // watching goes on until stopped
    station.stop_when_idle();
    EXPECT_TRUE(station.finished());
    EXPECT_EQ(station.exit_status(), 0);
}

TEST_F(StationSteps, StopWhenIdleLetsTheRunningDownloadFinishAndStartsNoOther) {
    const std::string a = port("a");
    const std::string b = port("b");
    plug_in(a);
    Station station(watching({a, b}), view_);
    std::string error;
    ASSERT_TRUE(station.start(error)) << error;
    station.step(0);
    ASSERT_EQ(station.running_count(), 1);

    station.stop_when_idle();
    plug_in(b);
    for (int look = 0; look < 3; ++look) {
        station.step(0);
    }
    EXPECT_EQ(station.running_count(), 1);
    EXPECT_FALSE(station.finished());
    EXPECT_EQ(station.current_runs().at(1)->step, "Waiting for a modem...");

    let_finish(a);
    ASSERT_TRUE(step_until(station, [&] { return station.finished(); }));
    const std::vector<PortRun> runs = station.last_runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].port, a);
    EXPECT_EQ(runs[0].result, RESULT_COMPLETE);
    EXPECT_EQ(station.exit_status(), 0);
}

TEST_F(StationSteps, DownloadProgramThatCannotStartIsRefusedAtStartOrFailsARunThatEnds) {
    const std::string a = port("a");
    StationSettings settings = watching({a});
    settings.program_path = (folder_ / "no-such-program").string();
    {
        Station station(settings, view_);
        std::string error;
        EXPECT_FALSE(station.start(error));
        EXPECT_NE(error.find(settings.program_path), std::string::npos) << error;
    }

    // There at the start, gone when a modem appears (a package upgrade halfway).
    Station station(watching({a}), view_);
    std::string error;
    ASSERT_TRUE(station.start(error)) << error;
    fs::remove(program_);
    plug_in(a);
    ASSERT_TRUE(step_until(station, [&] { return station.flashed_count() == 1; }));
    const PortRun run = station.last_runs().at(0);
    EXPECT_EQ(run.result, RESULT_FAILED);
    EXPECT_NE(run.message.find(program_), std::string::npos) << run.message;
    // Ended, so its report line has an end and its tile's clock stops.
    EXPECT_GE(run.ended, run.started);
}

// Linux numbers COM ports in the order of the USB sockets: an adapter plugged into a lower
// socket later takes the COM number a port of the station already goes by.
TEST_F(StationSteps, EveryPortKeepsANameOfItsOwnWhenComNumbersMove) {
    FakeSystemTree machine;
    ::setenv("KORVAN_SYSTEM_ROOT", machine.root().c_str(), 1);
    const auto plug_adapter = [&](const std::string& name, int socket) {
        machine.add_usb_serial(name, socket, "ftdi_sio", "0403", "6001", "FTDI", "FT232R", "");
        plug_in(port(name));
        machine.add_dev_link(name, port(name));
    };
    StationSettings settings = watching({});
    settings.all_ports = true;
    Station station(settings, view_);
    std::string error;
    ASSERT_TRUE(station.start(error)) << error;
    plug_adapter("ttyUSB0", 3);
    station.step(0);
    plug_adapter("ttyUSB1", 2);
    station.step(0);

    std::vector<std::string> names;
    for (const PortRun* run : station.current_runs()) {
        names.push_back(run->port);
        let_finish(run->device);
    }
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0], names[1]);
    EXPECT_TRUE(step_until(station, [&] { return station.running_count() == 0; }));
    ::unsetenv("KORVAN_SYSTEM_ROOT");
}

}  // namespace
