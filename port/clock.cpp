#include "port/clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

SystemClock the_system_clock;
Clock* bound_clock = nullptr;

}  // namespace

Clock& system_clock() {
    return the_system_clock;
}

Clock& port_clock() {
    return bound_clock != nullptr ? *bound_clock : the_system_clock;
}

PortClockBinding::PortClockBinding(Clock& clock) {
    if (bound_clock != nullptr) {
        std::fputs("port clock bound twice: the waits would run on another clock\n", stderr);
        std::abort();
    }
    bound_clock = &clock;
}

PortClockBinding::~PortClockBinding() {
    bound_clock = nullptr;
}
