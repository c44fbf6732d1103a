#include "tools/modem_sim/line_pacer.h"

#include <algorithm>
#include <limits>

namespace {
constexpr std::int64_t kBitsPerByte = 10;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::chrono::nanoseconds kMinimumLead = std::chrono::milliseconds(4);
}  // namespace

LinePacer::LinePacer(unsigned baud) : baud_(baud) {
    if (baud_ != 0) {
        byte_time_ = duration_of(1);
        lead_ = std::max(kMinimumLead, 2 * byte_time_);
    }
}

std::chrono::nanoseconds LinePacer::duration_of(std::size_t count) const {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(count) * kBitsPerByte *
                                    kNanosecondsPerSecond / baud_);
}

std::size_t LinePacer::allowance(SimTime now) const {
    if (baud_ == 0) {
        return std::numeric_limits<std::size_t>::max();
    }
    auto room = now + lead_ - std::max(line_free_, now);
    return room.count() <= 0 ? 0 : static_cast<std::size_t>(room / byte_time_);
}

void LinePacer::moved(std::size_t count, SimTime now) {
    if (baud_ != 0) {
        line_free_ = std::max(line_free_, now) + duration_of(count);
    }
}

SimTime LinePacer::next_allowance(SimTime now) const {
    if (baud_ == 0) {
        return now;
    }
    return std::max(now, line_free_ - (lead_ - byte_time_) / 2);
}
