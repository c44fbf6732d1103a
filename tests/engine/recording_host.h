#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/download_host.h"
#include "tests/support/fake_clock.h"

// A host that writes down every call in order, as "operation:argument[:argument]", and
// lets the fake clock run through every pause it is asked for.
class RecordingHost final : public DownloadHost {
  public:
    explicit RecordingHost(FakeClock& clock) : clock_(clock) {}

    std::vector<std::string> calls;
    bool timer_armed = false;
    int beeps = 0;
    // Answers of prompt_download_file, used up in order; when none is left, Cancel.
    std::deque<std::function<int()>> prompt_answers;

    void show_status(const char* text) override {
        calls.push_back(std::string("status:") + text);
        status = text;
    }
    void show_status_and_wait(const char* text, std::uint32_t ms) override {
        calls.push_back(std::string("wait:") + text + ":" + std::to_string(ms));
        status = text;
        clock_.sleep_ms(ms);
    }
    void report_outcome(const char* text) override {
        calls.push_back(std::string("outcome:") + text);
        status = text;
        ++beeps;
    }
    void show_progress(bool visible) override {
        calls.push_back(std::string("show_progress:") + (visible ? "1" : "0"));
    }
    void set_progress(int position) override {
        calls.push_back("set_progress:" + std::to_string(position));
    }
    void enable_close() override { calls.push_back("enable_close"); }
    void end_window(int code) override { calls.push_back("end_window:" + std::to_string(code)); }
    int prompt_download_file() override {
        calls.push_back("prompt");
        if (prompt_answers.empty()) {
            return DIALOG_RESULT_CANCEL;
        }
        auto answer = std::move(prompt_answers.front());
        prompt_answers.pop_front();
        return answer();
    }
    void start_timer(unsigned timer_id, unsigned period_ms) override {
        calls.push_back("start_timer:" + std::to_string(timer_id) + ":" +
                        std::to_string(period_ms));
        timer_armed = true;
    }
    void stop_timer(unsigned timer_id) override {
        calls.push_back("stop_timer:" + std::to_string(timer_id));
        timer_armed = false;
    }

    // The calls whose text starts with prefix, in order.
    std::vector<std::string> calls_starting_with(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& call : calls) {
            if (call.rfind(prefix, 0) == 0) {
                found.push_back(call);
            }
        }
        return found;
    }
    // Every text shown on the status line, in order (waits, plain texts and outcomes).
    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const std::string& call : calls) {
            for (const char* prefix : {"status:", "wait:", "outcome:"}) {
                if (call.rfind(prefix, 0) == 0) {
                    texts.push_back(call);
                }
            }
        }
        return texts;
    }

    std::string status;

  private:
    FakeClock& clock_;
};
