// The serial-device layer on Windows: each operation is the Win32 communications call of the
// same purpose, and Win32's own last-error value is the one the driver maps.
//
// serial_device.h comes before <windows.h>: its constants carry the names Win32 defines as
// macros, and the header must see its own declarations before the macros exist.
#include "port/serial_device.h"

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

static_assert(sizeof(OVERLAPPED) <= sizeof(SerialIoBlock::storage),
              "a port's OVERLAPPED must fit its SerialIoBlock");
static_assert(alignof(OVERLAPPED) <= alignof(SerialIoBlock),
              "a port's OVERLAPPED must be aligned in its SerialIoBlock");

HANDLE device_handle(SerialHandle device) {
    return static_cast<HANDLE>(device);
}

OVERLAPPED* overlapped_of(SerialIoBlock* io) {
    return reinterpret_cast<OVERLAPPED*>(io->storage);
}

// One OVERLAPPED serves every read and write of a port. The system writes into it until the
// operation it was given completes, so a new operation must not take it over while the
// previous one (a write under way, which the driver never waits for) is still pending.
void finish_pending_io(HANDLE handle, OVERLAPPED* overlapped) {
    if (!HasOverlappedIoCompleted(overlapped)) {
        DWORD ignored = 0;
        GetOverlappedResult(handle, overlapped, &ignored, TRUE);
    }
}

OVERLAPPED* fresh_overlapped(HANDLE handle, SerialIoBlock* io) {
    OVERLAPPED* overlapped = overlapped_of(io);
    finish_pending_io(handle, overlapped);
    std::memset(overlapped, 0, sizeof *overlapped);
    return overlapped;
}

// The system reads a write's bytes from the buffer it was given until the write completes,
// yet a write under way counts as done and its caller's buffer may be gone by then (a single
// byte on the stack). So every device writes from a copy of its own, kept until its next
// read or write (which first waits for this one) or its close.
struct WriteCopy {
    OVERLAPPED* overlapped = nullptr;
    std::vector<unsigned char> bytes;
};

std::map<HANDLE, WriteCopy>& write_copies() {
    // Never destroyed: ports still open at exit are closed by an exit-time clean-up that may
    // run after static objects are gone.
    static auto* copies = new std::map<HANDLE, WriteCopy>;
    return *copies;
}

void release_write_copy(HANDLE handle) {
    auto found = write_copies().find(handle);
    if (found == write_copies().end()) {
        return;
    }
    finish_pending_io(handle, found->second.overlapped);
    write_copies().erase(found);
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

SerialHandle serial_open(int index) {
    char name[32];
    wsprintfA(name, "\\\\.\\COM%d", index + 1);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
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
    *errors = error_word;
    counts->input_count = comstat.cbInQue;
    counts->output_count = comstat.cbOutQue;
    return true;
}

bool serial_read(SerialHandle device, void* buffer, std::uint32_t n, std::uint32_t* done,
                 SerialIoBlock* io) {
    HANDLE handle = device_handle(device);
    DWORD transferred = 0;
    BOOL completed = ReadFile(handle, buffer, n, &transferred, fresh_overlapped(handle, io));
    *done = completed ? transferred : 0;
    return completed != FALSE;
}

bool serial_write(SerialHandle device, const void* bytes, std::uint32_t n, std::uint32_t* done,
                  SerialIoBlock* io) {
    HANDLE handle = device_handle(device);
    OVERLAPPED* overlapped = fresh_overlapped(handle, io);
    WriteCopy& copy = write_copies()[handle];
    copy.overlapped = overlapped;
    const auto* first = static_cast<const unsigned char*>(bytes);
    copy.bytes.assign(first, first + n);
    DWORD transferred = 0;
    BOOL completed = WriteFile(handle, copy.bytes.data(), n, &transferred, overlapped);
    *done = completed ? transferred : 0;
    return completed != FALSE;
}

bool serial_finish_io(SerialHandle device, SerialIoBlock* io, std::uint32_t* transferred) {
    DWORD value = 0;
    if (!GetOverlappedResult(device_handle(device), overlapped_of(io), &value, TRUE)) {
        return false;
    }
    *transferred = value;
    return true;
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

bool serial_close(SerialHandle device) {
    HANDLE handle = device_handle(device);
    release_write_copy(handle);
    return CloseHandle(handle) != FALSE;
}

std::int32_t serial_last_error() {
    return static_cast<std::int32_t>(GetLastError());
}
