// Growth of the skin buffer: contents in order, few reallocations, and the 2^31 - 1 byte limit.
#include <gtest/gtest.h>

#include <limits>

#include "skin/skin.h"

namespace {

TEST(append_block, concatenates_blocks_in_order)
{
    skin_buffer skin;
    std::vector<std::uint8_t> expected;
    int reallocations = 0;
    for (int i = 0; i < 300; ++i) {
        const std::vector<std::uint8_t> block(i % 3 == 0 ? 16384 : 256, static_cast<std::uint8_t>(i));
        const std::int32_t capacity = skin.capacity;
        append_block(skin, block);
        reallocations += skin.capacity != capacity;
        // Reserving far ahead fails on 32-bit Windows long before the skin is large.
        ASSERT_LE(skin.capacity, 2 * skin.length) << "after block " << i;
        expected.insert(expected.end(), block.begin(), block.end());
    }
    ASSERT_EQ(static_cast<std::size_t>(skin.length), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), skin.bytes.get()));
    EXPECT_LE(reallocations, 12); // geometric: about log2 of the growth, not one per block
}

TEST(append_block_death, a_skin_past_two_gibibytes_ends_the_program)
{
    // Nothing is allocated: the limit must be checked before any growth or copy.
    skin_buffer skin;
    skin.length = std::numeric_limits<std::int32_t>::max() - 255;
    skin.capacity = skin.length;
    const std::vector<std::uint8_t> block(256);
    EXPECT_EXIT(append_block(skin, block), ::testing::ExitedWithCode(1),
                "^Skin file too large: skin\\.skn\n$");
}

} // namespace
