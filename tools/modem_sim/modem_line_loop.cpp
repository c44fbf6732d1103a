#include "tools/modem_sim/modem_line_loop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "tools/modem_sim/line_pacer.h"

namespace {

constexpr std::size_t READ_CHUNK = 4096;
constexpr auto LONGEST_WAIT = std::chrono::milliseconds(500);

long long nanoseconds_of(SimTime at) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

class LineLoop {
  public:
    LineLoop(SerialLine& line, ModemSession& session, const LineLoopOptions& options, EventLog& log)
        : line_(line),
          session_(session),
          options_(options),
          log_(log),
          send_line_(options.line_rate),
          receive_line_(options.line_rate),
          traced_events_(log.lines().size()) {}

    LineLoopEnd run(const volatile std::sig_atomic_t& stop, const sigset_t& wait_mask);

  private:
    void hand_on_received(SimTime now);
    void collect_due_replies(SimTime now);
    bool send_pending(SimTime now);
    bool receive(SimTime now);
    SimTime wake_time(SimTime now) const;
    void trace_bytes(SimTime at, const char* direction, std::size_t count);
    void trace_events(SimTime at);

    SerialLine& line_;
    ModemSession& session_;
    const LineLoopOptions& options_;
    EventLog& log_;
    LinePacer send_line_;     // modem to host
    LinePacer receive_line_;  // host to modem
    bool write_blocked_ = false;
    std::size_t traced_events_;
};

LineLoopEnd LineLoop::run(const volatile std::sig_atomic_t& stop, const sigset_t& wait_mask) {
    while (stop == 0) {
        SimTime now = SimClock::now();
        hand_on_received(now);
        session_.expire(now);
        trace_events(now);
        if (session_.hung_up()) {
            return LineLoopEnd::modem_hung_up;
        }
        collect_due_replies(now);
        if (!send_pending(now)) {
            return LineLoopEnd::line_lost;
        }
        pollfd watch{line_.fd(), POLLIN, 0};
        if (write_blocked_) {
            watch.events |= POLLOUT;
        }
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wake_time(now) - now);
        wait =
            std::clamp(wait, std::chrono::nanoseconds(0), std::chrono::nanoseconds(LONGEST_WAIT));
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

// The modem gets each byte when its last bit has crossed the line, and answers as of then:
// a late wake-up here delays nothing that a real modem would have done sooner.
void LineLoop::hand_on_received(SimTime now) {
    auto arrived = receive_line_.arrived(now);
    if (arrived.empty()) {
        return;
    }
    std::vector<std::uint8_t> bytes(arrived.begin(), arrived.end());
    SimTime at = receive_line_.take(bytes.size(), now);
    trace_bytes(at, "in", bytes.size());
    session_.receive(bytes.data(), bytes.size(), at);
    trace_events(at);
}

void LineLoop::collect_due_replies(SimTime now) {
    auto& outbox = session_.outbox();
    while (!outbox.empty() && outbox.front().not_before <= now) {
        send_line_.send(outbox.front().bytes, outbox.front().not_before);
        outbox.pop_front();
    }
}

bool LineLoop::send_pending(SimTime now) {
    auto arrived = send_line_.arrived(now);
    if (arrived.empty() || write_blocked_) {
        return true;
    }
    ssize_t written = write(line_.fd(), arrived.data(), arrived.size());
    if (written < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            write_blocked_ = errno == EAGAIN;
            return true;
        }
        return false;
    }
    SimTime at = send_line_.take(static_cast<std::size_t>(written), now);
    trace_bytes(at, "out", static_cast<std::size_t>(written));
    return true;
}

bool LineLoop::receive(SimTime now) {
    std::uint8_t buffer[READ_CHUNK];
    ssize_t count = read(line_.fd(), buffer, READ_CHUNK);
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (count <= 0) {
        return false;
    }
    if (!session_.hears_at(line_.line_speed(), static_cast<std::size_t>(count))) {
        return true;
    }
    receive_line_.send({buffer, static_cast<std::size_t>(count)}, now);
    return true;
}

SimTime LineLoop::wake_time(SimTime now) const {
    SimTime wake = now + LONGEST_WAIT;
    if (auto deadline = session_.deadline()) {
        wake = std::min(wake, *deadline);
    }
    if (!session_.outbox().empty()) {
        wake = std::min(wake, session_.outbox().front().not_before);
    }
    if (auto next = send_line_.next_delivery(); next && !write_blocked_) {
        wake = std::min(wake, *next);
    }
    if (auto next = receive_line_.next_delivery()) {
        wake = std::min(wake, *next);
    }
    return wake;
}

void LineLoop::trace_bytes(SimTime at, const char* direction, std::size_t count) {
    if (options_.wire_trace != nullptr) {
        std::fprintf(options_.wire_trace, "%lld %s %zu\n", nanoseconds_of(at), direction, count);
    }
}

// Events are flushed as they happen, so a watcher can follow the run's phases live.
void LineLoop::trace_events(SimTime at) {
    const auto& lines = log_.lines();
    if (options_.wire_trace == nullptr || traced_events_ == lines.size()) {
        traced_events_ = lines.size();
        return;
    }
    for (; traced_events_ < lines.size(); ++traced_events_) {
        std::fprintf(options_.wire_trace, "%lld event %s\n", nanoseconds_of(at),
                     lines[traced_events_].c_str());
    }
    std::fflush(options_.wire_trace);
}

}  // namespace

LineLoopEnd run_line_loop(SerialLine& line, ModemSession& session, const LineLoopOptions& options,
                          EventLog& log, const volatile std::sig_atomic_t& stop,
                          const sigset_t& wait_mask) {
    LineLoop loop(line, session, options, log);
    return loop.run(stop, wait_mask);
}
