#include "tools/modem_sim/line_pacer.h"

#include <algorithm>

namespace {
constexpr std::int64_t BITS_PER_BYTE = 10;
constexpr std::int64_t NANOSECONDS_PER_SECOND = 1'000'000'000;
// Bytes in the middle of a burst are handed on at most this often.
constexpr std::chrono::nanoseconds COLLECT_EVERY = std::chrono::milliseconds(2);
// Longer than any burst of this simulator; beyond it the arithmetic below could overflow.
constexpr std::chrono::nanoseconds LONGEST_BURST = std::chrono::hours(1);
// Bytes handed on are dropped from the buffer once this many have piled up before it.
constexpr std::size_t COMPACT_AFTER = 64 * 1024;
}  // namespace

LinePacer::LinePacer(unsigned baud) : baud_(baud) {
    if (baud_ != 0) {
        byte_time_ = std::chrono::nanoseconds(BITS_PER_BYTE * NANOSECONDS_PER_SECOND / baud_);
    }
}

SimTime LinePacer::arrival_of(const Burst& burst, std::size_t index) const {
    if (baud_ == 0) {
        return burst.start;
    }
    // From the burst's start, not from the previous byte, so rounding never adds up.
    auto bits = static_cast<std::int64_t>(index + 1) * BITS_PER_BYTE;
    return burst.start + std::chrono::nanoseconds(bits * NANOSECONDS_PER_SECOND / baud_);
}

std::size_t LinePacer::arrived_in(const Burst& burst, SimTime now) const {
    if (now < burst.start) {
        return 0;
    }
    if (baud_ == 0 || now - burst.start > LONGEST_BURST) {
        return burst.count;
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - burst.start);
    auto count = static_cast<std::size_t>(elapsed.count() * baud_ /
                                          (BITS_PER_BYTE * NANOSECONDS_PER_SECOND));
    // The division above may land one short of what arrival_of() counts as arrived.
    while (count < burst.count && arrival_of(burst, count) <= now) {
        ++count;
    }
    return std::min(count, burst.count);
}

void LinePacer::send(std::span<const std::uint8_t> bytes, SimTime ready) {
    if (bytes.empty()) {
        return;
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    if (!bursts_.empty() && ready <= line_free_) {
        // Straight behind the bytes still crossing: one burst keeps the timing exact.
        Burst& last = bursts_.back();
        last.count += bytes.size();
        line_free_ = arrival_of(last, last.count - 1);
        return;
    }
    Burst burst{std::max(ready, line_free_), bytes.size(), 0};
    line_free_ = arrival_of(burst, burst.count - 1);
    bursts_.push_back(burst);
}

std::span<const std::uint8_t> LinePacer::arrived(SimTime now) const {
    std::size_t count = 0;
    for (const Burst& burst : bursts_) {
        std::size_t here = arrived_in(burst, now);
        count += here - burst.taken;
        if (here < burst.count) {
            break;
        }
    }
    return {bytes_.data() + taken_, count};
}

SimTime LinePacer::take(std::size_t count, SimTime now) {
    SimTime last_arrival = now;
    std::size_t left = count;
    while (left > 0 && !bursts_.empty()) {
        Burst& burst = bursts_.front();
        std::size_t here = std::min(left, burst.count - burst.taken);
        burst.taken += here;
        left -= here;
        last_arrival = arrival_of(burst, burst.taken - 1);
        if (burst.taken == burst.count) {
            bursts_.pop_front();
        }
    }
    taken_ += count - left;
    if (taken_ == bytes_.size()) {
        bytes_.clear();
        taken_ = 0;
    } else if (taken_ > COMPACT_AFTER) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(taken_));
        taken_ = 0;
    }
    last_take_ = now;
    return last_arrival;
}

std::optional<SimTime> LinePacer::next_delivery() const {
    if (bursts_.empty()) {
        return std::nullopt;
    }
    const Burst& burst = bursts_.front();
    SimTime next = arrival_of(burst, burst.taken);
    if (burst.taken == 0) {
        return next;
    }
    SimTime last = arrival_of(burst, burst.count - 1);
    return std::min(last, std::max(next, last_take_ + COLLECT_EVERY));
}
