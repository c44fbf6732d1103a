// The serial-device layer on Windows: each operation is the Win32 communications call of the
// same purpose, and Win32's own last-error value is the one the driver maps.
//
// serial_device.h comes before <windows.h>: its constants carry the names Win32 defines as
// macros, and the header must see its own declarations before the macros exist.
#include "port/serial_device.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

HANDLE device_handle(SerialHandle device) {
    return static_cast<HANDLE>(device);
}

// A write that has not completed this long after it started is given up: a line stopped by
// flow control or a stalled driver must never hold the program.
constexpr DWORD WRITE_COMPLETION_LIMIT_MS = 2000;
// How long a cancelled operation may take to report its end.
constexpr DWORD CANCELLATION_LIMIT_MS = 1000;

// What each open device keeps for its reads and writes. The system writes into the
// OVERLAPPED, into a read's buffer, and reads a write's bytes, until the operation has
// really ended; yet a write under way counts as done and its caller's bytes may be gone by
// then (a single byte on the stack), and a read its caller gave up on may still complete.
// So every operation uses this device's own OVERLAPPED and buffers, never the caller's
// memory, and no new operation takes them over while the previous one is under way.
struct DeviceIo {
    OVERLAPPED overlapped{};
    bool under_way = false;       // an operation used the OVERLAPPED and may not have ended
    HANDLE completion = nullptr;  // signalled when the operation on it ends
    std::vector<unsigned char> write_bytes;
    std::vector<unsigned char> read_bytes;
    void* read_target = nullptr;  // where a read under way hands its bytes once it ends
    DWORD write_started = 0;
    bool write_given_up = false;  // reported by the next write
    bool stuck = false;           // even the cancellation did not end: the buffers stay theirs
    DWORD unreported_errors = 0;  // line errors a wait for input cleared, for the next query
};

// Keyed by handle while the handle is open; a closed handle's entry is always removed, as
// Windows hands the same value to the next device opened.
std::map<HANDLE, std::unique_ptr<DeviceIo>>& device_ios() {
    // Never destroyed: ports still open at exit are closed by an exit-time clean-up that may
    // run after static objects are gone.
    static auto* ios = new std::map<HANDLE, std::unique_ptr<DeviceIo>>;
    return *ios;
}

DeviceIo& io_of(HANDLE handle) {
    std::unique_ptr<DeviceIo>& io = device_ios()[handle];
    if (!io) {
        io = std::make_unique<DeviceIo>();
    }
    return *io;
}

bool completes_within(DeviceIo& io, DWORD milliseconds) {
    if (HasOverlappedIoCompleted(&io.overlapped)) {
        return true;
    }
    WaitForSingleObject(io.completion, milliseconds);
    return HasOverlappedIoCompleted(&io.overlapped);
}

// Waits up to milliseconds for the operation under way to end; one that does not is
// cancelled, and the cancellation waited for. False when it was cancelled.
bool settle(HANDLE handle, DeviceIo& io, DWORD milliseconds) {
    if (!io.under_way || io.stuck || completes_within(io, milliseconds)) {
        return !io.stuck;
    }
    CancelIoEx(handle, &io.overlapped);
    io.stuck = !completes_within(io, CANCELLATION_LIMIT_MS);
    io.read_target = nullptr;  // its caller has given up on it
    return false;
}

// What is left of the last write's time; 0 when the last operation was a read (which only
// asks for bytes already received and so ends at once).
DWORD write_time_left(const DeviceIo& io) {
    if (io.write_bytes.empty()) {
        return 0;
    }
    const DWORD elapsed = GetTickCount() - io.write_started;
    return elapsed < WRITE_COMPLETION_LIMIT_MS ? WRITE_COMPLETION_LIMIT_MS - elapsed : 0;
}

// The device's OVERLAPPED, free for a new operation; nullptr while the system still holds it.
OVERLAPPED* fresh_overlapped(HANDLE handle, DeviceIo& io) {
    if (!settle(handle, io, write_time_left(io))) {
        io.write_given_up = io.write_given_up || !io.write_bytes.empty();
    }
    if (io.stuck) {
        return nullptr;
    }
    if (io.completion == nullptr) {
        io.completion = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    io.write_bytes.clear();
    io.read_target = nullptr;
    io.overlapped = OVERLAPPED{};
    io.overlapped.hEvent = io.completion;
    io.under_way = true;
    return &io.overlapped;
}

// Hands a read's bytes to the caller that is still waiting for them.
void deliver_read(DeviceIo& io, DWORD transferred) {
    if (io.read_target != nullptr && transferred <= io.read_bytes.size()) {
        std::memcpy(io.read_target, io.read_bytes.data(), transferred);
    }
    io.read_target = nullptr;
}

bool fail_with(DWORD error) {
    SetLastError(error);
    return false;
}

void settings_from_dcb(const DCB& dcb, SerialSettings* settings) {
    settings->BaudRate = dcb.BaudRate;
    settings->fBinary = dcb.fBinary;
    settings->fParity = dcb.fParity;
    settings->fOutxCtsFlow = dcb.fOutxCtsFlow;
    settings->fOutxDsrFlow = dcb.fOutxDsrFlow;
    settings->fDtrControl = dcb.fDtrControl;
    settings->fDsrSensitivity = dcb.fDsrSensitivity;
    settings->fTXContinueOnXoff = dcb.fTXContinueOnXoff;
    settings->fOutX = dcb.fOutX;
    settings->fInX = dcb.fInX;
    settings->fErrorChar = dcb.fErrorChar;
    settings->fNull = dcb.fNull;
    settings->fRtsControl = dcb.fRtsControl;
    settings->fAbortOnError = dcb.fAbortOnError;
    settings->XonLim = dcb.XonLim;
    settings->XoffLim = dcb.XoffLim;
    settings->ByteSize = dcb.ByteSize;
    settings->Parity = dcb.Parity;
    settings->StopBits = dcb.StopBits;
    settings->XonChar = dcb.XonChar;
    settings->XoffChar = dcb.XoffChar;
    settings->ErrorChar = dcb.ErrorChar;
    settings->EofChar = dcb.EofChar;
    settings->EvtChar = dcb.EvtChar;
}

DCB dcb_from_settings(const SerialSettings& settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = serial_plain_rate(settings.BaudRate);
    dcb.fBinary = settings.fBinary;
    dcb.fParity = settings.fParity;
    dcb.fOutxCtsFlow = settings.fOutxCtsFlow;
    dcb.fOutxDsrFlow = settings.fOutxDsrFlow;
    dcb.fDtrControl = settings.fDtrControl;
    dcb.fDsrSensitivity = settings.fDsrSensitivity;
    dcb.fTXContinueOnXoff = settings.fTXContinueOnXoff;
    dcb.fOutX = settings.fOutX;
    dcb.fInX = settings.fInX;
    dcb.fErrorChar = settings.fErrorChar;
    dcb.fNull = settings.fNull;
    dcb.fRtsControl = settings.fRtsControl;
    dcb.fAbortOnError = settings.fAbortOnError;
    dcb.XonLim = settings.XonLim;
    dcb.XoffLim = settings.XoffLim;
    dcb.ByteSize = settings.ByteSize;
    dcb.Parity = settings.Parity;
    dcb.StopBits = settings.StopBits;
    dcb.XonChar = settings.XonChar;
    dcb.XoffChar = settings.XoffChar;
    dcb.ErrorChar = settings.ErrorChar;
    dcb.EofChar = settings.EofChar;
    dcb.EvtChar = settings.EvtChar;
    return dcb;
}

}  // namespace

bool serial_host_supported() {
    // Windows 3.x with Win32s (not NT, major version 3) has no communications API.
    DWORD version = GetVersion();
    bool not_nt = (version & 0x80000000u) != 0;
    DWORD major = version & 0xFFu;
    return !(not_nt && major == 3);
}

SerialHandle serial_open(int index, const std::string& device) {
    const std::string name = device.empty() ? serial_device_name(index) : device;
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

std::string serial_device_name(int index) {
    return "\\\\.\\COM" + std::to_string(index + 1);
}

bool serial_setup_queues(SerialHandle device, std::uint32_t rx_size, std::uint32_t tx_size) {
    return SetupComm(device_handle(device), rx_size, tx_size) != FALSE;
}

bool serial_get_event_mask(SerialHandle device, std::uint32_t* mask) {
    DWORD value = 0;
    if (!GetCommMask(device_handle(device), &value)) {
        return false;
    }
    *mask = value;
    return true;
}

bool serial_set_event_mask(SerialHandle device, std::uint32_t mask) {
    return SetCommMask(device_handle(device), mask) != FALSE;
}

bool serial_get_settings(SerialHandle device, SerialSettings* settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(device_handle(device), &dcb)) {
        return false;
    }
    settings_from_dcb(dcb, settings);
    return true;
}

bool serial_set_settings(SerialHandle device, const SerialSettings& settings) {
    DCB dcb = dcb_from_settings(settings);
    return SetCommState(device_handle(device), &dcb) != FALSE;
}

bool serial_get_timeouts(SerialHandle device, SerialTimeouts* timeouts) {
    COMMTIMEOUTS value{};
    if (!GetCommTimeouts(device_handle(device), &value)) {
        return false;
    }
    timeouts->ReadIntervalTimeout = value.ReadIntervalTimeout;
    timeouts->ReadTotalTimeoutMultiplier = value.ReadTotalTimeoutMultiplier;
    timeouts->ReadTotalTimeoutConstant = value.ReadTotalTimeoutConstant;
    timeouts->WriteTotalTimeoutMultiplier = value.WriteTotalTimeoutMultiplier;
    timeouts->WriteTotalTimeoutConstant = value.WriteTotalTimeoutConstant;
    return true;
}

bool serial_set_timeouts(SerialHandle device, const SerialTimeouts& timeouts) {
    COMMTIMEOUTS value{};
    value.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    value.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    value.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    value.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    value.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return SetCommTimeouts(device_handle(device), &value) != FALSE;
}

bool serial_clear_error(SerialHandle device, std::uint32_t* errors, SerialQueueCounts* counts) {
    DWORD error_word = 0;
    COMSTAT comstat{};
    if (!ClearCommError(device_handle(device), &error_word, &comstat)) {
        return false;
    }
    *errors = error_word | std::exchange(io_of(device_handle(device)).unreported_errors, 0);
    counts->input_count = comstat.cbInQue;
    counts->output_count = comstat.cbOutQue;
    return true;
}

// The port's SerialIoBlock is not used here: the device keeps its own OVERLAPPED (see
// DeviceIo), which outlives the port's record when the system holds on to it.
bool serial_read(SerialHandle device, void* buffer, std::uint32_t n, std::uint32_t* done,
                 SerialIoBlock*) {
    HANDLE handle = device_handle(device);
    DeviceIo& state = io_of(handle);
    *done = 0;
    OVERLAPPED* overlapped = fresh_overlapped(handle, state);
    if (overlapped == nullptr) {
        return fail_with(ERROR_OPERATION_ABORTED);
    }
    state.read_bytes.resize(n);
    state.read_target = buffer;
    DWORD transferred = 0;
    BOOL completed = ReadFile(handle, state.read_bytes.data(), n, &transferred, overlapped);
    if (completed) {
        deliver_read(state, transferred);
        *done = transferred;
    }
    return completed != FALSE;
}

// A write given up on (see settle) fails the next write, so that the port records it.
bool serial_write(SerialHandle device, const void* bytes, std::uint32_t n, std::uint32_t* done,
                  SerialIoBlock*) {
    HANDLE handle = device_handle(device);
    DeviceIo& state = io_of(handle);
    *done = 0;
    OVERLAPPED* overlapped = fresh_overlapped(handle, state);
    if (overlapped == nullptr || std::exchange(state.write_given_up, false)) {
        return fail_with(ERROR_OPERATION_ABORTED);
    }
    const auto* first = static_cast<const unsigned char*>(bytes);
    state.write_bytes.assign(first, first + n);
    state.write_started = GetTickCount();
    DWORD transferred = 0;
    BOOL completed = WriteFile(handle, state.write_bytes.data(), n, &transferred, overlapped);
    *done = completed ? transferred : 0;
    return completed != FALSE;
}

bool serial_finish_io(SerialHandle device, SerialIoBlock*, std::uint32_t* transferred,
                      std::uint32_t limit_ms) {
    HANDLE handle = device_handle(device);
    DeviceIo& state = io_of(handle);
    if (!settle(handle, state, limit_ms)) {
        return fail_with(ERROR_OPERATION_ABORTED);
    }
    DWORD value = 0;
    if (!GetOverlappedResult(handle, &state.overlapped, &value, FALSE)) {
        state.read_target = nullptr;
        return false;
    }
    deliver_read(state, value);
    *transferred = value;
    return true;
}

// Looks at the input queue, and if it is empty sleeps once for limit_ms, then looks again.
// The system timer is asked for 1 ms resolution first: at its default 15.6 ms a 1 ms sleep
// would add that much to every wait for a reply. A device that no longer answers the query
// (an adapter pulled out) is a lost line.
SerialInput serial_wait_for_input(SerialHandle device, std::uint32_t limit_ms) {
    static const bool fine_timer = timeBeginPeriod(1) == TIMERR_NOERROR;
    (void)fine_timer;
    HANDLE handle = device_handle(device);
    DWORD& unreported = io_of(handle).unreported_errors;
    auto look = [handle, &unreported] {
        DWORD errors = 0;
        COMSTAT comstat{};
        // Queried the only way Win32 offers, which clears the error word: kept for the driver.
        if (ClearCommError(handle, &errors, &comstat) == FALSE) {
            return SerialInput::line_lost;
        }
        unreported |= errors;
        return comstat.cbInQue > 0 ? SerialInput::waiting : SerialInput::none;
    };
    const SerialInput first = look();
    if (first != SerialInput::none) {
        return first;
    }
    Sleep(limit_ms);
    return look();
}

bool serial_purge_tx(SerialHandle device) {
    return PurgeComm(device_handle(device), PURGE_TXCLEAR) != FALSE;
}

bool serial_escape(SerialHandle device, int function) {
    return EscapeCommFunction(device_handle(device), static_cast<DWORD>(function)) != FALSE;
}

bool serial_modem_status(SerialHandle device, std::uint32_t* bits) {
    DWORD value = 0;
    if (!GetCommModemStatus(device_handle(device), &value)) {
        return false;
    }
    *bits = value;
    return true;
}

bool serial_set_break(SerialHandle device) {
    return SetCommBreak(device_handle(device)) != FALSE;
}

bool serial_clear_break(SerialHandle device) {
    return ClearCommBreak(device_handle(device)) != FALSE;
}

// A write still under way gets what is left of its time, then is cancelled: closing never
// waits on a stalled line. The handle's entry goes in every case, so the next device given
// the same handle value starts afresh.
bool serial_close(SerialHandle device) {
    HANDLE handle = device_handle(device);
    auto found = device_ios().find(handle);
    if (found != device_ios().end()) {
        std::unique_ptr<DeviceIo> io = std::move(found->second);
        device_ios().erase(found);
        settle(handle, *io, write_time_left(*io));
        if (io->stuck) {
            // The system may still write into its OVERLAPPED and read buffer and signal its
            // event: they are left allocated for good rather than freed under it.
            static_cast<void>(io.release());
        } else if (io->completion != nullptr) {
            CloseHandle(io->completion);
        }
    }
    return CloseHandle(handle) != FALSE;
}

std::int32_t serial_last_error() {
    return static_cast<std::int32_t>(GetLastError());
}
