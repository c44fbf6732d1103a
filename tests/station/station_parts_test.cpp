// The station's pieces that time and a full disk decide: the retry policy of watch mode and
// the report's append.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "station/port_retry.h"
#include "station/report_file.h"

namespace {

using std::chrono::seconds;
using Attempt = PortRetry::Attempt;
using TimePoint = PortRetry::Clock::time_point;

TEST(PortRetry, BusyPortIsTriedAgainForAsLongAsItStaysBusy) {
    PortRetry retry;
    const TimePoint start{};
    for (int minute = 0; minute < 10; ++minute) {
        const TimePoint now = start + seconds(60 * minute + 1);
        ASSERT_TRUE(retry.try_again(Attempt::port_busy, now - seconds(1), now));
        EXPECT_EQ(retry.retry_at(), now + PortRetry::RETRY_INTERVAL);
    }
    // Once free, a silent modem has its whole time still: the busy minutes did not count.
    const TimePoint freed = start + seconds(600);
    EXPECT_TRUE(retry.try_again(Attempt::no_answer, freed, freed + seconds(5)));
    EXPECT_FALSE(retry.try_again(Attempt::reached_modem, freed, freed + seconds(20)));
}

TEST(PortRetry, SilentModemCountsOnceTheNextTryWouldEndPastTheLimit) {
    PortRetry retry;
    TimePoint started{};
    int tries = 1;
    // Each try of a silent port takes 5 s: the one that would end past 30 s is not taken.
    while (retry.try_again(Attempt::no_answer, started, started + seconds(5))) {
        EXPECT_EQ(retry.retry_at(), started + seconds(5) + PortRetry::RETRY_INTERVAL);
        started = retry.retry_at();
        ++tries;
    }
    const TimePoint given_up = started + seconds(5);
    EXPECT_LE(given_up - TimePoint{}, PortRetry::NO_ANSWER_LIMIT);
    EXPECT_GT(given_up + PortRetry::RETRY_INTERVAL + seconds(5) - TimePoint{},
              PortRetry::NO_ANSWER_LIMIT);
    EXPECT_EQ(tries, 4);
    // Counted, the port starts afresh with the next modem.
    EXPECT_TRUE(retry.try_again(Attempt::no_answer, given_up, given_up + seconds(5)));
}

class ReportFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("korvan-report-" + std::to_string(::getpid()) + ".jsonl");
        std::filesystem::remove(path_);
    }
    void TearDown() override { std::filesystem::remove(path_); }

    std::string contents() const {
        std::ifstream file(path_, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::filesystem::path path_;
};

TEST_F(ReportFile, LineAfterAPartLeftBehindStartsOnALineOfItsOwn) {
    std::ofstream(path_, std::ios::binary) << "{\"port\":\"COM3\",\"res";
    std::string error;
    ASSERT_TRUE(append_line_durably(path_.string(), "{\"port\":\"COM4\"}\n", error)) << error;
    EXPECT_EQ(contents(), "{\"port\":\"COM3\",\"res\n{\"port\":\"COM4\"}\n");
}

TEST(ReportDevice, NullDeviceTakesTheLineThoughItCannotSync) {
    std::string error;
    EXPECT_TRUE(append_line_durably("/dev/null", "{\"port\":\"COM4\"}\n", error)) << error;
}

TEST_F(ReportFile, ShortWriteIsTakenBack) {
    std::ofstream(path_, std::ios::binary) << "{\"port\":\"COM3\"}\n";
    // A file size limit 10 bytes past the end: the kernel takes 10 bytes of the line.
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 16 + 10;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool appended =
        append_line_durably(path_.string(), "{\"port\":\"COM4\",\"result\":\"complete\"}\n", error);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(appended);
    EXPECT_NE(error.find("10 of 36 bytes"), std::string::npos) << error;
    EXPECT_EQ(contents(), "{\"port\":\"COM3\"}\n");
}

}  // namespace
