#include "port/clock.h"

#include <chrono>
#include <thread>

namespace {

class SystemClock final : public Clock {
  public:
    std::uint32_t tick_ms() override {
        using namespace std::chrono;
        auto since_start = steady_clock::now().time_since_epoch();
        return static_cast<std::uint32_t>(duration_cast<milliseconds>(since_start).count());
    }
    void sleep_ms(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

SystemClock system_clock;
Clock* current_clock = &system_clock;

}  // namespace

Clock& port_clock() {
    return *current_clock;
}

void set_port_clock(Clock* clock) {
    current_clock = clock != nullptr ? clock : &system_clock;
}
