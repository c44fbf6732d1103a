// The AT exchange against any reply, arriving in any pieces, looking for any expected text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/at_command.h"
#include "tests/support/fake_clock.h"
#include "tests/support/memory_port.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string command = input.ConsumeRandomLengthString(300);
    const std::string expected = input.ConsumeRandomLengthString(300);
    const bool wait_for_ok = input.ConsumeBool();

    FakeClock clock(input.ConsumeIntegral<std::uint32_t>(), 10);
    PortClockBinding bound_clock(clock);
    MemoryLine line;
    line.clock = &clock;
    std::string received;
    while (input.remaining_bytes() > 0) {
        const auto delay = input.ConsumeIntegralInRange<std::uint32_t>(0, 1200);
        const std::string piece = input.ConsumeRandomLengthString(64);
        line.deliver(std::vector<std::uint8_t>(piece.begin(), piece.end()), delay);
        received += piece;
    }
    PortObject* port = open_memory_port(line);
    char reply[AT_BUFFER_SIZE] = {};
    std::strncpy(reply, expected.c_str(), AT_BUFFER_SIZE - 1);
    const int result = send_at_command(port, command.c_str(), wait_for_ok ? nullptr : reply);
    port->close(port);

    if (result != 0 && result != -1) {
        std::abort();
    }
    if (result == 0) {
        // The sought text came, and what is handed back is text the modem sent (NUL bytes
        // left out).
        std::string sent_text;
        for (char c : received) {
            if (c != '\0') {
                sent_text += c;
            }
        }
        // The expected text as a C text holds it: up to a NUL byte, at most 259 characters.
        const std::string sought =
            wait_for_ok ? "OK" : std::string(expected.c_str()).substr(0, AT_BUFFER_SIZE - 1);
        if (sent_text.find(sought) == std::string::npos) {
            std::abort();
        }
        if (!wait_for_ok && (std::memchr(reply, '\0', AT_BUFFER_SIZE) == nullptr ||
                             std::strstr(reply, sought.c_str()) == nullptr ||
                             sent_text.find(reply) == std::string::npos)) {
            std::abort();
        }
    }
    return 0;
}
