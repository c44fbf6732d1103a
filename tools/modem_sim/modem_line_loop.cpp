#include "tools/modem_sim/modem_line_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "tools/modem_sim/line_pacer.h"

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr auto kLongestWait = std::chrono::milliseconds(500);

class LineLoop {
  public:
    LineLoop(SerialLine& line, ModemSession& session, const LineLoopOptions& options, EventLog& log)
        : line_(line),
          session_(session),
          options_(options),
          log_(log),
          send_pacer_(options.line_rate),
          receive_pacer_(options.line_rate) {}

    LineLoopEnd run(const volatile std::sig_atomic_t& stop, const sigset_t& wait_mask);

  private:
    void collect_due_replies(SimTime now);
    bool send_pending(SimTime now);
    bool receive(SimTime now);
    SimTime wake_time(SimTime now) const;
    bool speed_understood(unsigned speed) const;

    SerialLine& line_;
    ModemSession& session_;
    const LineLoopOptions& options_;
    EventLog& log_;
    LinePacer send_pacer_;
    LinePacer receive_pacer_;
    std::vector<std::uint8_t> pending_;
    bool write_blocked_ = false;
};

LineLoopEnd LineLoop::run(const volatile std::sig_atomic_t& stop, const sigset_t& wait_mask) {
    while (stop == 0) {
        SimTime now = SimClock::now();
        session_.expire(now);
        if (session_.hung_up()) {
            return LineLoopEnd::modem_hung_up;
        }
        collect_due_replies(now);
        if (!send_pending(now)) {
            return LineLoopEnd::line_lost;
        }
        pollfd watch{line_.fd(), 0, 0};
        if (receive_pacer_.allowance(now) > 0) {
            watch.events |= POLLIN;
        }
        if (write_blocked_) {
            watch.events |= POLLOUT;
        }
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wake_time(now) - now);
        wait =
            std::clamp(wait, std::chrono::nanoseconds(0), std::chrono::nanoseconds(kLongestWait));
        timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                         static_cast<long>(wait.count() % 1'000'000'000)};
        int ready = ppoll(&watch, 1, &timeout, &wait_mask);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LineLoopEnd::line_lost;
        }
        if ((watch.revents & POLLIN) != 0) {
            if (!receive(SimClock::now())) {
                return LineLoopEnd::line_lost;
            }
        } else if ((watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return LineLoopEnd::line_lost;
        }
        if ((watch.revents & POLLOUT) != 0) {
            write_blocked_ = false;
        }
    }
    return LineLoopEnd::stop_requested;
}

void LineLoop::collect_due_replies(SimTime now) {
    auto& outbox = session_.outbox();
    while (!outbox.empty() && outbox.front().not_before <= now) {
        pending_.insert(pending_.end(), outbox.front().bytes.begin(), outbox.front().bytes.end());
        outbox.pop_front();
    }
}

bool LineLoop::send_pending(SimTime now) {
    if (pending_.empty() || write_blocked_) {
        return true;
    }
    std::size_t count = std::min(pending_.size(), send_pacer_.allowance(now));
    if (count == 0) {
        return true;
    }
    ssize_t written = write(line_.fd(), pending_.data(), count);
    if (written < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            write_blocked_ = errno == EAGAIN;
            return true;
        }
        return false;
    }
    send_pacer_.moved(static_cast<std::size_t>(written), now);
    pending_.erase(pending_.begin(), pending_.begin() + written);
    return true;
}

bool LineLoop::receive(SimTime now) {
    std::uint8_t buffer[kReadChunk];
    std::size_t room = std::min(kReadChunk, receive_pacer_.allowance(now));
    ssize_t count = read(line_.fd(), buffer, room);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (count <= 0) {
        return false;
    }
    receive_pacer_.moved(static_cast<std::size_t>(count), now);
    unsigned speed = line_.line_speed();
    if (!speed_understood(speed)) {
        // A modem listening at another speed hears garbage; it answers nothing.
        log_.write("garbled " + std::to_string(count) + " bytes at " + std::to_string(speed) +
                   " baud");
        return true;
    }
    session_.receive(buffer, static_cast<std::size_t>(count), now);
    return true;
}

SimTime LineLoop::wake_time(SimTime now) const {
    SimTime wake = now + kLongestWait;
    if (auto deadline = session_.deadline()) {
        wake = std::min(wake, *deadline);
    }
    if (!session_.outbox().empty()) {
        wake = std::min(wake, session_.outbox().front().not_before);
    }
    if (!pending_.empty() && !write_blocked_) {
        wake = std::min(wake, send_pacer_.next_allowance(now));
    }
    if (receive_pacer_.allowance(now) == 0) {
        wake = std::min(wake, receive_pacer_.next_allowance(now));
    }
    return wake;
}

bool LineLoop::speed_understood(unsigned speed) const {
    return options_.bauds.empty() || options_.bauds.count(speed) != 0;
}

}  // namespace

LineLoopEnd run_line_loop(SerialLine& line, ModemSession& session, const LineLoopOptions& options,
                          EventLog& log, const volatile std::sig_atomic_t& stop,
                          const sigset_t& wait_mask) {
    LineLoop loop(line, session, options, log);
    return loop.run(stop, wait_mask);
}
