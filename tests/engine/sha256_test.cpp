#include "engine/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string digest_of(const std::string& text) {
    return sha256_hex(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace

// The standard's examples: the empty message, one block, a message whose padding needs a
// second block, and a million bytes fed in pieces that straddle the block boundaries.
TEST(Sha256, DigestsOfTheStandardsExamples) {
    EXPECT_EQ(digest_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    const std::vector<std::uint8_t> million(1000000, 'a');
    Sha256 pieces;
    std::size_t fed = 0;
    for (std::size_t piece = 1; fed < million.size(); piece = piece % 130 + 1) {
        const std::size_t size = std::min(piece, million.size() - fed);
        pieces.update(million.data() + fed, size);
        fed += size;
    }
    EXPECT_EQ(pieces.hex_digest(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}
