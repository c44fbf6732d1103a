#include "engine/modem_identification.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/download_path.h"
#include "tests/engine/image_files.h"
#include "tests/engine/recording_host.h"
#include "tests/support/fake_clock.h"
#include "tests/support/memory_modem.h"
#include "tests/support/memory_port.h"

namespace {

using Commands = std::vector<std::string>;

class IdentifyModemTest : public ::testing::Test {
  protected:
    IdentifyModemTest() : scoped_clock(clock), host(clock), modem(line) {
        line.clock = &clock;
        port = open_memory_port(line);
        set_current_download_path("previous.dl");
        map_path = dir.path("modems.cfg").string();
    }
    ~IdentifyModemTest() override { port->close(port); }

    void identify() { identify_modem(port, host, map_path); }

    FakeClock clock;
    PortClockBinding scoped_clock;
    RecordingHost host;
    MemoryLine line;
    MemoryModem modem;
    PortObject* port;
    TempDir dir;
    std::string map_path;
};

TEST_F(IdentifyModemTest, IdentifiesChoosesTheImageAndEntersDownloadMode) {
    dir.write_text("modems.cfg", "KV-33 kv33.dl\nKV-56 kv56.dl\nRev kv-rev.dl\n");
    identify();
    EXPECT_EQ(modem.commands(), (Commands{"AT", "ATI3", "AT*Y120", "AT*D"}));
    EXPECT_TRUE(modem.session().download_mode());
    EXPECT_STREQ(current_download_path, "kv56.dl");
    EXPECT_EQ(host.calls,
              (Commands{"wait:Autobauding modem...:0", "wait:Enabling download mode...:0"}));
    EXPECT_EQ(clock.total_slept(), 2000u + 1000u);
}

TEST_F(IdentifyModemTest, SilentModemIsLeftAloneAfterAt) {
    modem.faults().silent = true;
    dir.write_text("modems.cfg", "KV-56 kv56.dl\n");
    identify();
    EXPECT_EQ(modem.commands(), (Commands{"AT"}));
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(clock.total_slept(), 0u);
    EXPECT_STREQ(current_download_path, "previous.dl");
}

TEST_F(IdentifyModemTest, MissingOrUnmatchedMapLeavesThePathButStillEntersDownloadMode) {
    identify();  // no modems.cfg at all
    EXPECT_STREQ(current_download_path, "previous.dl");
    EXPECT_TRUE(modem.session().download_mode());

    modem.restart();
    dir.write_text("modems.cfg", "KV-99 kv99.dl\nkv-56 lower.dl\n");
    identify();
    EXPECT_STREQ(current_download_path, "previous.dl");
    EXPECT_TRUE(modem.session().download_mode());
}

// Opening a FIFO for reading would wait for a writer forever.
TEST_F(IdentifyModemTest, MapThatIsNoRegularFileCountsAsMissing) {
    ASSERT_EQ(mkfifo(map_path.c_str(), 0600), 0);
    identify();
    EXPECT_STREQ(current_download_path, "previous.dl");
    EXPECT_TRUE(modem.session().download_mode());
}

TEST_F(IdentifyModemTest, UnansweredIdentificationSkipsTheMapOnly) {
    dir.write_text("modems.cfg", "ATI3 echo.dl\n");
    Commands written;
    line.on_write = [&written](MemoryLine& l, const std::uint8_t* bytes, std::size_t n) {
        written.emplace_back(bytes, bytes + n);
        if (written.back() != "ATI3\r") {
            l.deliver("OK\r\n", 2);
        }
    };
    identify();
    EXPECT_EQ(written, (Commands{"AT\r", "ATI3\r", "AT*Y120\r", "AT*D\r"}));
    EXPECT_STREQ(current_download_path, "previous.dl");
}

TEST_F(IdentifyModemTest, RefusedDownloadModeStopsBeforeAtD) {
    modem.faults().refuse_download_mode = true;
    identify();
    EXPECT_EQ(modem.commands(), (Commands{"AT", "ATI3", "AT*Y120"}));
    EXPECT_EQ(host.calls, (Commands{"wait:Autobauding modem...:0"}));
    EXPECT_EQ(clock.total_slept(), 2000u);
}

}  // namespace
