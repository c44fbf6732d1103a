// The image scan on any file content. The input either is the file itself or describes one
// made of records with correct check fields (which random bytes would almost never have), so
// that counts around 224 are reached.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/block_checksum.h"
#include "engine/download_image.h"

namespace {

std::vector<std::uint8_t> described_image(FuzzedDataProvider& input) {
    const int records = input.ConsumeIntegralInRange<int>(0, IMAGE_RECORD_COUNT + 2);
    // Unpatched records are all alike, so their check field is computed once.
    std::vector<std::uint8_t> plain(IMAGE_RECORD_SIZE, 0x5A);
    write_le16(plain.data() + IMAGE_RECORD_SIZE - 2,
               block_checksum(plain.data(), IMAGE_RECORD_SIZE - 2));
    std::vector<std::uint8_t> content;
    for (int i = 0; i < records; ++i) {
        std::vector<std::uint8_t> record = plain;
        const auto patch = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegral<std::uint8_t>());
        std::copy(patch.begin(), patch.end(), record.begin());
        if (!patch.empty() && input.ConsumeBool()) {
            write_le16(record.data() + IMAGE_RECORD_SIZE - 2,
                       block_checksum(record.data(), IMAGE_RECORD_SIZE - 2));
        }
        content.insert(content.end(), record.begin(), record.end());
    }
    const auto tail = input.ConsumeRemainingBytes<std::uint8_t>();
    content.insert(content.end(), tail.begin(), tail.end());
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::uint8_t> content =
        input.ConsumeBool() ? described_image(input) : input.ConsumeRemainingBytes<std::uint8_t>();
    std::FILE* file = fmemopen(content.empty() ? nullptr : content.data(), content.size(), "rb");
    if (file == nullptr) {
        return 0;
    }
    ImageRecords kept;
    const int good = count_good_records(file, &kept);
    std::fclose(file);
    const int kept_count = static_cast<int>(kept.size() / IMAGE_RECORD_SIZE);
    if (good < 0 || good > IMAGE_RECORD_COUNT + 1 || kept.size() % IMAGE_RECORD_SIZE != 0 ||
        kept_count != std::min(good, IMAGE_RECORD_COUNT)) {
        std::abort();
    }
    std::uint8_t record[IMAGE_RECORD_SIZE];
    for (int i = 0; i < kept_count; ++i) {
        if (!copy_validated_record(kept, i, record) ||
            std::memcmp(record, content.data() + i * IMAGE_RECORD_SIZE, IMAGE_RECORD_SIZE) != 0) {
            std::abort();
        }
    }
    if (copy_validated_record(kept, kept_count, record)) {
        std::abort();
    }
    return 0;
}
