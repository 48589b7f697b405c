#include "common/checksum.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Checksum, KnownValuesAndPiecewiseEqualsWhole) {
    // The standard check value, and two more from zlib's crc32.
    EXPECT_EQ(checksum::crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(checksum::crc32("", 0), 0u);
    EXPECT_EQ(checksum::crc32("a", 1), 0xE8B7BE43u);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(checksum::crc32(text.data(), text.size()), 0x414FA339u);
    for (std::size_t cut = 0; cut <= text.size(); cut += 7)
        EXPECT_EQ(checksum::crc32(text.data() + cut, text.size() - cut, checksum::crc32(text.data(), cut)),
                  0x414FA339u) << cut;
    // One changed bit, or one byte less, changes it.
    std::string changed = text;
    changed[20] ^= 0x01;
    EXPECT_NE(checksum::crc32(changed.data(), changed.size()), 0x414FA339u);
    EXPECT_NE(checksum::crc32(text.data(), text.size() - 1), 0x414FA339u);
}
