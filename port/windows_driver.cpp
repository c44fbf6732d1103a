#include "port/windows_driver.h"

#include <cstdio>

#include "port/port_transfer.h"

std::int32_t port_rx_queue_size = 1050;
std::uint32_t port_tx_queue_size = 1050;

namespace {

constexpr std::uint32_t MAXDWORD = 0xFFFFFFFF;
// A read asks only for bytes already received, so it ends at once; one that has not ended
// by then is cancelled and reads as nothing received.
constexpr std::uint32_t READ_COMPLETION_LIMIT_MS = 500;
constexpr std::uint32_t LINE_ERROR_BITS = CE_BREAK | CE_FRAME | CE_OVERRUN | CE_RXPARITY;

WindowsDriverRecord& record_of(PortObject* port) {
    return *static_cast<WindowsDriverRecord*>(port->driver);
}

// Asks the device for its error word and queue counts. The error word accumulates in
// line_error_flags; a failed query reads as empty queues and no errors.
SerialQueueCounts query_device(WindowsDriverRecord& record) {
    std::uint32_t errors = 0;
    SerialQueueCounts counts{};
    if (!serial_clear_error(record.handle, &errors, &counts)) {
        errors = 0;
        counts = SerialQueueCounts{};
    }
    record.line_error_flags |= errors;
    return counts;
}

PortStatus write_settings_copy(PortObject* port) {
    WindowsDriverRecord& record = record_of(port);
    if (!serial_set_settings(record.handle, record.dcb)) {
        port->status = map_platform_error();
        return port->status;
    }
    return PORT_OK;
}

// --- settings -------------------------------------------------------------------------

bool parity_code(char letter, std::uint8_t* code) {
    switch (letter & ~0x20) {
        case 'E':
            *code = EVENPARITY;
            return true;
        case 'M':
            *code = MARKPARITY;
            return true;
        case 'N':
            *code = NOPARITY;
            return true;
        case 'O':
            *code = ODDPARITY;
            return true;
        case 'S':
            *code = SPACEPARITY;
            return true;
        default:
            return false;
    }
}

PortStatus driver_set_line_format(PortObject* port, int baud, char parity, int data_bits,
                                  int stop_bits) {
    WindowsDriverRecord& record = record_of(port);
    std::uint32_t rate = static_cast<std::uint32_t>(baud);
    if (baud > 57600) {
        if (baud == 128000) {
            rate = SERIAL_RATE_CODE_128000;
        } else if (baud == 256000) {
            rate = SERIAL_RATE_CODE_256000;
        } else {
            port->status = PORT_E_BAD_BAUD;
            return PORT_E_BAD_BAUD;
        }
    }
    record.dcb.BaudRate = rate;
    record.dcb.ByteSize = static_cast<std::uint8_t>(data_bits & 0xFF);
    if (!parity_code(parity, &record.dcb.Parity)) {
        port->status = PORT_E_BAD_PARITY;
        return PORT_E_BAD_PARITY;
    }
    if (stop_bits == 1) {
        record.dcb.StopBits = ONESTOPBIT;
    } else if (stop_bits == 2) {
        record.dcb.StopBits = TWOSTOPBITS;
    } else {
        port->status = PORT_E_BAD_STOP_BITS;
        return PORT_E_BAD_STOP_BITS;
    }
    write_settings_copy(port);
    return port->status;
}

PortStatus driver_set_xon_xoff(PortObject* port, int on) {
    SerialSettings& dcb = record_of(port).dcb;
    dcb.fOutX = on != 0 ? 1 : 0;
    dcb.fInX = on != 0 ? 1 : 0;
    return write_settings_copy(port);
}

PortStatus driver_set_rts_cts(PortObject* port, int on) {
    SerialSettings& dcb = record_of(port).dcb;
    dcb.fOutxCtsFlow = on != 0 ? 1 : 0;
    dcb.fRtsControl = on != 0 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    return write_settings_copy(port);
}

PortStatus driver_set_dtr_dsr(PortObject* port, int on) {
    SerialSettings& dcb = record_of(port).dcb;
    dcb.fOutxDsrFlow = on != 0 ? 1 : 0;
    dcb.fDtrControl = on != 0 ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    return write_settings_copy(port);
}

// DTR and RTS changes are best effort: a device that refuses them still carries data.
PortStatus driver_set_dtr(PortObject* port, int on) {
    WindowsDriverRecord& record = record_of(port);
    record.dcb.fDtrControl = on != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    serial_set_settings(record.handle, record.dcb);
    return PORT_OK;
}

PortStatus driver_set_rts(PortObject* port, int on) {
    WindowsDriverRecord& record = record_of(port);
    record.dcb.fRtsControl = on != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    serial_set_settings(record.handle, record.dcb);
    return PORT_OK;
}

// --- queue counts ---------------------------------------------------------------------

int driver_tx_free(PortObject* port) {
    WindowsDriverRecord& record = record_of(port);
    return static_cast<int>(record.tx_queue_size - query_device(record).output_count);
}

int driver_tx_count(PortObject* port) {
    return static_cast<int>(query_device(record_of(port)).output_count);
}

int driver_rx_free(PortObject* port) {
    WindowsDriverRecord& record = record_of(port);
    return record.rx_queue_size - static_cast<int>(query_device(record).input_count);
}

int driver_rx_count(PortObject* port) {
    return static_cast<int>(query_device(record_of(port)).input_count);
}

PortStatus driver_clear_tx(PortObject* port) {
    if (!serial_purge_tx(record_of(port).handle)) {
        port->status = map_platform_error();
        return port->status;
    }
    return PORT_OK;
}

// --- transfers ------------------------------------------------------------------------

PortStatus driver_read_block(PortObject* port, void* buffer, unsigned maximum) {
    WindowsDriverRecord& record = record_of(port);
    const std::uint32_t waiting = query_device(record).input_count;
    if (waiting == 0) {
        port->count = 0;
        return PORT_E_TIMEOUT;
    }
    const std::uint32_t n = maximum < waiting ? maximum : waiting;
    std::uint32_t done = 0;
    const bool completed = serial_read(record.handle, buffer, n, &done, &record.io_block);
    port->count = completed ? done : 0;
    if (!completed && serial_last_error() != SERIAL_ERROR_IO_PENDING) {
        query_device(record);
    }
    if (port->count >= maximum) {
        return PORT_OK;
    }
    std::uint32_t transferred = 0;
    if (!serial_finish_io(record.handle, &record.io_block, &transferred,
                          READ_COMPLETION_LIMIT_MS)) {
        return PORT_E_TIMEOUT;
    }
    port->count = transferred;
    return PORT_OK;
}

// A lost line is recorded: it stays lost, and every later wait ends at once.
int driver_wait_for_input(PortObject* port, int milliseconds) {
    const auto limit = static_cast<std::uint32_t>(milliseconds > 0 ? milliseconds : 0);
    switch (serial_wait_for_input(record_of(port).handle, limit)) {
        case SerialInput::waiting:
            return 1;
        case SerialInput::line_lost:
            port->status = PORT_E_NO_PORT;
            return PORT_E_NO_PORT;
        case SerialInput::none:
            break;
    }
    return 0;
}

int driver_read_char(PortObject* port) {
    unsigned char byte = 0;
    const PortStatus result = driver_read_block(port, &byte, 1);
    return result != PORT_OK ? result : byte;
}

PortStatus driver_write_block(PortObject* port, const void* bytes, unsigned length) {
    WindowsDriverRecord& record = record_of(port);
    // An output count above the queue size wraps to a huge free space: the whole block goes.
    const std::uint32_t free_space = record.tx_queue_size - query_device(record).output_count;
    const std::uint32_t n = length < free_space ? length : free_space;
    std::uint32_t done = 0;
    const bool completed = serial_write(record.handle, bytes, n, &done, &record.io_block);
    port->count = completed ? done : 0;
    if (!completed) {
        if (serial_last_error() == SERIAL_ERROR_IO_PENDING) {
            port->count = n;  // a write under way counts as done
        } else {
            query_device(record);
        }
    }
    if (port->count >= length) {
        return PORT_OK;
    }
    port->status = PORT_E_TX_FULL;
    return PORT_E_TX_FULL;
}

PortStatus driver_write_char(PortObject* port, int byte) {
    const auto value = static_cast<unsigned char>(byte & 0xFF);
    return driver_write_block(port, &value, 1);
}

// --- line state -----------------------------------------------------------------------

PortStatus driver_send_break(PortObject* port, int milliseconds) {
    SerialHandle handle = record_of(port).handle;
    serial_set_break(handle);
    port_wait(port, milliseconds);
    serial_clear_break(handle);
    return PORT_OK;
}

// A device without modem lines (or a failed query) reads as all lines off.
int driver_modem_status(PortObject* port) {
    std::uint32_t bits = 0;
    if (!serial_modem_status(record_of(port).handle, &bits)) {
        return 0;
    }
    return static_cast<int>(bits & 0xFF);
}

int driver_line_errors(PortObject* port) {
    WindowsDriverRecord& record = record_of(port);
    query_device(record);
    return static_cast<int>(record.line_error_flags & LINE_ERROR_BITS);
}

PortStatus driver_clear_line_errors(PortObject* port) {
    record_of(port).line_error_flags = 0;
    return PORT_OK;
}

PortStatus driver_close(PortObject* port) {
    SerialHandle handle = record_of(port).handle;
    serial_escape(handle, SERIAL_CLRDTR);
    serial_escape(handle, SERIAL_CLRRTS);
    const PortStatus result = serial_close(handle) ? PORT_OK : map_platform_error();
    free_port_memory(port->driver);
    port->driver = nullptr;
    release_port_object(port);
    return result;
}

// --- dump -----------------------------------------------------------------------------

int bit(std::uint32_t word, std::uint32_t mask) {
    return (word & mask) != 0 ? 1 : 0;
}

// Character fields print as signed values widened to 32 bits, as the host's formatter
// receives them: a character above 0x7F shows as eight hexadecimal digits.
unsigned widened(char c) {
    return static_cast<unsigned>(static_cast<signed char>(c));
}

void emit_settings_lines(const SerialSettings& dcb, const PortLineSink& sink) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "Port type:  MS Windows  DCB BaudRate: %-6d  ByteSize: %1d  Parity: %1d",
                  static_cast<int>(dcb.BaudRate), dcb.ByteSize, dcb.Parity);
    sink(line);
    std::snprintf(line, sizeof line, "StopBits: %1d fBinary: %1d  fRtsControl: %1d", dcb.StopBits,
                  dcb.fBinary, dcb.fRtsControl);
    sink(line);
    std::snprintf(line, sizeof line,
                  "Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  "
                  "InX: %1d",
                  dcb.fParity, dcb.fOutxCtsFlow, dcb.fOutxDsrFlow, dcb.fDtrControl, dcb.fOutX,
                  dcb.fInX);
    sink(line);
    std::snprintf(line, sizeof line,
                  "Null: %1d  DtrControl: %1d  RtsControl: %1d  XonChar: %02x  XoffChar: %02x",
                  dcb.fNull, dcb.fDtrControl, dcb.fRtsControl, widened(dcb.XonChar),
                  widened(dcb.XoffChar));
    sink(line);
    std::snprintf(line, sizeof line, "XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x",
                  static_cast<unsigned>(dcb.XonLim), static_cast<unsigned>(dcb.XoffLim),
                  widened(dcb.EofChar), widened(dcb.EvtChar));
    sink(line);
}

void emit_state_lines(PortObject* port, const PortLineSink& sink) {
    WindowsDriverRecord& record = record_of(port);
    const int errors = driver_line_errors(port);
    const SerialQueueCounts counts = query_device(record);
    const std::uint32_t flags = record.line_error_flags;
    char line[256];
    std::snprintf(line, sizeof line,
                  "RX count/free: %5d/%-5d  TX count/free: %5d/%-5d  BREAK/FE/OE/PE: %d%d%d%d",
                  static_cast<int>(counts.input_count),
                  record.rx_queue_size - static_cast<int>(counts.input_count),
                  static_cast<int>(counts.output_count),
                  static_cast<int>(record.tx_queue_size - counts.output_count),
                  bit(errors, CE_BREAK), bit(errors, CE_FRAME), bit(errors, CE_OVERRUN),
                  bit(errors, CE_RXPARITY));
    sink(line);
    std::snprintf(line, sizeof line, "CE_BREAK:%d  CE_FRAME:%d  CE_MODE:%d CE_OVERRUN:%d",
                  bit(flags, CE_BREAK), bit(flags, CE_FRAME), bit(flags, CE_MODE),
                  bit(flags, CE_OVERRUN));
    sink(line);
    const auto modem = static_cast<std::uint32_t>(driver_modem_status(port));
    std::snprintf(line, sizeof line,
                  "CE_RXOVER:%d CE_RXPARITY:%d CE_TXFULL:%d  CTS/DSR/RI/CD: %d%d%d%d",
                  bit(flags, CE_RXOVER), bit(flags, CE_RXPARITY), bit(flags, CE_TXFULL),
                  bit(modem, MS_CTS_ON), bit(modem, MS_DSR_ON), bit(modem, MS_RING_ON),
                  bit(modem, MS_RLSD_ON));
    sink(line);
    // "%04.4x" as the host's formatter has it: precision 4 already pads with zeros.
    std::snprintf(line, sizeof line, "8250:%.4x", record.uart_8250_word);
    sink(line);
}

PortStatus driver_dump(PortObject* port, const PortLineSink& sink) {
    sink("");
    emit_settings_lines(record_of(port).dcb, sink);
    emit_state_lines(port, sink);
    return PORT_OK;
}

// --- open -----------------------------------------------------------------------------

void fill_driver_slots(PortObject* port) {
    port->read_char = driver_read_char;
    port->write_char = driver_write_char;
    port->close = driver_close;
    port->set_line_format = driver_set_line_format;
    port->set_xon_xoff = driver_set_xon_xoff;
    port->set_rts_cts = driver_set_rts_cts;
    port->set_dtr_dsr = driver_set_dtr_dsr;
    port->set_dtr = driver_set_dtr;
    port->set_rts = driver_set_rts;
    port->tx_free = driver_tx_free;
    port->tx_count = driver_tx_count;
    port->rx_free = driver_rx_free;
    port->rx_count = driver_rx_count;
    port->clear_tx = driver_clear_tx;
    port->write_block = driver_write_block;
    port->read_block = driver_read_block;
    port->dump = driver_dump;
    port->send_break = driver_send_break;
    port->modem_status = driver_modem_status;
    port->line_errors = driver_line_errors;
    port->clear_line_errors = driver_clear_line_errors;
    port->wait_for_input = driver_wait_for_input;
}

// The settings this driver always uses; rate, data bits, parity and stop bits come from
// set_line_format, the remaining fields keep what the device reported. Software flow control
// is always switched off, whatever another program left on the line: the download replies
// are binary, and an XON or XOFF byte inside them would start or stop the transmitter.
void apply_driver_settings(WindowsDriverRecord& record) {
    SerialSettings& dcb = record.dcb;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fDsrSensitivity = 0;
    const auto flow_limit = static_cast<std::uint16_t>(record.rx_queue_size / 4);
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fNull = 0;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = flow_limit;
    dcb.XoffLim = flow_limit;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

}  // namespace

PortStatus open_windows_device(PortObject* port, int index, const std::string& device) {
    WindowsDriverRecord& record = record_of(port);
    record.rx_queue_size = port_rx_queue_size;
    record.tx_queue_size = port_tx_queue_size;
    record.line_error_flags = 0;
    SerialHandle handle = serial_open(index, device);
    port->status = PORT_OK;
    if (handle == nullptr) {
        port->status = map_platform_error();
        return port->status;
    }
    record.handle = handle;
    serial_setup_queues(handle, static_cast<std::uint32_t>(record.rx_queue_size),
                        record.tx_queue_size);
    serial_get_event_mask(handle, &record.saved_event_mask);
    serial_set_event_mask(handle, 0);
    serial_get_settings(handle, &record.dcb);
    apply_driver_settings(record);
    serial_get_timeouts(handle, &record.saved_timeouts);
    serial_set_timeouts(handle, SerialTimeouts{MAXDWORD, 0, 0, 0, 0});
    return port->status;
}

PortObject* open_windows_port(int index, int baud, char parity, int data_bits, int stop_bits,
                              const std::string& device) {
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    if (port == nullptr) {
        return hand_out_fallback_port_object();
    }
    init_port_object(port);
    if (!serial_host_supported()) {
        port->status = PORT_E_NOT_SUPPORTED;
        return port;
    }
    auto* record =
        static_cast<WindowsDriverRecord*>(allocate_port_memory(sizeof(WindowsDriverRecord)));
    if (record == nullptr) {
        release_port_object(port);
        return hand_out_fallback_port_object();
    }
    port->driver = record;
    port->port_index = index;
    port->driver_kind = WINDOWS_DRIVER_KIND;
    if (open_windows_device(port, index, device) < 0) {
        return port;
    }
    driver_set_line_format(port, baud, parity, data_bits, stop_bits);
    fill_driver_slots(port);
    return port;
}

PortStatus set_baud_rate(PortObject* port, int baud) {
    // Only a port this driver opened has a device to talk to.
    if (port->driver_kind != WINDOWS_DRIVER_KIND || port->driver == nullptr ||
        record_of(port).handle == nullptr) {
        return PORT_E_NOT_SUPPORTED;
    }
    SerialHandle handle = record_of(port).handle;
    SerialSettings scratch{};
    if (!serial_get_settings(handle, &scratch)) {
        return map_platform_error();
    }
    scratch.BaudRate = static_cast<std::uint32_t>(baud);
    if (!serial_set_settings(handle, scratch)) {
        return map_platform_error();
    }
    return PORT_OK;
}

PortStatus map_platform_error() {
    switch (serial_last_error()) {
        case SERIAL_ERROR_FILE_NOT_FOUND:
        case SERIAL_ERROR_PATH_NOT_FOUND:
        case SERIAL_IE_HARDWARE:
            return PORT_E_NO_PORT;
        case SERIAL_ERROR_ACCESS_DENIED:
        case SERIAL_IE_OPEN:
            return PORT_E_IN_USE;
        case SERIAL_IE_BADID:
            return PORT_E_BAD_PORT;
        case SERIAL_IE_MEMORY:
            return PORT_E_NO_MEMORY;
        case SERIAL_IE_BYTESIZE:
            return PORT_E_BAD_DATA_BITS;
        case SERIAL_IE_BAUDRATE:
            return PORT_E_BAD_BAUD;
        default:
            return PORT_E_FAILED;
    }
}
