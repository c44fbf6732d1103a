#include "engine/download_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_clock.h"

namespace {

using Calls = std::vector<std::string>;

// A host whose toolkit primitives write down their calls, with the clock's time.
class PrimitiveRecorder final : public ToolkitHost {
  public:
    explicit PrimitiveRecorder(FakeClock& clock) : clock_(clock) {}
    Calls calls;

    void show_progress(bool) override {}
    void set_progress(int) override {}
    void enable_close() override {}
    void end_window(int) override {}
    int prompt_download_file() override { return DIALOG_RESULT_CANCEL; }
    void start_timer(unsigned, unsigned) override {}
    void stop_timer(unsigned) override {}

  protected:
    void set_status_text(const char* text) override {
        calls.push_back(std::to_string(clock_.now()) + " text:" + text);
    }
    void beep() override { calls.push_back(std::to_string(clock_.now()) + " beep"); }
    void enable_exit() override { calls.push_back(std::to_string(clock_.now()) + " exit"); }

  private:
    FakeClock& clock_;
};

TEST(ToolkitHost, DisplayOperationsKeepTheirOrderAndPauseOnTheRunsClock) {
    FakeClock clock(100, 0);
    PortClockBinding use_clock(clock);
    PrimitiveRecorder host(clock);

    host.show_status_and_wait("Erasing modem program memory...", 1000);
    host.show_status_and_wait("Autobauding modem...", 0);
    host.show_status("Programming modem...");
    host.report_outcome("Could not program modem!");
    host.report_outcome("Could not program modem!");

    EXPECT_EQ(host.calls, (Calls{"100 text:Erasing modem program memory...",
                                 "1100 text:Autobauding modem...", "1100 text:Programming modem...",
                                 "1100 text:Could not program modem!", "1100 beep", "1100 exit",
                                 "1100 text:Could not program modem!", "1100 beep", "1100 exit"}));
    EXPECT_EQ(clock.total_slept(), 1000u);
}

}  // namespace
