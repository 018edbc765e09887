// Fatal reports, checked allocation and whole-file I/O, with their exits seen from outside.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "support/fatal.h"
#include "support/file_io.h"
#include "support/memory.h"
#include "tests/bmp_writer.h"
#include "tests/test_folder.h"

namespace fs = std::filesystem;

namespace {

using ::testing::ExitedWithCode;

TEST(fatal_exit_death, prints_the_formatted_message_and_a_line_end)
{
    EXPECT_EXIT(fatal_exit("Read error on file: %s", "bmp7.bmp"), ExitedWithCode(1),
                "^Read error on file: bmp7\\.bmp\n$");
    EXPECT_EXIT(fatal_exit("%d of %u", -3, 9u), ExitedWithCode(1), "^-3 of 9\n$");
}

TEST(fatal_exit_death, empty_format_prints_nothing_at_all)
{
    const char* empty = "";
    EXPECT_EXIT(fatal_exit(empty), ExitedWithCode(1), "^$");
}

TEST(alloc_zeroed_or_die, gives_zeroed_blocks_even_for_zero_bytes)
{
    for (const std::size_t size : {0u, 1u, 100u, 70000u}) {
        const byte_buffer block = alloc_zeroed_or_die(size);
        ASSERT_NE(block, nullptr);
        for (std::size_t i = 0; i < size; ++i)
            ASSERT_EQ(block[i], 0) << "byte " << i << " of " << size;
    }
}

TEST(realloc_or_die, grows_from_nothing_and_keeps_the_contents)
{
    byte_buffer block = realloc_or_die(nullptr, 4);
    ASSERT_NE(block, nullptr);
    for (std::uint8_t i = 0; i < 4; ++i)
        block[i] = static_cast<std::uint8_t>(i + 1);
    block = realloc_or_die(std::move(block), 1 << 20);
    block = realloc_or_die(std::move(block), 2);
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 2);
}

TEST(allocation_death, exhaustion_ends_the_program)
{
    constexpr std::size_t impossible = std::numeric_limits<std::size_t>::max() / 2;
    // A sanitizer's allocator may warn first; the message must still be the last line.
    EXPECT_EXIT(alloc_zeroed_or_die(impossible), ExitedWithCode(1), "(^|\n)Out of memory\n$");
    EXPECT_EXIT(realloc_or_die(alloc_zeroed_or_die(8), impossible), ExitedWithCode(1),
                "(^|\n)Out of memory\n$");
}

using load_whole_file_test = folder_test;

TEST_F(load_whole_file_test, missing_file_gives_nothing_and_leaves_the_length)
{
    std::int32_t length = 77;
    EXPECT_EQ(load_whole_file((folder / "missing.bmp").c_str(), &length), nullptr);
    EXPECT_EQ(length, 77);
}

TEST_F(load_whole_file_test, reads_every_byte_and_a_terminating_zero)
{
    const std::vector<std::uint8_t> bytes{'s', 'k', 0xFF, 0x00, 'n'};
    write_file(folder / "five", bytes);
    std::int32_t length = 0;
    const byte_buffer buffer = load_whole_file((folder / "five").c_str(), &length);
    ASSERT_EQ(length, 5);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.get(), buffer.get() + 5), bytes);
    EXPECT_EQ(buffer[5], 0);
    EXPECT_NE(load_whole_file((folder / "five").c_str(), nullptr), nullptr);
}

TEST_F(load_whole_file_test, empty_or_oversized_files_end_the_program)
{
    const fs::path empty = folder / "empty.bmp";
    write_file(empty, {});
    EXPECT_EXIT(load_whole_file(empty.c_str(), nullptr), ExitedWithCode(1),
                "^Read error on file: " + empty.string() + "\n$");

    // Sparse, so it costs no disk: one byte over the largest length a skin input may have.
    const fs::path huge = folder / "huge.bmp";
    write_file(huge, {});
    fs::resize_file(huge, std::uint64_t{1} << 31);
    EXPECT_EXIT(load_whole_file(huge.c_str(), nullptr), ExitedWithCode(1),
                "^File too large: " + huge.string() + "\n$");
}

using save_whole_file_test = folder_test;

TEST_F(save_whole_file_test, replaces_the_file_whole_and_leaves_no_temporary)
{
    const fs::path target = folder / "skin.skn";
    write_file(target, std::vector<std::uint8_t>(1000, 7));
    const std::vector<std::uint8_t> data{1, 2, 3};
    save_whole_file(target.c_str(), data);
    EXPECT_EQ(read_file(target), data);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

// On every failure the previous file stays as it was and no temporary is left behind.
TEST_F(save_whole_file_test, failures_keep_the_previous_file)
{
    const fs::path target = folder / "skin.skn";
    const std::vector<std::uint8_t> previous(300, 9);
    write_file(target, previous);
    const std::vector<std::uint8_t> data{1, 2, 3};

    EXPECT_EXIT(save_whole_file(target.c_str(), {}), ExitedWithCode(1),
                "^Write error on file: " + target.string() + "\n$");
    EXPECT_EQ(read_file(target), previous);
    EXPECT_FALSE(fs::exists(folder / "skin.skn.tmp"));

    fs::create_directory(folder / "skin.skn.tmp");
    EXPECT_EXIT(save_whole_file(target.c_str(), data), ExitedWithCode(1),
                "^Can't create file: " + target.string() + "\n$");
    EXPECT_EQ(read_file(target), previous);
    fs::remove(folder / "skin.skn.tmp");

    const fs::path directory = folder / "taken";
    fs::create_directories(directory / "inside");
    EXPECT_EXIT(save_whole_file(directory.c_str(), data), ExitedWithCode(1),
                "^Can't create file: " + directory.string() + "\n$");
    EXPECT_TRUE(fs::is_directory(directory / "inside"));
    EXPECT_FALSE(fs::exists(folder / "taken.tmp"));
}

} // namespace
