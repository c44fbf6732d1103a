// The serial-device layer on termios and ioctl. COM ports are the machine's serial devices
// numbered as a Windows PC numbers them, or the paths named by KORVAN_COM1..; reads and
// writes never block, and failures are reported with the Win32 error numbers the driver
// understands.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "port/clock.h"
#include "port/linux_port_map.h"
#include "port/posix_custom_baud.h"
#include "port/serial_device.h"
#include "port/serial_device_posix.h"

namespace {

constexpr std::int32_t SERIAL_ERROR_GEN_FAILURE = 31;
constexpr std::int32_t SERIAL_ERROR_INVALID_PARAMETER = 87;
constexpr std::uint32_t HIGHEST_RATE = 4000000;

std::int32_t last_error = 0;

struct PosixSerialDevice {
    int fd;
    SerialSettings settings;  // the settings last written (or found at open)
    serial_icounter_struct icount_baseline;
    bool has_icounts;
    std::uint32_t event_mask;
    SerialTimeouts timeouts;
    bool lowered_latency;  // this open set the driver's low-latency flag: the close clears it
};

// What a read or write left in the port's I/O block for serial_finish_io.
struct IoOutcome {
    bool succeeded;
    std::uint32_t transferred;
    std::int32_t error;
};
static_assert(sizeof(IoOutcome) <= sizeof(SerialIoBlock::storage));

PosixSerialDevice& device_of(SerialHandle handle) {
    return *static_cast<PosixSerialDevice*>(handle);
}

bool fail(std::int32_t error) {
    last_error = error;
    return false;
}

bool fail_with_errno() {
    return fail(serial_error_from_errno(errno));
}

void record_outcome(SerialIoBlock* io, const IoOutcome& outcome) {
    std::memcpy(io->storage, &outcome, sizeof outcome);
}

// --- speeds ---------------------------------------------------------------------------

struct StandardRate {
    std::uint32_t rate;
    speed_t code;
};

constexpr StandardRate standard_rates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool standard_speed(std::uint32_t rate, speed_t* code) {
    for (const StandardRate& entry : standard_rates) {
        if (entry.rate == rate) {
            *code = entry.code;
            return true;
        }
    }
    return false;
}

bool apply_line_rate(int fd, termios& attributes, std::uint32_t rate) {
    speed_t code = 0;
    if (standard_speed(rate, &code)) {
        attributes.c_cflag &= ~CIBAUD;  // input speed follows the output speed
        cfsetispeed(&attributes, code);
        cfsetospeed(&attributes, code);
        if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
            return errno == EINVAL ? fail(SERIAL_IE_BAUDRATE) : fail_with_errno();
        }
        return true;
    }
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        return fail_with_errno();
    }
    if (!set_custom_line_rate(fd, rate)) {
        return errno == EINVAL ? fail(SERIAL_IE_BAUDRATE) : fail_with_errno();
    }
    return true;
}

// --- settings record <-> termios ------------------------------------------------------

bool character_size(std::uint8_t byte_size, tcflag_t* flag) {
    switch (byte_size) {
        case 5:
            *flag = CS5;
            return true;
        case 6:
            *flag = CS6;
            return true;
        case 7:
            *flag = CS7;
            return true;
        case 8:
            *flag = CS8;
            return true;
        default:
            return false;
    }
}

bool parity_flags(std::uint8_t parity, tcflag_t* flags) {
    switch (parity) {
        case NOPARITY:
            *flags = 0;
            return true;
        case ODDPARITY:
            *flags = PARENB | PARODD;
            return true;
        case EVENPARITY:
            *flags = PARENB;
            return true;
        case MARKPARITY:
            *flags = PARENB | PARODD | CMSPAR;
            return true;
        case SPACEPARITY:
            *flags = PARENB | CMSPAR;
            return true;
        default:
            return false;
    }
}

// Raw 8-bit traffic with no flow control and reads that return what is there.
void make_raw(termios& attributes) {
    cfmakeraw(&attributes);
    attributes.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    attributes.c_cflag &= ~CRTSCTS;
    attributes.c_cflag |= CLOCAL | CREAD;
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 0;
}

bool settings_to_termios(const SerialSettings& settings, termios& attributes) {
    tcflag_t size = 0;
    tcflag_t parity = 0;
    if (!character_size(settings.ByteSize, &size)) {
        return fail(SERIAL_IE_BYTESIZE);
    }
    if (!parity_flags(settings.Parity, &parity) || settings.StopBits > TWOSTOPBITS) {
        return fail(SERIAL_ERROR_INVALID_PARAMETER);
    }
    make_raw(attributes);
    attributes.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    attributes.c_cflag |= size | parity;
    if (settings.StopBits != ONESTOPBIT) {
        attributes.c_cflag |= CSTOPB;
    }
    if (settings.fParity != 0) {
        attributes.c_iflag |= INPCK;
    }
    if (settings.fOutxCtsFlow != 0 || settings.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        attributes.c_cflag |= CRTSCTS;
    }
    if (settings.fOutX != 0) {
        attributes.c_iflag |= IXON;
    }
    if (settings.fInX != 0) {
        attributes.c_iflag |= IXOFF;
    }
    attributes.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
    attributes.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);
    return true;
}

std::uint8_t byte_size_of(const termios& attributes) {
    switch (attributes.c_cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

std::uint8_t parity_of(const termios& attributes) {
    const tcflag_t flags = attributes.c_cflag;
    if ((flags & PARENB) == 0) {
        return NOPARITY;
    }
    if ((flags & CMSPAR) != 0) {
        return (flags & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
    }
    return (flags & PARODD) != 0 ? ODDPARITY : EVENPARITY;
}

// The settings record describing a device's termios as found at open.
SerialSettings settings_from_termios(const termios& attributes, std::uint32_t rate) {
    SerialSettings settings{};
    const bool hardware_flow = (attributes.c_cflag & CRTSCTS) != 0;
    settings.BaudRate = rate;
    settings.fBinary = 1;
    settings.fParity = (attributes.c_iflag & INPCK) != 0 ? 1 : 0;
    settings.fOutxCtsFlow = hardware_flow ? 1 : 0;
    settings.fDtrControl = DTR_CONTROL_ENABLE;  // the kernel raises DTR and RTS at open
    settings.fRtsControl = hardware_flow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    settings.fOutX = (attributes.c_iflag & IXON) != 0 ? 1 : 0;
    settings.fInX = (attributes.c_iflag & IXOFF) != 0 ? 1 : 0;
    settings.ByteSize = byte_size_of(attributes);
    settings.Parity = parity_of(attributes);
    settings.StopBits = (attributes.c_cflag & CSTOPB) != 0 ? TWOSTOPBITS : ONESTOPBIT;
    settings.XonChar = static_cast<char>(attributes.c_cc[VSTART]);
    settings.XoffChar = static_cast<char>(attributes.c_cc[VSTOP]);
    return settings;
}

// --- modem control lines --------------------------------------------------------------

// A device without modem control lines (a pseudo-terminal answers ENOTTY) has nothing to
// raise or lower: that is not a failure.
bool change_modem_lines(int fd, unsigned long request, int lines) {
    if (ioctl(fd, request, &lines) == 0 || errno == ENOTTY || errno == EINVAL) {
        return true;
    }
    return fail_with_errno();
}

void apply_modem_lines(int fd, const SerialSettings& settings) {
    const bool dtr_up = settings.fDtrControl != DTR_CONTROL_DISABLE;
    const bool rts_up = settings.fRtsControl != RTS_CONTROL_DISABLE;
    change_modem_lines(fd, dtr_up ? TIOCMBIS : TIOCMBIC, TIOCM_DTR);
    change_modem_lines(fd, rts_up ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
}

// --- line errors and modem lines -----------------------------------------------------

std::uint32_t flag_if(bool condition, std::uint32_t flag) {
    return condition ? flag : 0;
}

// The line-error word for what the device counted since the baseline.
std::uint32_t line_errors_between(const serial_icounter_struct& before,
                                  const serial_icounter_struct& now) {
    return flag_if(now.overrun != before.overrun, CE_OVERRUN) |
           flag_if(now.buf_overrun != before.buf_overrun, CE_RXOVER) |
           flag_if(now.parity != before.parity, CE_RXPARITY) |
           flag_if(now.frame != before.frame, CE_FRAME) | flag_if(now.brk != before.brk, CE_BREAK);
}

// --- open and close -------------------------------------------------------------------

bool lock_exclusively(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? SERIAL_ERROR_ACCESS_DENIED
                                         : serial_error_from_errno(errno));
    }
    // Keeps out openers that do not take the lock; root is not kept out by it.
    ioctl(fd, TIOCEXCL);
    return true;
}

bool set_up_raw_line(PosixSerialDevice& device) {
    termios attributes{};
    if (tcgetattr(device.fd, &attributes) != 0) {
        return fail(errno == ENOTTY ? SERIAL_IE_HARDWARE : serial_error_from_errno(errno));
    }
    make_raw(attributes);
    if (tcsetattr(device.fd, TCSANOW, &attributes) != 0) {
        return fail_with_errno();
    }
    std::uint32_t rate = 0;
    if (!get_line_rate(device.fd, &rate)) {
        return fail_with_errno();
    }
    device.settings = settings_from_termios(attributes, rate);
    device.has_icounts = ioctl(device.fd, TIOCGICOUNT, &device.icount_baseline) == 0;
    return true;
}

// Opening a UART line with no hardware behind it succeeds and then answers nothing, which
// costs the search seconds per speed: it is no port. The kernel console is never opened:
// a modem there would share the line with the kernel's messages.
bool may_be_opened(const std::string& path) {
    const std::optional<TtyIdentity> tty = identify_tty(path, system_roots());
    if (tty && tty->phantom) {
        return fail(SERIAL_ERROR_FILE_NOT_FOUND);
    }
    if (tty && tty->console) {
        return fail(SERIAL_ERROR_ACCESS_DENIED);
    }
    return true;
}

// A USB serial adapter holds received bytes back for up to its latency timer (16 ms on an
// FTDI chip) before handing them over, and every record waits for its short reply: the
// serial core's low-latency flag makes such a driver hand them over at once (ftdi_sio sets
// a 1 ms timer). A driver without the setting (a pseudo-terminal) refuses, which is fine.
bool lower_receive_latency(int fd) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) {
        return false;
    }
    info.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &info) == 0;
}

// The driver keeps the flag after the close, so the adapter is given back as it was found.
void restore_receive_latency(const PosixSerialDevice& device) {
    serial_struct info{};
    if (device.lowered_latency && ioctl(device.fd, TIOCGSERIAL, &info) == 0) {
        info.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(device.fd, TIOCSSERIAL, &info);
    }
}

int output_queued(int fd) {
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

// Output still queued at the close is given time while the line keeps taking it. Output the
// line stopped taking (a stalled adapter, a line held by flow control) is thrown away: the
// kernel would otherwise hold the close for its closing wait, 30 s by default. Only root
// may lift that wait itself; for others the flush has to do.
void let_close_go_without_waiting(int fd) {
    constexpr std::uint32_t STALL_MS = 100;
    constexpr std::uint32_t LONGEST_MS = 2000;
    Clock& clock = port_clock();
    const std::uint32_t start = clock.tick_ms();
    std::uint32_t last_progress = start;
    int queued = output_queued(fd);
    while (queued > 0) {
        const std::uint32_t now = clock.tick_ms();
        if (elapsed_ms(last_progress, now) >= STALL_MS || elapsed_ms(start, now) >= LONGEST_MS) {
            break;
        }
        clock.sleep_ms(1);
        const int left = output_queued(fd);
        if (left < queued) {
            last_progress = clock.tick_ms();
        }
        queued = left;
    }
    if (queued == 0) {
        return;
    }
    tcflush(fd, TCOFLUSH);
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) == 0 && info.closing_wait != ASYNC_CLOSING_WAIT_NONE) {
        info.closing_wait = ASYNC_CLOSING_WAIT_NONE;
        ioctl(fd, TIOCSSERIAL, &info);
    }
}

bool release_device(PosixSerialDevice* device) {
    restore_receive_latency(*device);
    let_close_go_without_waiting(device->fd);
    // A pseudo-terminal keeps the exclusive flag after its last close.
    ioctl(device->fd, TIOCNXCL);
    const bool closed = close(device->fd) == 0;
    const int error = errno;
    delete device;
    return closed || fail(serial_error_from_errno(error));
}

}  // namespace

std::string serial_device_path(int index) {
    if (std::optional<std::string> mapped = com_port_setting(index + 1)) {
        return *mapped;
    }
    const std::optional<SerialDeviceInfo> device =
        com_port_device(scan_serial_devices(system_roots()), index + 1);
    return device ? device->path : std::string();
}

std::string serial_device_name(int index) {
    return serial_device_path(index);
}

std::int32_t serial_error_from_errno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return SERIAL_ERROR_FILE_NOT_FOUND;
        case EBUSY:
        case EACCES:
        case EPERM:
        case EWOULDBLOCK:
            return SERIAL_ERROR_ACCESS_DENIED;
        case ENOMEM:
            return SERIAL_IE_MEMORY;
        case ENOTTY:
            return SERIAL_ERROR_NOT_SUPPORTED;
        default:
            return SERIAL_ERROR_GEN_FAILURE;
    }
}

void serial_set_last_error(std::int32_t error) {
    last_error = error;
}

bool serial_host_supported() {
    return true;
}

SerialHandle serial_open(int index, const std::string& named_device) {
    if (index < 0 && named_device.empty()) {
        fail(SERIAL_ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const std::string path = named_device.empty() ? serial_device_path(index) : named_device;
    if (!may_be_opened(path)) {
        return nullptr;
    }
    auto* device = new (std::nothrow) PosixSerialDevice{};
    if (device == nullptr) {
        fail(SERIAL_IE_MEMORY);
        return nullptr;
    }
    device->fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device->fd < 0) {
        fail_with_errno();
        delete device;
        return nullptr;
    }
    if (!lock_exclusively(device->fd)) {
        // Another opener holds the line: its exclusive flag is not ours to clear.
        close(device->fd);
        delete device;
        return nullptr;
    }
    if (!set_up_raw_line(*device)) {
        const std::int32_t error = last_error;
        release_device(device);
        fail(error);
        return nullptr;
    }
    device->lowered_latency = lower_receive_latency(device->fd);
    return device;
}

// The kernel's queues have fixed sizes; the driver keeps its own numbers.
bool serial_setup_queues(SerialHandle, std::uint32_t, std::uint32_t) {
    return true;
}

// POSIX has no device event mask or read time-outs: the values are only kept.
bool serial_get_event_mask(SerialHandle device, std::uint32_t* mask) {
    *mask = device_of(device).event_mask;
    return true;
}

bool serial_set_event_mask(SerialHandle device, std::uint32_t mask) {
    device_of(device).event_mask = mask;
    return true;
}

bool serial_get_timeouts(SerialHandle device, SerialTimeouts* timeouts) {
    *timeouts = device_of(device).timeouts;
    return true;
}

bool serial_set_timeouts(SerialHandle device, const SerialTimeouts& timeouts) {
    device_of(device).timeouts = timeouts;
    return true;
}

bool serial_get_settings(SerialHandle handle, SerialSettings* settings) {
    PosixSerialDevice& device = device_of(handle);
    std::uint32_t rate = 0;
    if (!get_line_rate(device.fd, &rate)) {
        return fail_with_errno();
    }
    *settings = device.settings;
    if (rate != serial_plain_rate(device.settings.BaudRate)) {
        settings->BaudRate = rate;
    }
    return true;
}

bool serial_set_settings(SerialHandle handle, const SerialSettings& settings) {
    PosixSerialDevice& device = device_of(handle);
    const std::uint32_t rate = serial_plain_rate(settings.BaudRate);
    if (rate == 0 || rate > HIGHEST_RATE) {
        return fail(SERIAL_IE_BAUDRATE);
    }
    termios attributes{};
    if (tcgetattr(device.fd, &attributes) != 0) {
        return fail_with_errno();
    }
    if (!settings_to_termios(settings, attributes) ||
        !apply_line_rate(device.fd, attributes, rate)) {
        return false;
    }
    apply_modem_lines(device.fd, settings);
    device.settings = settings;
    return true;
}

bool serial_clear_error(SerialHandle handle, std::uint32_t* errors, SerialQueueCounts* counts) {
    PosixSerialDevice& device = device_of(handle);
    *errors = 0;
    *counts = SerialQueueCounts{};
    int input = 0;
    int output = 0;
    if (ioctl(device.fd, FIONREAD, &input) != 0 || ioctl(device.fd, TIOCOUTQ, &output) != 0) {
        return fail_with_errno();
    }
    counts->input_count = static_cast<std::uint32_t>(input);
    counts->output_count = static_cast<std::uint32_t>(output);
    serial_icounter_struct now{};
    if (device.has_icounts && ioctl(device.fd, TIOCGICOUNT, &now) == 0) {
        *errors = line_errors_between(device.icount_baseline, now);
        device.icount_baseline = now;
    }
    return true;
}

bool serial_read(SerialHandle handle, void* buffer, std::uint32_t n, std::uint32_t* done,
                 SerialIoBlock* io) {
    *done = 0;
    if (n == 0) {
        record_outcome(io, {true, 0, 0});
        return true;
    }
    const ssize_t got = read(device_of(handle).fd, buffer, n);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR))) {
        *done = got > 0 ? static_cast<std::uint32_t>(got) : 0;
        record_outcome(io, {true, *done, 0});
        return true;
    }
    // End of file: the other end of the line is gone.
    const std::int32_t error = got == 0 ? SERIAL_ERROR_GEN_FAILURE : serial_error_from_errno(errno);
    record_outcome(io, {false, 0, error});
    return fail(error);
}

bool serial_write(SerialHandle handle, const void* bytes, std::uint32_t n, std::uint32_t* done,
                  SerialIoBlock* io) {
    *done = 0;
    if (n == 0) {
        record_outcome(io, {true, 0, 0});
        return true;
    }
    const ssize_t put = write(device_of(handle).fd, bytes, n);
    if (put >= 0 || errno == EAGAIN || errno == EINTR) {
        *done = put > 0 ? static_cast<std::uint32_t>(put) : 0;
        record_outcome(io, {true, *done, 0});
        return true;
    }
    const std::int32_t error = serial_error_from_errno(errno);
    record_outcome(io, {false, 0, error});
    return fail(error);
}

// Reads and writes finish at once here; this reports how the last one ended.
bool serial_finish_io(SerialHandle, SerialIoBlock* io, std::uint32_t* transferred, std::uint32_t) {
    IoOutcome outcome{};
    std::memcpy(&outcome, io->storage, sizeof outcome);
    if (!outcome.succeeded) {
        return fail(outcome.error);
    }
    *transferred = outcome.transferred;
    return true;
}

// A hung-up line polls ready at once, forever: left to the caller's time-out it would spin
// a core. Bytes that came before the hang-up are still handed over first.
SerialInput serial_wait_for_input(SerialHandle handle, std::uint32_t limit_ms) {
    const int fd = device_of(handle).fd;
    pollfd input{fd, POLLIN, 0};
    if (poll(&input, 1, static_cast<int>(limit_ms)) <= 0) {
        return SerialInput::none;
    }
    if ((input.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
        return SerialInput::waiting;
    }
    int unread = 0;
    return ioctl(fd, FIONREAD, &unread) == 0 && unread > 0 ? SerialInput::waiting
                                                           : SerialInput::line_lost;
}

bool serial_purge_tx(SerialHandle handle) {
    return tcflush(device_of(handle).fd, TCOFLUSH) == 0 || fail_with_errno();
}

bool serial_escape(SerialHandle handle, int function) {
    const int fd = device_of(handle).fd;
    switch (function) {
        case SERIAL_CLRDTR:
            return change_modem_lines(fd, TIOCMBIC, TIOCM_DTR);
        case SERIAL_CLRRTS:
            return change_modem_lines(fd, TIOCMBIC, TIOCM_RTS);
        default:
            return fail(SERIAL_ERROR_INVALID_PARAMETER);
    }
}

bool serial_modem_status(SerialHandle handle, std::uint32_t* bits) {
    int lines = 0;
    if (ioctl(device_of(handle).fd, TIOCMGET, &lines) != 0) {
        return fail_with_errno();
    }
    *bits = flag_if(lines & TIOCM_CTS, MS_CTS_ON) | flag_if(lines & TIOCM_DSR, MS_DSR_ON) |
            flag_if(lines & TIOCM_RNG, MS_RING_ON) | flag_if(lines & TIOCM_CAR, MS_RLSD_ON);
    return true;
}

bool serial_set_break(SerialHandle handle) {
    return ioctl(device_of(handle).fd, TIOCSBRK) == 0 || fail_with_errno();
}

bool serial_clear_break(SerialHandle handle) {
    return ioctl(device_of(handle).fd, TIOCCBRK) == 0 || fail_with_errno();
}

bool serial_close(SerialHandle handle) {
    return release_device(static_cast<PosixSerialDevice*>(handle));
}

std::int32_t serial_last_error() {
    return last_error;
}
