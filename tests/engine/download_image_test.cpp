#include "engine/download_image.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "engine/block_checksum.h"
#include "engine/download_path.h"
#include "tests/engine/image_files.h"
#include "tests/engine/recording_host.h"
#include "tests/support/fake_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::string>;

class ValidateImageTest : public ::testing::Test {
  protected:
    ValidateImageTest() : host(clock) {}
    ~ValidateImageTest() override {
        if (image_file != nullptr) {
            std::fclose(image_file);
        }
    }

    int validate(const std::string& path) {
        set_current_download_path(path.c_str());
        host.calls.clear();
        if (image_file != nullptr) {
            std::fclose(image_file);
        }
        return validate_image(host, image_file, validated);
    }
    Calls failure(const char* message) const {
        return {"wait:Validating download file...:1000", std::string("wait:") + message + ":1000"};
    }

    FakeClock clock;
    RecordingHost host;
    TempDir dir;
    std::FILE* image_file = nullptr;
    ImageRecords validated;
};

TEST_F(ValidateImageTest, AcceptsExactly224GoodRecordsAtTheStart) {
    auto records = make_image_records(IMAGE_RECORD_COUNT);
    struct Case {
        const char* name;
        Bytes tail;
    };
    const Case cases[] = {
        {"224 records", {}},
        {"plus a short tail", Bytes(1027, 0x11)},
        {"plus a bad 225th", make_bad_image_record(0x2000, 99)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(validate(dir.write_image("image.dl", records, c.tail)), 0) << c.name;
        EXPECT_EQ(host.calls, Calls{"wait:Validating download file...:1000"}) << c.name;
        ASSERT_NE(image_file, nullptr);
        Bytes first(IMAGE_RECORD_SIZE);
        ASSERT_EQ(std::fread(first.data(), 1, first.size(), image_file), first.size()) << c.name;
        EXPECT_EQ(first, records[0]) << c.name;
        Bytes kept;
        for (int i = 0; i < IMAGE_RECORD_COUNT; ++i) {
            ASSERT_TRUE(copy_validated_record(validated, i, first.data())) << c.name;
            kept.insert(kept.end(), first.begin(), first.end());
        }
        EXPECT_FALSE(copy_validated_record(validated, IMAGE_RECORD_COUNT, first.data()));
        EXPECT_EQ(kept, std::accumulate(records.begin(), records.end(), Bytes{},
                                        [](Bytes all, const Bytes& record) {
                                            all.insert(all.end(), record.begin(), record.end());
                                            return all;
                                        }))
            << c.name;
    }
}

TEST_F(ValidateImageTest, RejectsEveryOtherCountOfGoodRecords) {
    auto records = make_image_records(IMAGE_RECORD_COUNT);
    auto with_good_225th = records;
    with_good_225th.push_back(make_image_record(0x3000, 500));
    auto bad_100th = records;
    bad_100th[99] = make_bad_image_record(0x1063, 100);
    auto bad_last = records;
    bad_last[223] = make_bad_image_record(0x10DF, 224);
    struct Case {
        const char* name;
        std::vector<Bytes> records;
    };
    const Case cases[] = {
        {"good 225th", with_good_225th},
        {"223 records", make_image_records(223)},
        {"empty", {}},
        {"bad 100th", bad_100th},
        {"bad 224th", bad_last},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(validate(dir.write_image("image.dl", c.records)), -1) << c.name;
        EXPECT_EQ(host.calls, failure("Invalid download file format!")) << c.name;
        EXPECT_EQ(image_file, nullptr) << c.name;
    }
}

TEST_F(ValidateImageTest, NamesWhatIsMissing) {
    EXPECT_EQ(validate(""), -1);
    EXPECT_EQ(host.calls, failure("Download file not specified!"));
    EXPECT_EQ(validate(dir.path("missing.dl").string()), -1);
    EXPECT_EQ(host.calls, failure("Download file not found!"));
    EXPECT_EQ(image_file, nullptr);
    EXPECT_EQ(validate(dir.path("").string()), -1) << "a directory is no readable file";
    EXPECT_EQ(host.calls, failure("Download file not found!"));
    EXPECT_EQ(clock.total_slept(), 6000u);
}

// Opening a FIFO would wait for a writer forever; a device or socket is no image either.
TEST_F(ValidateImageTest, OnlyARegularFileIsOpened) {
    const std::string fifo = dir.path("fifo.dl").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string socket_path = dir.path("socket.dl").string();
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const std::string& path : {fifo, socket_path, std::string("/dev/zero")}) {
        EXPECT_EQ(validate(path), -1) << path;
        EXPECT_EQ(host.calls, failure("Download file not found!")) << path;
    }
    close(listener);
}

// A path cut to its first 259 bytes would name another file, here a valid image.
TEST_F(ValidateImageTest, PathLongerThanTheBufferIsNotFoundInsteadOfCut) {
    const std::string fits = dir.path("").string();
    const std::string name = fits + std::string(DOWNLOAD_PATH_SIZE - 1 - fits.size(), 'k');
    ASSERT_EQ(validate(dir.write_image(name.substr(fits.size()), make_image_records(224))), 0);
    EXPECT_EQ(validate(name + ".bak"), -1);
    EXPECT_EQ(host.calls, failure("Download file not found!"));
}

TEST_F(ValidateImageTest, OpensTheFileAfreshOnEveryCall) {
    std::string path = dir.write_image("image.dl", make_image_records(100));
    EXPECT_EQ(validate(path), -1);
    dir.write_image("image.dl", make_image_records(IMAGE_RECORD_COUNT));
    EXPECT_EQ(validate(path), 0);
}

TEST_F(ValidateImageTest, RecordTagsNeedNoOrder) {
    std::vector<Bytes> records;
    for (int i = 0; i < IMAGE_RECORD_COUNT; ++i) {
        records.push_back(make_image_record(static_cast<std::uint16_t>(i < 10 ? 5 : 300 - i),
                                            static_cast<std::uint32_t>(i)));
    }
    EXPECT_EQ(validate(dir.write_image("image.dl", records)), 0);
}

// A FILE over content whose reads misbehave as scripted: for a listed call, -1 fails it
// and a number n cuts it to at most n bytes. Its buffer is one record, so every record read
// asks the storage once.
struct FlakyStorage {
    Bytes content;
    std::size_t position = 0;
    int reads = 0;
    std::map<int, long> script;
    bool fails_forever = false;
    char buffer[IMAGE_RECORD_SIZE] = {};

    static ssize_t read(void* cookie, char* buffer, std::size_t size) {
        auto* storage = static_cast<FlakyStorage*>(cookie);
        const int call = storage->reads++;
        auto scripted = storage->script.find(call);
        if (storage->fails_forever || (scripted != storage->script.end() && scripted->second < 0)) {
            return -1;
        }
        std::size_t n = std::min(size, storage->content.size() - storage->position);
        if (scripted != storage->script.end()) {
            n = std::min(n, static_cast<std::size_t>(scripted->second));
        }
        std::memcpy(buffer, storage->content.data() + storage->position, n);
        storage->position += n;
        return static_cast<ssize_t>(n);
    }
    std::FILE* open() {
        cookie_io_functions_t functions = {FlakyStorage::read, nullptr, nullptr, nullptr};
        std::FILE* file = fopencookie(this, "rb", functions);
        std::setvbuf(file, buffer, _IOFBF, sizeof buffer);  // glibc ignores a size alone
        return file;
    }
};

TEST(CountGoodRecords, ScanReadsOnAfterReadErrorsUntilTheyPersist) {
    Bytes five_records;
    for (const Bytes& record : make_image_records(5)) {
        five_records.insert(five_records.end(), record.begin(), record.end());
    }
    struct Case {
        const char* name;
        std::map<int, long> script;
        bool fails_forever;
        int expected;
    };
    const Case cases[] = {
        {"passing errors that take nothing", {{1, -1}, {3, -1}}, false, 5},
        // 500 bytes of the second record came, then the error: the scan reads on from
        // there, out of step with the records, and the next "record" fails its check.
        {"error after part of a record", {{1, 500}, {2, -1}}, false, 1},
        {"errors that persist", {}, true, -1},
    };
    for (const Case& c : cases) {
        FlakyStorage storage{five_records, 0, 0, c.script, c.fails_forever};
        std::FILE* file = storage.open();
        EXPECT_EQ(count_good_records(file), c.expected) << c.name;
        std::fclose(file);
        if (c.fails_forever) {
            EXPECT_EQ(storage.reads, IMAGE_READ_ERROR_LIMIT);
        }
    }
}

TEST(RecordChecksum, CoversTheLast1024BytesOnly) {
    Bytes record = make_image_record(0x1111, 42);
    const std::uint16_t total = record_checksum(record.data());
    EXPECT_EQ(total, block_checksum(Bytes(record.begin() + 4, record.end()).data(), 1024));
    record[0] ^= 0xFF;  // tag
    record[3] ^= 0xFF;  // first two payload bytes are outside too
    EXPECT_EQ(record_checksum(record.data()), total);
    record[1027] ^= 0x01;  // the check field is inside
    EXPECT_NE(record_checksum(record.data()), total);
}

}  // namespace
