#include "engine/download_sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <utility>

#include "engine/block_checksum.h"
#include "engine/download_path.h"
#include "engine/download_protocol.h"
#include "tests/engine/image_files.h"
#include "tests/engine/recording_host.h"
#include "tests/support/fake_clock.h"
#include "tests/support/memory_modem.h"
#include "tests/support/memory_port.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::string>;
using Speeds = std::vector<std::pair<int, int>>;

constexpr unsigned TIMER_ID = 7;

// One COM port of the simulated machine: a line, maybe a modem at its far end.
struct SimulatedPort {
    MemoryLine line;
    std::unique_ptr<MemoryModem> modem;
    bool opens = true;
    bool refuses_115200 = false;

    MemoryModem& attach_modem(ModemSettings settings = test_modem_settings()) {
        modem = std::make_unique<MemoryModem>(line, std::move(settings));
        return *modem;
    }
};

class DownloadSequencerTest : public ::testing::Test {
  protected:
    DownloadSequencerTest() : host(clock) {
        for (int index = 0; index < 9; ++index) {
            ports[index].line.clock = &clock;
        }
        sequencer = std::make_unique<DownloadSequencer>(host, clock, TIMER_ID, factory());
        sequencer->set_modem_map_path(dir.path("modems.cfg").string());
        records = make_image_records(IMAGE_RECORD_COUNT);
    }
    ~DownloadSequencerTest() override {
        sequencer.reset();
        close_all_ports();  // failed opens are left for the exit-time clean-up
    }

    PortFactory factory() {
        PortFactory f;
        f.open = [this](const PortTableEntry& entry, int baud, char parity, int data_bits,
                        int stop_bits) {
            const int index = entry.index;
            EXPECT_EQ(baud, 9600);
            EXPECT_EQ(parity, 'N');
            EXPECT_EQ(data_bits, 8);
            EXPECT_EQ(stop_bits, 1);
            opened.push_back(index);
            PortObject* port = open_memory_port(ports[index].line, index);
            if (!ports[index].opens) {
                port->status = PORT_E_NO_PORT;
            }
            return port;
        };
        f.set_baud_rate = [this](PortObject* port, int baud) -> PortStatus {
            speeds.emplace_back(port->port_index, baud);
            SimulatedPort& simulated = ports[port->port_index];
            if (baud == 115200 && simulated.refuses_115200) {
                return PORT_E_BAD_BAUD;
            }
            if (simulated.modem) {
                simulated.modem->set_line_speed(static_cast<unsigned>(baud));
            }
            return PORT_OK;
        };
        return f;
    }

    // A modem on COM3 whose identification modems.cfg maps to a good image.
    MemoryModem& ready_modem(int index = 2, ModemSettings settings = test_modem_settings()) {
        image_path = dir.write_image("kv56.dl", records);
        dir.write_text("modems.cfg", "KV-56 " + image_path + "\n");
        return ports[index].attach_modem(std::move(settings));
    }

    // Starts a run and delivers ticks while the timer is armed.
    void run(int max_ticks = 1000) {
        sequencer->begin_run();
        tick_while_armed(max_ticks);
    }
    void tick_while_armed(int max_ticks = 1000) {
        while (host.timer_armed && ticks < max_ticks) {
            ++ticks;
            sequencer->OnTimer(TIMER_ID);
        }
    }
    // Starts a run if none is under way, then ticks until it reaches state.
    void tick_until_state(int state) {
        if (sequencer->state() == 0) {
            sequencer->begin_run();
        }
        while (host.timer_armed && sequencer->state() != state && ticks < 1000) {
            ++ticks;
            sequencer->OnTimer(TIMER_ID);
        }
    }

    std::uint16_t expected_total(std::size_t record_count) const {
        unsigned sum = 0;
        for (std::size_t i = 0; i < record_count; ++i) {
            sum += block_checksum(records[i].data() + 4, 1024);
        }
        return static_cast<std::uint16_t>(sum % 65536);
    }
    bool on_open_port_list(int index) const {
        for (PortObject* port = open_port_list_head(); port != nullptr; port = port->next) {
            if (port->driver == &ports.at(index).line) {
                return true;
            }
        }
        return false;
    }
    // What every end of a run must leave behind: nothing held, Close enabled once, no timer.
    void expect_run_ended_and_released(int port_index) {
        EXPECT_EQ(sequencer->state(), 0);
        EXPECT_EQ(sequencer->port(), nullptr);
        EXPECT_EQ(sequencer->image_file(), nullptr);
        EXPECT_FALSE(host.timer_armed);
        EXPECT_EQ(host.calls_starting_with("enable_close").size(), 1u);
        EXPECT_EQ(host.calls.back(), "enable_close");
        EXPECT_EQ(ports[port_index].line.close_calls, 1);
        EXPECT_FALSE(on_open_port_list(port_index));
    }

    FakeClock clock;
    RecordingHost host;
    TempDir dir;
    std::map<int, SimulatedPort> ports;
    std::vector<int> opened;
    Speeds speeds;
    std::vector<Bytes> records;
    std::string image_path;
    std::unique_ptr<DownloadSequencer> sequencer;
    int ticks = 0;
};

TEST_F(DownloadSequencerTest, SuccessfulRunShowsEveryStageAndReportsTheChecksumTotal) {
    MemoryModem& modem = ready_modem();
    run();

    std::ostringstream completion;
    completion << "outcome:Download complete!  (" << std::hex << std::setw(4) << std::setfill('0')
               << expected_total(IMAGE_RECORD_COUNT) << ")";
    EXPECT_EQ(host.messages(),
              (Calls{"wait:Configuring modem, please wait...:1000", "wait:Autobauding modem...:0",
                     "wait:Enabling download mode...:0", "wait:Validating download file...:1000",
                     "wait:Erasing modem program memory...:1000", "status:Programming modem...",
                     "wait:Restoring modem configuration...:1000", "wait:Resetting modem...:1000",
                     completion.str()}));
    EXPECT_EQ(host.beeps, 1);

    EXPECT_EQ(opened, (std::vector<int>{2}));
    EXPECT_EQ(speeds, (Speeds{{2, 115200}}));
    ASSERT_EQ(modem.packets().size(), 1u + 1u + 224u + 1u);
    EXPECT_EQ(modem.packets().front(), (Bytes{0x00, 0x01, 0x00, 0x00, 0x02, 0xA6}));
    EXPECT_EQ(modem.packets()[1], (Bytes{0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 0x25, 0x16}));
    EXPECT_EQ(modem.records(), records);
    EXPECT_EQ(modem.packets().back(), (Bytes{0x00, 0x03, 0x34, 0x12, 0xEB, 0xF1}));
    EXPECT_EQ(modem.commands().back(), "ATZ");

    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, EachTickStopsTheTimerAndOnlyASuccessfulStepRearmsIt) {
    ready_modem();
    run();
    // configure, validate, erase, 224 records, restore, completion
    EXPECT_EQ(ticks, 1 + 1 + 1 + 224 + 1 + 1);
    Calls timer_calls;
    for (const std::string& call : host.calls) {
        if (call.find("_timer:") != std::string::npos) {
            timer_calls.push_back(call);
        }
    }
    Calls expected{"start_timer:7:25"};
    for (int tick = 0; tick < ticks; ++tick) {
        expected.push_back("stop_timer:7");
        if (tick + 1 < ticks) {
            expected.push_back("start_timer:7:25");
        }
    }
    EXPECT_EQ(timer_calls, expected);
}

TEST_F(DownloadSequencerTest, ProgressMovesThroughEveryRecordThenHides) {
    MemoryModem& modem = ready_modem();
    run();
    Calls progress;
    for (const std::string& call : host.calls) {
        if (call.find("progress") != std::string::npos) {
            progress.push_back(call);
        }
    }
    Calls expected{"show_progress:1"};
    for (int position = 0; position < IMAGE_RECORD_COUNT; ++position) {
        expected.push_back("set_progress:" + std::to_string(position));
    }
    expected.push_back("show_progress:0");
    EXPECT_EQ(progress, expected);
    EXPECT_EQ(modem.records().size(), std::size_t{IMAGE_RECORD_COUNT});
}

TEST_F(DownloadSequencerTest, ChecksumTotalWrapsAndPrintsFourLowerCaseDigits) {
    // Choose the last record so that the wrapped total needs a leading zero and has a hex
    // letter among its digits, which must come out in lower case.
    const auto fits = [](unsigned total) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%03x", total);
        return total < 0x1000 && std::strpbrk(digits, "abcdef") != nullptr;
    };
    records.pop_back();
    for (std::uint32_t seed = 1000;; ++seed) {
        records.push_back(make_image_record(0x7777, seed));
        if (fits(expected_total(IMAGE_RECORD_COUNT))) {
            break;
        }
        records.pop_back();
    }
    ready_modem();
    run();
    char expected[40];
    std::snprintf(expected, sizeof expected, "Download complete!  (0%03x)",
                  static_cast<unsigned>(expected_total(IMAGE_RECORD_COUNT)));
    EXPECT_EQ(host.status, expected);
}

TEST_F(DownloadSequencerTest, SearchTriesEveryPortInOrderAtBothSpeeds) {
    run();
    EXPECT_EQ(opened, (std::vector<int>{2, 3, 1, 0, 4, 5, 6, 7, 8}));
    Speeds expected;
    for (int index : opened) {
        expected.emplace_back(index, 115200);
        expected.emplace_back(index, 57600);
    }
    EXPECT_EQ(speeds, expected);
    EXPECT_EQ(host.messages(), (Calls{"wait:Configuring modem, please wait...:1000",
                                      "outcome:Could not configure modem!"}));
    for (int index = 0; index < 9; ++index) {
        EXPECT_EQ(ports[index].line.close_calls, 1) << index;
    }
    expect_run_ended_and_released(8);
    // Each speed costs a second of "AT" and two configure attempts of 500 ms.
    EXPECT_GE(clock.now(), 1000u + 18u * 2000u);
    EXPECT_LT(clock.now(), 1000u + 18u * 2100u);
}

// The search above only takes its 37 s of fake time if the port's waits run on the clock
// the sequencer was given; nothing may put them on another one while it holds it.
TEST_F(DownloadSequencerTest, NoOtherClockCanBeBoundWhileTheSequencerHoldsItsClock) {
    FakeClock other;
    EXPECT_DEATH(PortClockBinding second(other), "bound twice");
}

TEST_F(DownloadSequencerTest, UnopenablePortsAreSkippedAndAModemOnCom1IsFoundLast) {
    ports[3].opens = false;  // COM4
    MemoryModem& modem = ready_modem(0);
    tick_until_state(2);
    EXPECT_EQ(opened, (std::vector<int>{2, 3, 1, 0}));
    EXPECT_EQ(speeds, (Speeds{{2, 115200}, {2, 57600}, {1, 115200}, {1, 57600}, {0, 115200}}));
    EXPECT_EQ(ports[2].line.close_calls, 1);
    EXPECT_EQ(ports[1].line.close_calls, 1);
    EXPECT_EQ(ports[3].line.close_calls, 0);
    EXPECT_TRUE(on_open_port_list(3)) << "a failed open waits for the exit-time clean-up";
    ASSERT_NE(sequencer->port(), nullptr);
    EXPECT_EQ(sequencer->port()->port_index, 0);
    EXPECT_EQ(sequencer->context_word(), 0x1234);
    EXPECT_EQ(modem.commands().front(), "AT");

    tick_while_armed();
    EXPECT_EQ(host.status.rfind("Download complete!", 0), 0u);
    expect_run_ended_and_released(0);
}

TEST_F(DownloadSequencerTest, SlowerSpeedIsTriedOnlyAfterTheFasterOneFails) {
    ModemSettings one_speed = test_modem_settings();
    one_speed.bauds = {57600};
    MemoryModem& modem = ready_modem(2, one_speed);
    tick_until_state(2);
    EXPECT_EQ(speeds, (Speeds{{2, 115200}, {2, 57600}}));
    EXPECT_EQ(sequencer->state(), 2);
    EXPECT_EQ(modem.commands(), (Calls{"AT", "ATI3", "AT*Y120", "AT*D"}));
}

TEST_F(DownloadSequencerTest, SpeedThePortRefusesIsNotTried) {
    MemoryModem& modem = ready_modem();
    ports[2].refuses_115200 = true;
    tick_until_state(2);
    EXPECT_EQ(speeds, (Speeds{{2, 115200}, {2, 57600}}));
    EXPECT_EQ(modem.commands(), (Calls{"AT", "ATI3", "AT*Y120", "AT*D"}))
        << "nothing may be sent at a speed that was not set";
    EXPECT_EQ(modem.line_speeds(), std::vector<unsigned>(5, 57600))
        << "four commands and configure";
}

TEST_F(DownloadSequencerTest, ModemAlreadyInDownloadModeIsConfiguredWithoutText) {
    ModemSettings in_download_mode = test_modem_settings();
    in_download_mode.faults.ignore_at = true;
    ready_modem(2, in_download_mode);
    tick_until_state(2);
    EXPECT_EQ(sequencer->state(), 2);
    EXPECT_EQ(speeds, (Speeds{{2, 115200}}));
}

TEST_F(DownloadSequencerTest, LastPortThatFailedToOpenIsReleasedByTheEndOfTheRun) {
    ports[8].opens = false;  // COM9, the last one tried
    run();
    EXPECT_EQ(host.status, "Could not configure modem!");
    expect_run_ended_and_released(8);
}

TEST_F(DownloadSequencerTest, CancelledPromptEndsTheWindowWithoutErasing) {
    MemoryModem& modem = ports[2].attach_modem();  // no modems.cfg: no path known
    run();
    const Calls tail(host.calls.end() - 6, host.calls.end());
    EXPECT_EQ(tail, (Calls{"stop_timer:7", "wait:Validating download file...:1000",
                           "wait:Download file not specified!:1000", "prompt", "end_window:2",
                           "enable_close"}));
    EXPECT_EQ(host.calls_starting_with("prompt").size(), 1u);
    EXPECT_EQ(host.calls_starting_with("end_window:2").size(), 1u);
    EXPECT_TRUE(host.calls_starting_with("outcome:").empty());
    EXPECT_EQ(host.beeps, 0);
    ASSERT_EQ(modem.packets().size(), 1u) << "only the configure packet went out";
    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, PromptIsRepeatedUntilTheImageIsValid) {
    MemoryModem& modem = ready_modem();
    std::string bad_path = dir.write_image("short.dl", make_image_records(10));
    dir.write_text("modems.cfg", "KV-56 " + bad_path + "\n");
    const std::string good_path = image_path;
    host.prompt_answers.push_back([&] {
        set_current_download_path(dir.path("missing.dl").string().c_str());
        return DIALOG_RESULT_OK;
    });
    host.prompt_answers.push_back([&] {
        set_current_download_path(good_path.c_str());
        return DIALOG_RESULT_OK;
    });
    run();
    EXPECT_EQ(host.calls_starting_with("prompt").size(), 2u);
    const Calls validation{
        "wait:Validating download file...:1000", "wait:Invalid download file format!:1000",
        "wait:Validating download file...:1000", "wait:Download file not found!:1000",
        "wait:Validating download file...:1000", "wait:Erasing modem program memory...:1000"};
    const Calls messages = host.messages();
    auto first = std::find(messages.begin(), messages.end(), validation.front());
    ASSERT_NE(first, messages.end());
    EXPECT_EQ(Calls(first, first + validation.size()), validation);
    EXPECT_EQ(modem.records(), records);
}

TEST_F(DownloadSequencerTest, FailedEraseEndsTheRun) {
    MemoryModem& modem = ready_modem();
    modem.faults().no_erase_confirm = true;
    run();
    EXPECT_EQ(host.status, "Could not erase modem program memory!");
    EXPECT_EQ(host.beeps, 1);
    EXPECT_TRUE(modem.records().empty());
    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, UnacknowledgedRecordStopsTheRunBeforeTheNextOne) {
    MemoryModem& modem = ready_modem();
    modem.faults().silent_from_record = 100;
    run();
    EXPECT_EQ(host.status, "Could not program modem!");
    auto packets = modem.records();
    ASSERT_EQ(packets.size(), 101u);
    EXPECT_EQ(packets[99], records[99]);
    EXPECT_EQ(packets[100], records[99]) << "the second attempt resends the same record";
    EXPECT_EQ(host.calls_starting_with("set_progress:").back(), "set_progress:99");
    EXPECT_EQ(sequencer->block_count(), 99);
    EXPECT_EQ(sequencer->checksum_total(), expected_total(100));
    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, WrongRecordTagInTheAcknowledgementFailsTheRecord) {
    MemoryModem& modem = ready_modem();
    modem.faults().wrong_tag_record = 1;
    run();
    EXPECT_EQ(host.status, "Could not program modem!");
    EXPECT_EQ(modem.records().size(), 2u);
    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, RecordsAreSentAsValidatedWhateverHappensToTheFileAfterwards) {
    MemoryModem& modem = ready_modem();
    tick_until_state(4);  // the image is validated and open
    ASSERT_NE(sequencer->image_file(), nullptr);
    for (int i = 0; i < 5; ++i) {
        sequencer->OnTimer(TIMER_ID);
    }
    // Another image lands under the same name in the middle of programming, then shrinks.
    dir.write_image("kv56.dl", make_image_records(IMAGE_RECORD_COUNT, 5000));
    std::filesystem::resize_file(image_path, 100 * IMAGE_RECORD_SIZE + 500);
    tick_while_armed();
    EXPECT_EQ(sequencer->checksum_total(), expected_total(IMAGE_RECORD_COUNT));
    EXPECT_EQ(host.status.rfind("Download complete!", 0), 0u) << host.status;
    EXPECT_EQ(modem.records(), records);
    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, FailedRestoreEndsTheRunWithoutReset) {
    MemoryModem& modem = ready_modem();
    modem.faults().no_restore_confirm = true;
    run();
    EXPECT_EQ(host.status, "Could not restore modem configuration!");
    EXPECT_EQ(modem.records().size(), std::size_t{IMAGE_RECORD_COUNT});
    EXPECT_NE(modem.commands().back(), "ATZ");
    EXPECT_TRUE(host.calls_starting_with("wait:Resetting modem...").empty());
    expect_run_ended_and_released(2);
}

TEST_F(DownloadSequencerTest, ClosingInTheMiddleOfARunReleasesPortAndImage) {
    ready_modem();
    tick_until_state(4);
    ASSERT_NE(sequencer->image_file(), nullptr);
    sequencer.reset();
    EXPECT_EQ(ports[2].line.close_calls, 1);
    EXPECT_FALSE(on_open_port_list(2));
}

TEST_F(DownloadSequencerTest, NewRunStartsFromAClearedDownloadPath) {
    set_current_download_path("left-over.dl");
    sequencer->begin_run();
    EXPECT_STREQ(current_download_path, "");
    EXPECT_EQ(sequencer->state(), 1);
    EXPECT_EQ(host.calls, (Calls{"start_timer:7:25"}));
}

}  // namespace
