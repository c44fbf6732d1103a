#include "engine/at_command.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "port/clock.h"
#include "port/port_trace.h"
#include "port/port_transfer.h"

namespace {

constexpr std::size_t AT_TEXT_MAX = AT_BUFFER_SIZE - 1;
// Between two looks for a reply the exchange sleeps on the line this long at most.
constexpr int AT_POLL_INTERVAL_MS = 1;

// Copies at most max characters of text and a terminating zero.
void copy_text(char* destination, const char* text, std::size_t max) {
    std::size_t length = 0;
    while (length < max && text[length] != '\0') {
        ++length;
    }
    std::memcpy(destination, text, length);
    destination[length] = '\0';
}

// Received text, NUL-terminated, holding the newest AT_TEXT_MAX characters.
class ReplyAccumulator {
  public:
    void append(char c) {
        if (length_ == AT_TEXT_MAX) {
            std::memmove(text_, text_ + 1, AT_TEXT_MAX - 1);
            --length_;
        }
        text_[length_++] = c;
        text_[length_] = '\0';
    }
    bool contains(const char* expected) const { return std::strstr(text_, expected) != nullptr; }
    const char* text() const { return text_; }

  private:
    char text_[AT_BUFFER_SIZE] = {};
    std::size_t length_ = 0;
};

}  // namespace

int send_at_command(PortObject* port, const char* command, char* reply) {
    char command_line[AT_BUFFER_SIZE];
    copy_text(command_line, command, AT_TEXT_MAX - 1);
    std::strcat(command_line, "\r");

    char expected[AT_BUFFER_SIZE];
    copy_text(expected, reply != nullptr ? reply : "OK", AT_TEXT_MAX);

    port->clear_tx(port);
    port_drain_input(port, static_cast<int>(AT_REPLY_TIMEOUT_MS));
    port_trace_label(port,
                     "AT line \"" + std::string(command_line, std::strlen(command_line) - 1) + "\"",
                     "AT reply");
    port_write_string(port, command_line, PORT_TERM_NONE);

    Clock& clock = port_clock();
    const std::uint32_t start = clock.tick_ms();
    ReplyAccumulator accumulator;
    for (;;) {
        int received = port->read_char(port);
        if (received > 0) {
            accumulator.append(static_cast<char>(received));
            if (accumulator.contains(expected)) {
                if (reply != nullptr) {
                    copy_text(reply, accumulator.text(), AT_TEXT_MAX);
                }
                return 0;
            }
        }
        if (elapsed_ms(start, clock.tick_ms()) >= AT_REPLY_TIMEOUT_MS) {
            return -1;
        }
        // A lost line will not answer: waiting out the time-out would only spin.
        if (received <= 0 && port->wait_for_input(port, AT_POLL_INTERVAL_MS) < 0) {
            return -1;
        }
    }
}
