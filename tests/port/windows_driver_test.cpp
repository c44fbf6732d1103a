// The serial driver driven for real through the POSIX device layer, each port mapped to a
// pseudo-terminal whose master end plays the modem's side of the line.
#include "port/windows_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "port/port_transfer.h"
#include "tests/port/default_slots.h"
#include "tests/port/pty_line.h"
#include "tests/support/fake_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> dump_lines(PortObject* port) {
    std::vector<std::string> lines;
    port->dump(port, [&lines](const char* line) { lines.emplace_back(line); });
    return lines;
}

// Bytes written to the master reach the slave's input queue a moment later.
void wait_for_input(PortObject* port, int expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (port->rx_count(port) != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(port->rx_count(port), expected);
}

Bytes counting_bytes(std::size_t n) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

WindowsDriverRecord& record_of(PortObject* port) {
    return *static_cast<WindowsDriverRecord*>(port->driver);
}

bool on_open_port_list(PortObject* port) {
    for (PortObject* entry = open_port_list_head(); entry != nullptr; entry = entry->next) {
        if (entry == port) {
            return true;
        }
    }
    return false;
}

// COM1 mapped to a fresh pseudo-terminal and opened at 9600 8N1, as the download does.
class DriverOnPty : public testing::Test {
  protected:
    void SetUp() override {
        port = open_windows_port(0, 9600, 'N', 8, 1);
        ASSERT_EQ(port->status, PORT_OK);
    }
    void TearDown() override {
        if (port != nullptr) {
            port->close(port);
        }
    }
    PortObject* close_port() {
        PortObject* closed = port;
        EXPECT_EQ(port->close(port), PORT_OK);
        port = nullptr;
        return closed;
    }

    PtyLine line;
    ScopedComMapping com1{1, line.slave_path()};
    PortObject* port = nullptr;
};

TEST_F(DriverOnPty, OpensRawEightBitLineAtRequestedFormat) {
    EXPECT_EQ(port->driver_kind, WINDOWS_DRIVER_KIND);
    EXPECT_EQ(port->port_index, 0);
    EXPECT_NE(port->driver, nullptr);
    EXPECT_FALSE(has_default_slots(*port));
    EXPECT_EQ(open_port_list_head(), port);

    const termios seen = line.attributes();
    EXPECT_EQ(cfgetospeed(&seen), B9600);
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(seen.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(DriverOnPty, CloseReleasesPortSoItCanBeOpenedAgain) {
    EXPECT_TRUE(line.exclusive());
    PortObject* closed = close_port();
    EXPECT_FALSE(on_open_port_list(closed));
    // A pseudo-terminal would stay exclusive after the last close: no one else could open it.
    EXPECT_FALSE(line.exclusive());

    port = open_windows_port(0, 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, PORT_OK);
}

TEST_F(DriverOnPty, SecondOpenOfSamePortIsInUseWithDefaultSlots) {
    PortObject* second = open_windows_port(0, 9600, 'N', 8, 1);
    EXPECT_EQ(second->status, PORT_E_IN_USE);
    EXPECT_TRUE(has_default_slots(*second));
    EXPECT_EQ(second->close(second), PORT_OK);
    EXPECT_TRUE(line.exclusive());  // the refused open leaves the holder's flag alone

    // The refused open leaves the first one working.
    EXPECT_EQ(port->write_block(port, "AT", 2), PORT_OK);
    EXPECT_EQ(line.receive(2), (Bytes{'A', 'T'}));
}

TEST_F(DriverOnPty, ControlCharactersPassUnchangedBothWays) {
    const Bytes binary{0x11, 0x13, 0x0D, 0x0A, 0x03, 0x00, 0xFF, 0x7F};
    EXPECT_EQ(port->write_block(port, binary.data(), binary.size()), PORT_OK);
    EXPECT_EQ(line.receive(binary.size()), binary);

    line.send(binary);
    wait_for_input(port, static_cast<int>(binary.size()));
    Bytes got(binary.size());
    EXPECT_EQ(port->read_block(port, got.data(), got.size()), PORT_OK);
    EXPECT_EQ(got, binary);
}

TEST_F(DriverOnPty, BaudRateChangeIsSeenByOtherEndAndLeavesCopyAlone) {
    port->status = PORT_E_TX_FULL;
    EXPECT_EQ(set_baud_rate(port, 115200), PORT_OK);
    EXPECT_EQ(line.speed(), B115200);
    EXPECT_EQ(port->status, PORT_E_TX_FULL);
    EXPECT_EQ(record_of(port).dcb.BaudRate, 9600u);

    // Any slot that writes the copy puts the copy's older rate back.
    EXPECT_EQ(port->set_dtr(port, 1), PORT_OK);
    EXPECT_EQ(line.speed(), B9600);

    EXPECT_EQ(set_baud_rate(port, 57600), PORT_OK);
    EXPECT_EQ(line.speed(), B57600);
}

TEST_F(DriverOnPty, LineFormatAcceptsOnlyRatesUpTo57600AndTheTwoCodedRates) {
    EXPECT_EQ(port->set_line_format(port, 115200, 'N', 8, 1), PORT_E_BAD_BAUD);
    EXPECT_EQ(port->status, PORT_E_BAD_BAUD);
    EXPECT_EQ(line.speed(), B9600);
    EXPECT_EQ(record_of(port).dcb.BaudRate, 9600u);

    port->clear_status(port);
    EXPECT_EQ(port->set_line_format(port, 57600, 'n', 8, 1), PORT_OK);
    EXPECT_EQ(line.speed(), B57600);
    EXPECT_EQ(record_of(port).dcb.Parity, NOPARITY);

    EXPECT_EQ(port->set_line_format(port, 300, 'e', 7, 2), PORT_OK);
    EXPECT_EQ(line.speed(), B300);
    EXPECT_EQ(dump_lines(port)[1],
              "Port type:  MS Windows  DCB BaudRate: 300     ByteSize: 7  Parity: 2");
    EXPECT_EQ(dump_lines(port)[2], "StopBits: 2 fBinary: 1  fRtsControl: 1");

    EXPECT_EQ(port->set_line_format(port, 128000, 'N', 8, 1), PORT_OK);
    EXPECT_EQ(record_of(port).dcb.BaudRate, 0x1FF00u);
    EXPECT_EQ(line.rate(), 128000u);

    EXPECT_EQ(port->set_line_format(port, 256000, 'N', 8, 1), PORT_OK);
    EXPECT_EQ(record_of(port).dcb.BaudRate, 0x3FF00u);
    EXPECT_EQ(line.rate(), 256000u);

    // Back from a coded rate to a plain one.
    EXPECT_EQ(set_baud_rate(port, 115200), PORT_OK);
    EXPECT_EQ(line.rate(), 115200u);
    EXPECT_EQ(line.speed(), B115200);
    EXPECT_EQ(port->status, PORT_OK);
}

TEST_F(DriverOnPty, RefusedParityOrStopBitsLeaveEarlierFieldsInCopyUnwritten) {
    EXPECT_EQ(port->set_line_format(port, 57600, 'X', 7, 1), PORT_E_BAD_PARITY);
    EXPECT_EQ(port->status, PORT_E_BAD_PARITY);
    EXPECT_EQ(line.speed(), B9600);
    EXPECT_EQ(record_of(port).dcb.BaudRate, 57600u);
    EXPECT_EQ(record_of(port).dcb.ByteSize, 7);

    EXPECT_EQ(port->set_line_format(port, 4800, 'O', 8, 0), PORT_E_BAD_STOP_BITS);
    EXPECT_EQ(port->set_line_format(port, 4800, 'O', 8, 3), PORT_E_BAD_STOP_BITS);
    EXPECT_EQ(record_of(port).dcb.Parity, ODDPARITY);
    EXPECT_EQ(line.speed(), B9600);

    // The next write of the copy hands the device what was left there.
    EXPECT_EQ(port->set_rts(port, 1), PORT_OK);
    EXPECT_EQ(line.speed(), B4800);
}

TEST_F(DriverOnPty, DeviceRefusalsOfTheFormatAreMapped) {
    EXPECT_EQ(port->set_line_format(port, 9600, 'N', 9, 1), PORT_E_BAD_DATA_BITS);
    EXPECT_EQ(port->status, PORT_E_BAD_DATA_BITS);
    // Only the low 8 bits of the data bits count.
    port->clear_status(port);
    EXPECT_EQ(port->set_line_format(port, 9600, 'N', 0x108, 1), PORT_OK);
    EXPECT_EQ(port->set_line_format(port, 0, 'N', 8, 1), PORT_E_BAD_BAUD);
    EXPECT_EQ(port->set_line_format(port, -1, 'N', 8, 1), PORT_E_BAD_BAUD);
    EXPECT_EQ(set_baud_rate(port, 0), PORT_E_BAD_BAUD);
}

TEST_F(DriverOnPty, WriteBlockSendsAtMostTheQueueSize) {
    EXPECT_EQ(port->tx_count(port), 0);
    EXPECT_EQ(port->tx_free(port), 1050);

    const Bytes block = counting_bytes(1100);
    EXPECT_EQ(port->write_block(port, block.data(), 1100), PORT_E_TX_FULL);
    EXPECT_EQ(port->count, 1050u);
    EXPECT_EQ(port->status, PORT_E_TX_FULL);
    EXPECT_EQ(line.receive(1050), Bytes(block.begin(), block.begin() + 1050));
    EXPECT_TRUE(line.receive_all().empty());

    port->clear_status(port);
    EXPECT_EQ(port->write_char(port, 0x141), PORT_OK);
    EXPECT_EQ(port->count, 1u);
    EXPECT_EQ(line.receive(1), Bytes{0x41});
    EXPECT_EQ(port->clear_tx(port), PORT_OK);
}

TEST_F(DriverOnPty, ReadBlockTakesOnlyWhatIsWaiting) {
    line.send({'h', 'e', 'l', 'l', 'o'});
    wait_for_input(port, 5);
    EXPECT_EQ(port->rx_free(port), 1045);

    std::uint8_t buffer[16] = {};
    EXPECT_EQ(port->read_block(port, buffer, 16), PORT_OK);
    EXPECT_EQ(port->count, 5u);
    EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{'h', 'e', 'l', 'l', 'o'}));

    // Nothing waiting: a time-out that is not recorded.
    port->status = PORT_E_BAD_STOP_BITS;
    EXPECT_EQ(port->read_block(port, buffer, 16), PORT_E_TIMEOUT);
    EXPECT_EQ(port->count, 0u);
    EXPECT_EQ(port->status, PORT_E_BAD_STOP_BITS);
    EXPECT_EQ(port->read_char(port), PORT_E_TIMEOUT);
    EXPECT_EQ(port->status, PORT_E_BAD_STOP_BITS);

    line.send({0xFF, 0x01});
    wait_for_input(port, 2);
    EXPECT_EQ(port->read_char(port), 0xFF);
    EXPECT_EQ(port->count, 1u);
    EXPECT_EQ(port->read_char(port), 0x01);
}

TEST_F(DriverOnPty, ReadExactCollectsAReplyFromTheLine) {
    line.send({'O', 'K', '\r', '\n'});
    wait_for_input(port, 4);
    char reply[4] = {};
    EXPECT_EQ(port_read_exact(port, reply, 4, 500), PORT_OK);
    EXPECT_EQ(std::string(reply, 4), "OK\r\n");
}

TEST_F(DriverOnPty, WaitForInputSleepsOnTheLineUntilBytesArriveOrTheLineIsGone) {
    EXPECT_EQ(port->wait_for_input(port, 1), 0);
    // Generous limits: each call must return as soon as there is something to see.
    line.send({'x'});
    EXPECT_EQ(port->wait_for_input(port, 10000), 1);
    EXPECT_EQ(port->read_char(port), 'x');
    line.hang_up();
    EXPECT_EQ(port->wait_for_input(port, 10000), PORT_E_NO_PORT);
    EXPECT_EQ(port->status, PORT_E_NO_PORT);
}

TEST_F(DriverOnPty, DrainThrowsAwayEverythingReceived) {
    line.send(counting_bytes(200));
    wait_for_input(port, 200);
    EXPECT_EQ(port_drain_input(port, 500), PORT_OK);
    EXPECT_EQ(port->rx_count(port), 0);
    EXPECT_EQ(port_drain_input(port, 500), PORT_OK);
}

TEST_F(DriverOnPty, DumpDescribesTheFreshPortInTenLines) {
    port->status = PORT_E_TX_FULL;
    const std::vector<std::string> expected{
        "",
        "Port type:  MS Windows  DCB BaudRate: 9600    ByteSize: 8  Parity: 0",
        "StopBits: 0 fBinary: 1  fRtsControl: 1",
        "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
        "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13",
        "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00",
        "RX count/free:     0/1050   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000",
        "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
        "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 0000",
        "8250:0000",
    };
    EXPECT_EQ(dump_lines(port), expected);
    EXPECT_EQ(port->dump(port, [](const char*) {}), PORT_OK);
    EXPECT_EQ(port->status, PORT_E_TX_FULL);
}

TEST_F(DriverOnPty, DumpCountsWaitingInputAndWidensHighCharacters) {
    line.send(counting_bytes(7));
    wait_for_input(port, 7);
    record_of(port).dcb.XonChar = static_cast<char>(0x91);
    record_of(port).dcb.EvtChar = static_cast<char>(0x80);
    const std::vector<std::string> lines = dump_lines(port);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[4], "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: ffffff91  XoffChar: 13");
    EXPECT_EQ(lines[5], "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: ffffff80");
    EXPECT_EQ(lines[6],
              "RX count/free:     7/1043   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000");
}

TEST_F(DriverOnPty, LineControlsEditTheCopyAndWriteIt) {
    EXPECT_EQ(port->set_xon_xoff(port, 5), PORT_OK);
    EXPECT_EQ(line.attributes().c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(line.attributes().c_cc[VSTART], 0x11);
    EXPECT_EQ(line.attributes().c_cc[VSTOP], 0x13);
    EXPECT_EQ(port->set_xon_xoff(port, 0), PORT_OK);
    EXPECT_EQ(line.attributes().c_iflag & (IXON | IXOFF), 0u);

    EXPECT_EQ(port->set_rts_cts(port, 1), PORT_OK);
    EXPECT_NE(line.attributes().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(dump_lines(port)[2], "StopBits: 0 fBinary: 1  fRtsControl: 2");
    EXPECT_EQ(port->set_rts_cts(port, 0), PORT_OK);
    EXPECT_EQ(line.attributes().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(record_of(port).dcb.fRtsControl, RTS_CONTROL_DISABLE);

    EXPECT_EQ(port->set_dtr_dsr(port, 1), PORT_OK);
    EXPECT_EQ(dump_lines(port)[3],
              "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 1  DtrControl: 2  OutX: 0  InX: 0");
    EXPECT_EQ(port->set_dtr_dsr(port, 0), PORT_OK);
    EXPECT_EQ(record_of(port).dcb.fDtrControl, DTR_CONTROL_DISABLE);

    // A pseudo-terminal has no modem lines: raising and lowering them still succeeds, and
    // every line reads as off.
    EXPECT_EQ(port->set_dtr(port, 0), PORT_OK);
    EXPECT_EQ(port->set_rts(port, 0), PORT_OK);
    EXPECT_EQ(port->set_dtr(port, 1), PORT_OK);
    EXPECT_EQ(record_of(port).dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(port->modem_status(port), 0);
    EXPECT_EQ(port->line_errors(port), 0);
    EXPECT_EQ(port->clear_line_errors(port), PORT_OK);
    EXPECT_EQ(port->status, PORT_OK);
}

TEST_F(DriverOnPty, LineErrorsAccumulateUntilCleared) {
    record_of(port).line_error_flags = CE_FRAME | CE_RXOVER | CE_MODE;
    EXPECT_EQ(port->line_errors(port), static_cast<int>(CE_FRAME));
    EXPECT_EQ(port->line_errors(port), static_cast<int>(CE_FRAME));
    EXPECT_EQ(dump_lines(port)[7], "CE_BREAK:0  CE_FRAME:1  CE_MODE:1 CE_OVERRUN:0");
    EXPECT_EQ(port->clear_line_errors(port), PORT_OK);
    EXPECT_EQ(port->line_errors(port), 0);
}

int idle_calls = 0;
int count_idle_call(PortObject*) {
    ++idle_calls;
    return 0;
}

TEST_F(DriverOnPty, SendBreakHoldsTheBreakForTheGivenTime) {
    FakeClock clock(1000);
    PortClockBinding use_clock(clock);
    PortIdleHook previous = port_idle_hook;
    port_idle_hook = count_idle_call;
    idle_calls = 0;
    EXPECT_EQ(port->send_break(port, 50), PORT_OK);
    port_idle_hook = previous;
    EXPECT_GE(clock.now(), 1050u);
    EXPECT_GT(idle_calls, 0);
    EXPECT_EQ(port->write_block(port, "x", 1), PORT_OK);
    EXPECT_EQ(line.receive(1), Bytes{'x'});
}

TEST_F(DriverOnPty, HangUpOfTheOtherEndFailsTransfersAndEndsAWaitAtOnceAsALostLine) {
    line.hang_up();
    std::uint8_t buffer[16];
    EXPECT_EQ(port->read_block(port, buffer, 16), PORT_E_TIMEOUT);
    EXPECT_EQ(port->count, 0u);
    EXPECT_EQ(port->rx_count(port), 0);
    EXPECT_EQ(port->write_block(port, "AT\r", 3), PORT_E_TX_FULL);
    EXPECT_EQ(port->count, 0u);
    EXPECT_EQ(port_drain_input(port, 500), PORT_OK);
    char reply[4];
    FakeClock clock;
    PortClockBinding use_clock(clock);
    EXPECT_EQ(port_read_exact(port, reply, 4, 500), PORT_E_NO_PORT);
    EXPECT_LT(clock.now(), 10u);
    EXPECT_EQ(port->status, PORT_E_NO_PORT);
    EXPECT_EQ(dump_lines(port).size(), 10u);

    PortObject* closed = port;
    port->close(port);
    port = nullptr;
    EXPECT_FALSE(on_open_port_list(closed));
}

TEST(DriverPortNaming, IndexZeroIsCom1AndIndexEightIsCom9) {
    PtyLine first;
    PtyLine ninth;
    ScopedComMapping com1(1, first.slave_path());
    ScopedComMapping com9(9, ninth.slave_path());

    PortObject* com9_port = open_windows_port(8, 9600, 'N', 8, 1);
    ASSERT_EQ(com9_port->status, PORT_OK);
    EXPECT_EQ(com9_port->port_index, 8);
    PortObject* com1_port = open_windows_port(0, 9600, 'N', 8, 1);
    ASSERT_EQ(com1_port->status, PORT_OK);

    com9_port->write_char(com9_port, '9');
    com1_port->write_char(com1_port, '1');
    EXPECT_EQ(ninth.receive(1), Bytes{'9'});
    EXPECT_EQ(first.receive(1), Bytes{'1'});
    EXPECT_EQ(com9_port->close(com9_port), PORT_OK);
    EXPECT_EQ(com1_port->close(com1_port), PORT_OK);
}

TEST(DriverFailedOpen, MissingDeviceGivesNoPortWithDefaultSlots) {
    ScopedComMapping com41(41, unmapped_com_path(41));
    for (int index : {2, -1, 40}) {
        SCOPED_TRACE(index);
        PortObject* port = open_windows_port(index, 9600, 'N', 8, 1);
        EXPECT_EQ(port->status, PORT_E_NO_PORT);
        EXPECT_EQ(port->driver_kind, WINDOWS_DRIVER_KIND);
        EXPECT_NE(port->driver, nullptr);
        EXPECT_TRUE(has_default_slots(*port));
        EXPECT_EQ(set_baud_rate(port, 115200), PORT_E_NOT_SUPPORTED);
        EXPECT_EQ(port->close(port), PORT_OK);
        EXPECT_FALSE(on_open_port_list(port));
    }
}

TEST(DriverFailedOpen, PathThatIsNoSerialDeviceGivesNoPort) {
    ScopedComMapping com2(2, "/dev/null");
    PortObject* port = open_windows_port(1, 9600, 'N', 8, 1);
    EXPECT_EQ(port->status, PORT_E_NO_PORT);
    EXPECT_TRUE(has_default_slots(*port));
    EXPECT_EQ(port->close(port), PORT_OK);
}

TEST(DriverFailedOpen, RefusedLineFormatStillOpensWithDriverSlots) {
    PtyLine line;
    ScopedComMapping com1(1, line.slave_path());
    PortObject* port = open_windows_port(0, 115200, 'N', 8, 1);
    EXPECT_EQ(port->status, PORT_E_BAD_BAUD);
    EXPECT_FALSE(has_default_slots(*port));
    EXPECT_EQ(port->write_block(port, "AT", 2), PORT_OK);
    EXPECT_EQ(port->status, PORT_E_BAD_BAUD);  // sticky until cleared
    EXPECT_EQ(line.receive(2), (Bytes{'A', 'T'}));
    EXPECT_EQ(port->close(port), PORT_OK);
}

// Allocation seams: the first `allowed` allocations succeed, the rest fail.
int allocations_allowed = 0;
void* limited_allocation(std::size_t size) {
    if (allocations_allowed <= 0) {
        return nullptr;
    }
    --allocations_allowed;
    return std::calloc(1, size);
}

class DriverOutOfMemory : public testing::Test {
  protected:
    void SetUp() override { set_port_allocator(limited_allocation); }
    void TearDown() override { set_port_allocator(nullptr); }
};

void expect_fallback(PortObject* port) {
    set_port_allocator(nullptr);  // the comparison below needs a fresh object of its own
    EXPECT_EQ(port->status, PORT_E_NO_MEMORY);
    EXPECT_EQ(port->port_index, -1);
    EXPECT_EQ(port->driver_kind, -1);
    EXPECT_EQ(port->driver, nullptr);
    EXPECT_TRUE(has_default_slots(*port));
}

TEST_F(DriverOutOfMemory, NoMemoryForPortObjectGivesFallback) {
    allocations_allowed = 0;
    PortObject* list_before = open_port_list_head();
    PortObject* port = open_windows_port(0, 9600, 'N', 8, 1);
    expect_fallback(port);
    EXPECT_EQ(open_port_list_head(), list_before);
}

TEST_F(DriverOutOfMemory, NoMemoryForDriverRecordReleasesObjectAndGivesFallback) {
    allocations_allowed = 1;
    PortObject* list_before = open_port_list_head();
    PortObject* port = open_windows_port(0, 9600, 'N', 8, 1);
    expect_fallback(port);
    EXPECT_EQ(open_port_list_head(), list_before);
}

}  // namespace
