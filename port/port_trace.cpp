#include "port/port_trace.h"

#include <cstdio>
#include <optional>
#include <ostream>
#include <utility>

struct PortTrace::Watch {
    PortTrace* trace = nullptr;
    PortObject* port = nullptr;
    std::string name;  // COM3
    // The port's own slots, called for the real work.
    int (*read_char)(PortObject* port) = nullptr;
    PortStatus (*write_char)(PortObject* port, int byte) = nullptr;
    PortStatus (*close)(PortObject* port) = nullptr;
    PortStatus (*write_block)(PortObject* port, const void* bytes, unsigned length) = nullptr;
    PortStatus (*read_block)(PortObject* port, void* buffer, unsigned maximum) = nullptr;
    // The caller's names for the next write and its answer, once it gave them.
    std::optional<std::pair<std::string, std::string>> label;
    std::string reply_name = "unrequested bytes";  // what the next received bytes answer
    std::vector<std::uint8_t> received;            // not written out yet
    std::uint32_t received_at_ms = 0;
};

namespace {

constexpr std::size_t BYTES_PER_LINE = 16;

PortTrace* installed_trace = nullptr;
std::map<PortObject*, PortTrace::Watch> watches;

PortTrace::Watch& watch_of(PortObject* port) {
    return watches.at(port);
}

int traced_read_char(PortObject* port) {
    PortTrace::Watch& watch = watch_of(port);
    const int result = watch.read_char(port);
    const std::uint8_t byte = static_cast<std::uint8_t>(result);
    watch.trace->record_received(watch, &byte, result >= 0 ? 1 : 0);
    return result;
}

PortStatus traced_read_block(PortObject* port, void* buffer, unsigned maximum) {
    PortTrace::Watch& watch = watch_of(port);
    const PortStatus result = watch.read_block(port, buffer, maximum);
    watch.trace->record_received(watch, static_cast<const std::uint8_t*>(buffer),
                                 result == PORT_OK ? port->count : 0);
    return result;
}

PortStatus traced_write_char(PortObject* port, int byte) {
    PortTrace::Watch& watch = watch_of(port);
    const PortStatus result = watch.write_char(port, byte);
    const std::uint8_t sent = static_cast<std::uint8_t>(byte);
    watch.trace->record_sent(watch, &sent, 1, result);
    return result;
}

PortStatus traced_write_block(PortObject* port, const void* bytes, unsigned length) {
    PortTrace::Watch& watch = watch_of(port);
    const PortStatus result = watch.write_block(port, bytes, length);
    watch.trace->record_sent(watch, static_cast<const std::uint8_t*>(bytes), length, result);
    return result;
}

PortStatus traced_close(PortObject* port) {
    PortTrace::Watch& watch = watch_of(port);
    watch.trace->record_close(watch);
    const auto close = watch.close;
    watches.erase(port);
    return close(port);
}

void give_slots_back(PortTrace::Watch& watch) {
    PortObject* port = watch.port;
    port->read_char = watch.read_char;
    port->write_char = watch.write_char;
    port->close = watch.close;
    port->write_block = watch.write_block;
    port->read_block = watch.read_block;
}

// The name of a request from its label; also sets what its reply will be called.
std::string name_request(PortTrace::Watch& watch) {
    if (!watch.label) {
        watch.reply_name = "reply";
        return "bytes";
    }
    auto [request, reply] = std::move(*watch.label);
    watch.label.reset();
    watch.reply_name = std::move(reply);
    return request;
}

std::string status_text(PortStatus status) {
    return status == PORT_OK ? "ok" : "error " + std::to_string(status);
}

}  // namespace

PortTrace::PortTrace(std::ostream& out, Clock& clock)
    : out_(out), clock_(clock), start_ms_(clock.tick_ms()) {}

PortTrace::~PortTrace() {
    for (auto entry = watches.begin(); entry != watches.end();) {
        if (entry->second.trace == this) {
            flush_received(entry->second);
            give_slots_back(entry->second);
            entry = watches.erase(entry);
        } else {
            ++entry;
        }
    }
    out_.flush();
}

std::uint32_t PortTrace::now_ms() {
    return elapsed_ms(start_ms_, clock_.tick_ms());
}

void PortTrace::write_event(std::uint32_t at_ms, const std::string& text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9u ms  ", static_cast<unsigned>(at_ms));
    out_ << stamp << text << '\n';
}

void PortTrace::write_bytes(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t offset = 0; offset < bytes.size(); offset += BYTES_PER_LINE) {
        char line[128];
        int used =
            std::snprintf(line, sizeof line, "%15s%04lx ", "", static_cast<unsigned long>(offset));
        std::string text;
        for (std::size_t i = offset; i < offset + BYTES_PER_LINE; ++i) {
            if (i < bytes.size()) {
                used += std::snprintf(line + used, sizeof line - used, " %02x", bytes[i]);
                text += bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
            } else {
                used += std::snprintf(line + used, sizeof line - used, "   ");
            }
        }
        out_ << line << "  " << text << '\n';
    }
    out_.flush();
}

void PortTrace::record_open(const std::string& name, const std::string& device, int baud,
                            char parity, int data_bits, int stop_bits, PortObject* port) {
    const std::string port_name = name == device ? name : name + " (" + device + ")";
    write_event(now_ms(), "open " + port_name + " " + std::to_string(baud) + " " + parity +
                              std::to_string(data_bits) + std::to_string(stop_bits) + ": " +
                              status_text(port->status));
    out_.flush();
    if (port->status != PORT_OK || watches.count(port) != 0) {
        return;
    }
    Watch watch;
    watch.trace = this;
    watch.port = port;
    watch.name = name;
    watch.read_char = port->read_char;
    watch.write_char = port->write_char;
    watch.close = port->close;
    watch.write_block = port->write_block;
    watch.read_block = port->read_block;
    watches.emplace(port, std::move(watch));
    port->read_char = traced_read_char;
    port->write_char = traced_write_char;
    port->close = traced_close;
    port->write_block = traced_write_block;
    port->read_block = traced_read_block;
}

void PortTrace::record_speed_change(PortObject* port, int baud, PortStatus result) {
    const auto watched = watches.find(port);
    if (watched != watches.end()) {
        flush_received(watched->second);
    }
    const std::string name = watched != watches.end()
                                 ? watched->second.name
                                 : "COM" + std::to_string(port->port_index + 1);
    write_event(now_ms(),
                "speed " + name + " " + std::to_string(baud) + ": " + status_text(result));
    out_.flush();
}

void PortTrace::record_sent(Watch& watch, const std::uint8_t* bytes, std::size_t length,
                            PortStatus result) {
    flush_received(watch);
    const std::string name = name_request(watch);
    std::string text = "TX " + watch.name + " " + name + ", " + std::to_string(length) + " bytes";
    if (result != PORT_OK) {
        text += " (" + status_text(result) + ", " + std::to_string(watch.port->count) + " taken)";
    }
    write_event(now_ms(), text);
    write_bytes(std::vector<std::uint8_t>(bytes, bytes + length));
}

void PortTrace::record_received(Watch& watch, const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) {
        // Nothing more waiting: what came so far is one piece.
        flush_received(watch);
        return;
    }
    if (watch.received.empty()) {
        watch.received_at_ms = now_ms();
    }
    watch.received.insert(watch.received.end(), bytes, bytes + length);
}

void PortTrace::record_close(Watch& watch) {
    flush_received(watch);
    write_event(now_ms(), "close " + watch.name);
    out_.flush();
}

void PortTrace::flush_received(Watch& watch) {
    if (watch.received.empty()) {
        return;
    }
    write_event(watch.received_at_ms, "RX " + watch.name + " " + watch.reply_name + ", " +
                                          std::to_string(watch.received.size()) + " bytes");
    write_bytes(watch.received);
    watch.received.clear();
}

void port_trace_label(PortObject* port, const std::string& request, const std::string& reply) {
    const auto watched = watches.find(port);
    if (watched != watches.end()) {
        watched->second.label.emplace(request, reply);
    }
}

void set_port_trace(PortTrace* trace) {
    installed_trace = trace;
}

PortTrace* port_trace() {
    return installed_trace;
}
