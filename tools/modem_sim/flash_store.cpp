#include "tools/modem_sim/flash_store.h"

#include <algorithm>
#include <fstream>

#include "tools/image_tool/image_builder.h"

void FlashStore::erase() {
    contents_.clear();
}

void FlashStore::program(std::size_t number, const std::uint8_t* record) {
    std::size_t offset = (number - 1) * IMAGE_RECORD_BYTES;
    if (number == 0 || offset > contents_.size()) {
        return;
    }
    contents_.resize(std::max(contents_.size(), offset + IMAGE_RECORD_BYTES));
    std::copy(record, record + IMAGE_RECORD_BYTES, contents_.begin() + offset);
}

std::size_t FlashStore::record_count() const {
    return contents_.size() / IMAGE_RECORD_BYTES;
}

std::uint16_t FlashStore::checksum_total() const {
    return image_checksum_total(contents_, record_count());
}

bool FlashStore::write_to(const std::string& path) const {
    return write_image_file(path, contents_);
}
