#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "port/clock.h"
#include "port/port_object.h"

// A record of everything said on the serial line, for the file a user sends when a real
// modem fails: opens, closes and speed changes, and every byte each way with its time in
// milliseconds, in hex and as text. The port layer moves bytes and knows no protocol: what
// a request is (AT line, configure, erase, record N, restore) and what its reply answers
// is told by the caller through port_trace_label() before it writes. It works by taking
// over the slots of the port objects it is shown, so nothing above the port layer needs to
// know whether it is there.
class PortTrace {
  public:
    PortTrace(std::ostream& out, Clock& clock);
    // Gives the ports it still watches their own slots back.
    ~PortTrace();
    PortTrace(const PortTrace&) = delete;
    PortTrace& operator=(const PortTrace&) = delete;

    // An open of the port called name (COM3, or the device itself) that returned port: the
    // line, and when the port opened, the watch on its traffic.
    void record_open(const std::string& name, const std::string& device, int baud, char parity,
                     int data_bits, int stop_bits, PortObject* port);
    void record_speed_change(PortObject* port, int baud, PortStatus result);

    // What the slots of a watched port report; not for other callers.
    struct Watch;
    void record_sent(Watch& watch, const std::uint8_t* bytes, std::size_t length,
                     PortStatus result);
    void record_received(Watch& watch, const std::uint8_t* bytes, std::size_t length);
    void record_close(Watch& watch);

  private:
    void write_event(std::uint32_t at_ms, const std::string& text);
    void write_bytes(const std::vector<std::uint8_t>& bytes);
    void flush_received(Watch& watch);
    std::uint32_t now_ms();

    std::ostream& out_;
    Clock& clock_;
    std::uint32_t start_ms_;
};

// Names the next write on port and the bytes received after it, in the trace watching the
// port if there is one: port_trace_label(port, "record 17", "acknowledgement of record 17").
// A write with no label is called "bytes" and its answer "reply".
void port_trace_label(PortObject* port, const std::string& request, const std::string& reply);

// The trace that ports opened by serial_port_factory() report to; nullptr (the default)
// traces nothing. The caller keeps ownership and removes it before destroying it.
void set_port_trace(PortTrace* trace);
PortTrace* port_trace();
