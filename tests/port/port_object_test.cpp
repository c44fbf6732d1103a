// The port object's default slots, sticky status, the open-port list and the fallback
// object.
#include "port/port_object.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/port/default_slots.h"
#include "tests/support/memory_port.h"

namespace {

PortObject* new_port_object(int port_index) {
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    init_port_object(port);
    port->port_index = port_index;
    return port;
}

std::vector<PortObject*> open_port_list() {
    std::vector<PortObject*> entries;
    for (PortObject* entry = open_port_list_head(); entry != nullptr; entry = entry->next) {
        entries.push_back(entry);
        if (entries.size() > 100) {
            ADD_FAILURE() << "open-port list is circular";
            break;
        }
    }
    return entries;
}

bool on_open_port_list(PortObject* port) {
    for (PortObject* entry : open_port_list()) {
        if (entry == port) {
            return true;
        }
    }
    return false;
}

class PortObjectTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(open_port_list().empty()); }
    void TearDown() override { close_all_ports(); }
};

TEST_F(PortObjectTest, FreshObjectAnswersNotSupportedAndRecordsIt) {
    PortObject* port = new_port_object(0);
    char buffer[8] = {};
    const std::vector<std::pair<std::string, std::function<int()>>> slots{
        {"read_char", [&] { return port->read_char(port); }},
        {"slot 2", [&] { return port->unnamed_slot_2(port); }},
        {"write_char", [&] { return port->write_char(port, 'A'); }},
        {"set_line_format", [&] { return port->set_line_format(port, 9600, 'N', 8, 1); }},
        {"set_xon_xoff", [&] { return port->set_xon_xoff(port, 1); }},
        {"set_rts_cts", [&] { return port->set_rts_cts(port, 1); }},
        {"set_dtr_dsr", [&] { return port->set_dtr_dsr(port, 1); }},
        {"set_dtr", [&] { return port->set_dtr(port, 1); }},
        {"set_rts", [&] { return port->set_rts(port, 1); }},
        {"tx_free", [&] { return port->tx_free(port); }},
        {"tx_count", [&] { return port->tx_count(port); }},
        {"rx_free", [&] { return port->rx_free(port); }},
        {"rx_count", [&] { return port->rx_count(port); }},
        {"clear_tx", [&] { return port->clear_tx(port); }},
        {"write_block", [&] { return port->write_block(port, "AT", 2); }},
        {"read_block", [&] { return port->read_block(port, buffer, sizeof buffer); }},
        {"send_break", [&] { return port->send_break(port, 10); }},
        {"modem_status", [&] { return port->modem_status(port); }},
        {"line_errors", [&] { return port->line_errors(port); }},
        {"clear_line_errors", [&] { return port->clear_line_errors(port); }},
        {"slot 23", [&] { return port->unnamed_slot_23(port, 1); }},
    };
    for (const auto& [name, call] : slots) {
        SCOPED_TRACE(name);
        port->status = PORT_OK;
        EXPECT_EQ(call(), PORT_E_NOT_SUPPORTED);
        EXPECT_EQ(port->status, PORT_E_NOT_SUPPORTED);
    }

    port->status = PORT_OK;
    std::vector<std::string> lines;
    EXPECT_EQ(port->dump(port, [&lines](const char* line) { lines.emplace_back(line); }),
              PORT_E_NOT_SUPPORTED);
    EXPECT_EQ(lines, (std::vector<std::string>{"Port dump not supported for this driver", ""}));
    EXPECT_EQ(port->status, PORT_E_NOT_SUPPORTED);

    port->clear_status(port);
    EXPECT_EQ(port->status, PORT_OK);

    EXPECT_EQ(port->close(port), PORT_OK);
    EXPECT_TRUE(open_port_list().empty());
}

TEST_F(PortObjectTest, FreshObjectIsZeroFilledAndNewestOnTheList) {
    PortObject* older = new_port_object(0);
    auto* port = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    init_port_object(port);
    EXPECT_EQ(port->driver, nullptr);
    EXPECT_EQ(port->status, PORT_OK);
    EXPECT_EQ(port->driver_kind, 0);
    EXPECT_EQ(port->count, 0u);
    EXPECT_EQ(open_port_list(), (std::vector<PortObject*>{port, older}));
}

TEST_F(PortObjectTest, DefaultCloseReleasesAttachedDriverRecord) {
    PortObject* port = new_port_object(0);
    port->driver = allocate_port_memory(128);  // a leak here fails the sanitized build
    EXPECT_EQ(port->close(port), PORT_OK);
    EXPECT_TRUE(open_port_list().empty());
}

TEST_F(PortObjectTest, StatusStaysUntilClearedWhateverSucceedsLater) {
    MemoryLine line;
    PortObject* port = open_memory_port(line);
    line.tx_room = 0;
    EXPECT_EQ(port->write_block(port, "AT", 2), PORT_E_TX_FULL);
    line.tx_room = 100;
    EXPECT_EQ(port->write_block(port, "AT", 2), PORT_OK);
    EXPECT_EQ(port->status, PORT_E_TX_FULL);
    EXPECT_EQ(port->read_block(port, nullptr, 0), PORT_E_TIMEOUT);
    EXPECT_EQ(port->status, PORT_E_TX_FULL);
    port->clear_status(port);
    EXPECT_EQ(port->status, PORT_OK);
    port->close(port);
}

std::vector<int> closed_indexes;
PortStatus recording_close(PortObject* port) {
    closed_indexes.push_back(port->port_index);
    release_port_object(port);
    return PORT_OK;
}

TEST_F(PortObjectTest, CloseAllPortsClosesNewestFirst) {
    close_all_ports();  // an empty list: nothing to do
    closed_indexes.clear();
    for (int index : {1, 2, 3}) {
        new_port_object(index)->close = recording_close;
    }
    close_all_ports();
    EXPECT_EQ(closed_indexes, (std::vector<int>{3, 2, 1}));
    EXPECT_TRUE(open_port_list().empty());
}

TEST_F(PortObjectTest, ReleasingSearchesTheListAndLeavesOthersLinked) {
    PortObject* oldest = new_port_object(1);
    PortObject* middle = new_port_object(2);
    PortObject* newest = new_port_object(3);
    release_port_object(middle);
    EXPECT_EQ(open_port_list(), (std::vector<PortObject*>{newest, oldest}));

    // An object that never was on the list is freed and changes nothing.
    auto* stray = static_cast<PortObject*>(allocate_port_memory(sizeof(PortObject)));
    release_port_object(stray);
    EXPECT_EQ(open_port_list(), (std::vector<PortObject*>{newest, oldest}));
}

TEST_F(PortObjectTest, FallbackObjectAnswersNotSupportedAndSurvivesClosing) {
    PortObject* first = new_port_object(1);
    PortObject* fallback = hand_out_fallback_port_object();
    EXPECT_EQ(fallback->status, PORT_E_NO_MEMORY);
    EXPECT_EQ(fallback->port_index, -1);
    EXPECT_EQ(fallback->driver_kind, -1);
    EXPECT_EQ(fallback->driver, nullptr);
    EXPECT_TRUE(has_default_slots(*fallback));

    EXPECT_EQ(fallback->read_char(fallback), PORT_E_NOT_SUPPORTED);
    EXPECT_EQ(fallback->status, PORT_E_NOT_SUPPORTED);
    EXPECT_EQ(fallback->close(fallback), PORT_OK);
    EXPECT_EQ(fallback->close(fallback), PORT_OK);

    // Handed out again: the same object, fresh again, and the list stays as it was.
    EXPECT_EQ(hand_out_fallback_port_object(), fallback);
    EXPECT_EQ(fallback->status, PORT_E_NO_MEMORY);
    PortObject* second = new_port_object(2);
    EXPECT_EQ(hand_out_fallback_port_object(), fallback);
    EXPECT_EQ(open_port_list(), (std::vector<PortObject*>{second, first}));

    close_all_ports();
    EXPECT_TRUE(open_port_list().empty());
    EXPECT_EQ(fallback->write_char(fallback, 'A'), PORT_E_NOT_SUPPORTED);
    EXPECT_EQ(fallback->close(fallback), PORT_OK);
    EXPECT_FALSE(on_open_port_list(fallback));
}

}  // namespace
