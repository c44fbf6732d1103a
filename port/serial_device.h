#pragma once

#include <cstdint>
#include <string>

// The serial-device operations the serial driver needs, one implementation per operating
// system (Win32 itself on Windows, termios and ioctl on POSIX). The driver is written once
// against this interface; nothing above it sees an OS type. Failures are reported the Win32
// way: the call returns false (or nullptr) and serial_last_error() gives the reason, using
// the Win32 error numbers below whatever the OS.

using SerialHandle = void*;  // nullptr: no device

// Last-error values the driver distinguishes (Win32 numbering).
inline constexpr std::int32_t SERIAL_ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::int32_t SERIAL_ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::int32_t SERIAL_ERROR_ACCESS_DENIED = 5;
inline constexpr std::int32_t SERIAL_ERROR_NOT_SUPPORTED = 50;
inline constexpr std::int32_t SERIAL_ERROR_OPERATION_ABORTED = 995;
inline constexpr std::int32_t SERIAL_ERROR_IO_PENDING = 997;
inline constexpr std::int32_t SERIAL_IE_BADID = -1;
inline constexpr std::int32_t SERIAL_IE_OPEN = -2;
inline constexpr std::int32_t SERIAL_IE_MEMORY = -4;
inline constexpr std::int32_t SERIAL_IE_HARDWARE = -10;
inline constexpr std::int32_t SERIAL_IE_BYTESIZE = -11;
inline constexpr std::int32_t SERIAL_IE_BAUDRATE = -12;

// Line-error bits reported by serial_clear_error.
inline constexpr std::uint32_t CE_RXOVER = 0x0001;
inline constexpr std::uint32_t CE_OVERRUN = 0x0002;
inline constexpr std::uint32_t CE_RXPARITY = 0x0004;
inline constexpr std::uint32_t CE_FRAME = 0x0008;
inline constexpr std::uint32_t CE_BREAK = 0x0010;
inline constexpr std::uint32_t CE_TXFULL = 0x0100;
inline constexpr std::uint32_t CE_MODE = 0x8000;

// Modem input line bits reported by serial_modem_status.
inline constexpr std::uint32_t MS_CTS_ON = 0x10;
inline constexpr std::uint32_t MS_DSR_ON = 0x20;
inline constexpr std::uint32_t MS_RING_ON = 0x40;
inline constexpr std::uint32_t MS_RLSD_ON = 0x80;

// Parity, stop-bit and line-control codes of SerialSettings.
inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t TWOSTOPBITS = 2;
inline constexpr unsigned DTR_CONTROL_DISABLE = 0;
inline constexpr unsigned DTR_CONTROL_ENABLE = 1;
inline constexpr unsigned DTR_CONTROL_HANDSHAKE = 2;
inline constexpr unsigned RTS_CONTROL_DISABLE = 0;
inline constexpr unsigned RTS_CONTROL_ENABLE = 1;
inline constexpr unsigned RTS_CONTROL_HANDSHAKE = 2;

// Rate codes the driver hands the device for the two rates above 57600 it accepts.
inline constexpr std::uint32_t SERIAL_RATE_CODE_128000 = 0x1FF00;
inline constexpr std::uint32_t SERIAL_RATE_CODE_256000 = 0x3FF00;

// The line rate a rate code stands for; any other value is a plain rate already. Both
// device layers take plain rates.
inline std::uint32_t serial_plain_rate(std::uint32_t baud_rate) {
    switch (baud_rate) {
        case SERIAL_RATE_CODE_128000:
            return 128000;
        case SERIAL_RATE_CODE_256000:
            return 256000;
        default:
            return baud_rate;
    }
}

// The complete line settings of a device (the fields of the Win32 DCB).
struct SerialSettings {
    std::uint32_t BaudRate;  // a plain rate, or one of the two rate codes
    unsigned fBinary;
    unsigned fParity;
    unsigned fOutxCtsFlow;
    unsigned fOutxDsrFlow;
    unsigned fDtrControl;
    unsigned fDsrSensitivity;
    unsigned fTXContinueOnXoff;
    unsigned fOutX;
    unsigned fInX;
    unsigned fErrorChar;
    unsigned fNull;
    unsigned fRtsControl;
    unsigned fAbortOnError;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
};

// Read and write time-outs (the fields of the Win32 COMMTIMEOUTS).
struct SerialTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};

// Bytes waiting in the device's queues.
struct SerialQueueCounts {
    std::uint32_t input_count;   // received, not yet read
    std::uint32_t output_count;  // written, not yet sent
};

// Asynchronous-I/O control block of one port, owned by the driver record and passed with
// every read and write. Opaque storage for the implementation. (Windows keeps the OVERLAPPED
// with the device instead: the system may hold on to it after the record is freed.)
struct SerialIoBlock {
    alignas(8) unsigned char storage[64];
};

// EscapeCommFunction codes used by the driver.
inline constexpr int SERIAL_CLRRTS = 4;
inline constexpr int SERIAL_CLRDTR = 6;

// False on a host without serial-device support.
bool serial_host_supported();
// Opens device, or COM(index + 1) when device is empty, for exclusive reading and writing
// with asynchronous I/O.
SerialHandle serial_open(int index, const std::string& device);
// The device COM(index + 1) stands for, as the user would name it (\\.\COM3, /dev/ttyUSB0).
std::string serial_device_name(int index);
bool serial_setup_queues(SerialHandle device, std::uint32_t rx_size, std::uint32_t tx_size);
bool serial_get_event_mask(SerialHandle device, std::uint32_t* mask);
bool serial_set_event_mask(SerialHandle device, std::uint32_t mask);
bool serial_get_settings(SerialHandle device, SerialSettings* settings);
bool serial_set_settings(SerialHandle device, const SerialSettings& settings);
bool serial_get_timeouts(SerialHandle device, SerialTimeouts* timeouts);
bool serial_set_timeouts(SerialHandle device, const SerialTimeouts& timeouts);
// Returns and clears the line-error word, with the queue counts.
bool serial_clear_error(SerialHandle device, std::uint32_t* errors, SerialQueueCounts* counts);
// Start a read of up to n already received bytes / a write of n bytes. True when it
// completed at once with *done bytes; false otherwise, and serial_last_error() is
// SERIAL_ERROR_IO_PENDING while it is still under way. No wait is unbounded: a write still
// under way 2 s after it started is cancelled when the next operation (or the close) needs
// the I/O block, and the next write then fails with SERIAL_ERROR_OPERATION_ABORTED.
bool serial_read(SerialHandle device, void* buffer, std::uint32_t n, std::uint32_t* done,
                 SerialIoBlock* io);
bool serial_write(SerialHandle device, const void* bytes, std::uint32_t n, std::uint32_t* done,
                  SerialIoBlock* io);
// Waits up to limit_ms for the read or write under way on io to complete; one that does not
// is cancelled and fails with SERIAL_ERROR_OPERATION_ABORTED.
bool serial_finish_io(SerialHandle device, SerialIoBlock* io, std::uint32_t* transferred,
                      std::uint32_t limit_ms);
// What a wait for input found.
enum class SerialInput {
    none,       // nothing received within the limit
    waiting,    // received bytes are waiting to be read
    line_lost,  // the line hung up or the device has gone, and nothing is left to read
};
// Waits up to limit_ms for received bytes to be waiting. Lets a poll loop sleep on the
// device instead of spinning; it reads nothing and changes no state the driver sees.
SerialInput serial_wait_for_input(SerialHandle device, std::uint32_t limit_ms);
bool serial_purge_tx(SerialHandle device);
bool serial_escape(SerialHandle device, int function);
bool serial_modem_status(SerialHandle device, std::uint32_t* bits);
bool serial_set_break(SerialHandle device);
bool serial_clear_break(SerialHandle device);
bool serial_close(SerialHandle device);
std::int32_t serial_last_error();
