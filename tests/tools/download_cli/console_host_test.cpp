#include "tools/download_cli/console_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/download_path.h"
#include "tests/support/fake_clock.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

class ConsoleHostTest : public ::testing::Test {
  protected:
    ConsoleHost make_host(ConsoleKind kind) { return ConsoleHost(out, in, kind, timer); }

    // A whole programming phase as the engine drives it: bar shown, positions 0..223, bar
    // hidden after the 224th acknowledgement.
    void program_all_records(ConsoleHost& host) {
        host.set_records_done_source([] { return 224; });
        host.show_status("Programming modem...");
        host.show_progress(true);
        for (int position = 0; position < 224; ++position) {
            host.set_progress(position);
        }
        host.show_progress(false);
        host.show_status_and_wait("Restoring modem configuration...", 1000);
    }

    std::ostringstream out;
    std::istringstream in;
    ConsoleTimer timer;
    FakeClock clock;
    PortClockBinding use_clock{clock};
    const ConsoleKind pipe{false, false};
    const ConsoleKind terminal{true, true};
};

TEST_F(ConsoleHostTest, StatusMessagesAreLinesExactlyAsGivenAndWaitsSleepOnTheClock) {
    ConsoleHost host = make_host(pipe);
    host.show_status_and_wait("Configuring modem, please wait...", 1000);
    host.show_status_and_wait("Autobauding modem...", 0);
    host.show_status("Programming modem...");
    host.show_status("Programming modem...");

    EXPECT_EQ(out.str(),
              "Configuring modem, please wait...\nAutobauding modem...\n"
              "Programming modem...\nProgramming modem...\n");
    EXPECT_EQ(clock.total_slept(), 1000u);
}

TEST_F(ConsoleHostTest, OutcomeDecidesTheExitStatus) {
    ConsoleHost host = make_host(pipe);
    EXPECT_EQ(host.exit_code(), EXIT_DOWNLOAD_FAILED);
    host.report_outcome("Download complete!  (1a2b)");
    EXPECT_EQ(host.exit_code(), EXIT_DOWNLOAD_COMPLETE);
    host.report_outcome("Could not program modem!");
    EXPECT_EQ(host.exit_code(), EXIT_DOWNLOAD_FAILED);
    EXPECT_FALSE(host.window_ended());
    host.end_window(2);
    EXPECT_TRUE(host.window_ended());
    EXPECT_EQ(host.exit_code(), EXIT_PROMPT_CANCELLED);
}

TEST_F(ConsoleHostTest, BeepIsBelOnlyOnATerminal) {
    ConsoleHost piped = make_host(pipe);
    piped.report_outcome("Could not configure modem!");
    EXPECT_EQ(out.str(), "Could not configure modem!\n");

    out.str("");
    ConsoleHost on_terminal = make_host(terminal);
    on_terminal.report_outcome("Could not configure modem!");
    on_terminal.report_outcome("Could not configure modem!");
    EXPECT_EQ(out.str(), "Could not configure modem!\n\aCould not configure modem!\n\a");
}

TEST_F(ConsoleHostTest, PipedProgressIsOneLinePerTenPercentNeverAStatusText) {
    ConsoleHost host = make_host(pipe);
    program_all_records(host);

    const std::vector<std::string> expected = {
        "Programming modem...",        "Programming: 10% (23/224)",
        "Programming: 20% (45/224)",   "Programming: 30% (68/224)",
        "Programming: 40% (90/224)",   "Programming: 50% (112/224)",
        "Programming: 60% (135/224)",  "Programming: 70% (157/224)",
        "Programming: 80% (180/224)",  "Programming: 90% (202/224)",
        "Programming: 100% (224/224)", "Restoring modem configuration..."};
    EXPECT_EQ(lines_of(out.str()), expected);
}

TEST_F(ConsoleHostTest, TerminalBarIsRedrawnInPlaceAndEndsItsLineBeforeTheNextMessage) {
    ConsoleHost host = make_host(terminal);
    program_all_records(host);

    const std::vector<std::string> lines = lines_of(out.str());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Programming modem...");
    EXPECT_EQ(lines[2], "Restoring modem configuration...");
    // One line holding 225 carriage-return redraws, the last one full.
    const std::string& bar = lines[1];
    EXPECT_EQ(std::count(bar.begin(), bar.end(), '\r'), 225);
    EXPECT_TRUE(bar.ends_with("\r[" + std::string(40, '#') + "] 100% (224/224)")) << bar;
}

TEST_F(ConsoleHostTest, FailureWhileTheBarIsShownGoesOnItsOwnLine) {
    ConsoleHost host = make_host(terminal);
    host.show_progress(true);
    host.set_progress(99);
    host.report_outcome("Could not program modem!");

    EXPECT_TRUE(out.str().ends_with("44% (99/224)\nCould not program modem!\n\a")) << out.str();
}

TEST_F(ConsoleHostTest, HiddenBarDrawsNothing) {
    ConsoleHost host = make_host(pipe);
    host.set_progress(200);
    EXPECT_EQ(out.str(), "");
}

TEST_F(ConsoleHostTest, PromptSetsTheDownloadPathFromOneLine) {
    in.str("images/first.dl\r\nsecond.dl\n");
    ConsoleHost host = make_host(pipe);
    clear_current_download_path();

    EXPECT_EQ(host.prompt_download_file(), DIALOG_RESULT_OK);
    EXPECT_STREQ(current_download_path, "images/first.dl");
    EXPECT_EQ(host.prompt_download_file(), DIALOG_RESULT_OK);
    EXPECT_STREQ(current_download_path, "second.dl");
    EXPECT_EQ(out.str(), "Download file: images/first.dl\nDownload file: second.dl\n");
}

TEST_F(ConsoleHostTest, EmptyAnswerBeepsAndAsksAgain) {
    in.str("\n\r\nfirmware.dl\n");
    ConsoleHost on_terminal = make_host(terminal);
    EXPECT_EQ(on_terminal.prompt_download_file(), DIALOG_RESULT_OK);
    EXPECT_STREQ(current_download_path, "firmware.dl");
    EXPECT_EQ(out.str(), "Download file: \aDownload file: \aDownload file: ");

    in.clear();
    in.str("\n");
    out.str("");
    set_current_download_path("earlier.dl");
    ConsoleHost piped = make_host(pipe);
    EXPECT_EQ(piped.prompt_download_file(), DIALOG_RESULT_CANCEL);
    EXPECT_STREQ(current_download_path, "");
    EXPECT_EQ(out.str(), "Download file: \nDownload file: \n");
}

TEST_F(ConsoleHostTest, EndOfInputAtThePromptIsCancel) {
    in.str("");
    ConsoleHost host = make_host(pipe);
    set_current_download_path("kept.dl");

    EXPECT_EQ(host.prompt_download_file(), DIALOG_RESULT_CANCEL);
    EXPECT_STREQ(current_download_path, "kept.dl");
    EXPECT_EQ(out.str(), "Download file: \n");
}

TEST_F(ConsoleHostTest, TerminalInputIsNotEchoedAgain) {
    in.str("typed.dl\n");
    ConsoleHost host = make_host(terminal);
    EXPECT_EQ(host.prompt_download_file(), DIALOG_RESULT_OK);
    EXPECT_EQ(out.str(), "Download file: ");
}

TEST_F(ConsoleHostTest, TimerOperationsArmAndStopTheConsoleTimer) {
    ConsoleHost host = make_host(pipe);
    clock.advance(500);
    host.start_timer(77, 25);
    EXPECT_TRUE(timer.armed());
    EXPECT_EQ(timer.timer_id(), 77u);
    EXPECT_EQ(timer.period_ms(), 25u);
    EXPECT_EQ(timer.armed_at_ms(), 500u);
    host.stop_timer(78);
    EXPECT_TRUE(timer.armed());
    host.stop_timer(77);
    EXPECT_FALSE(timer.armed());
}

}  // namespace
