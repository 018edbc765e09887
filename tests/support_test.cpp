// Fatal reports, checked allocation and whole-file I/O, with their exits seen from outside.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>

#include "skin/bmp_writer.h"
#include "support/fatal.h"
#include "support/file_io.h"
#include "support/memory.h"
#include "support/utf8_text.h"
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
    // More than half the address space, which no allocator gives: half of a 32-bit one may be had.
    constexpr std::size_t impossible = std::numeric_limits<std::size_t>::max() / 2 + 1;
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

// What a read finds, within the size limit it is given: only a name no entry has is missing.
TEST_F(load_whole_file_test, read_whole_file_says_what_kept_a_file_from_being_read)
{
    write_file(folder / "five", {1, 2, 3, 4, 5});
    write_file(folder / "empty", {});
    fs::create_directory(folder / "folder");
    fs::create_symlink("gone", folder / "dangling");
    struct read_case {
        const char* name;
        std::uintmax_t limit;
        read_outcome outcome;
    };
    for (const read_case& c :
         {read_case{"five", 5, read_outcome::read}, read_case{"five", 4, read_outcome::too_large},
          read_case{"empty", 5, read_outcome::read_failed}, read_case{"folder", 5, read_outcome::folder},
          read_case{"dangling", 5, read_outcome::cannot_open},
          read_case{"missing", 5, read_outcome::missing}}) {
        const whole_file file = read_whole_file(folder / c.name, c.limit);
        EXPECT_EQ(file.outcome, c.outcome) << c.name << " within " << c.limit;
        EXPECT_EQ(read_file_bytes(folder / c.name, c.limit).size(), c.outcome == read_outcome::read ? 5u : 0u)
            << c.name;
    }
    EXPECT_EQ(read_whole_file(folder / "dangling").open_error, std::errc::no_such_file_or_directory);
}

// Text from files and requests as messages show it; what it shows, it shows again unchanged.
TEST(printable, escapes_controls_marks_and_broken_utf8_and_keeps_letters)
{
    const struct {
        std::string text, shown;
    } cases[] = {
        {"art/battery.png", "art/battery.png"},
        {"art\\wifi.png", "art\\wifi.png"},
        {"art\battery.png", "art\\x08attery.png"},
        {"a\x1B[2Jb\x7F\n", "a\\x1B[2Jb\\x7F\\x0A"},
        {"\xFF\xFE", "\\xFF\\xFE"},
        {"caf\xC3\xA9 \xD1\x81\xD0\xBA\xD0\xB8\xD0\xBD", "caf\xC3\xA9 \xD1\x81\xD0\xBA\xD0\xB8\xD0\xBD"},
        {"caf\xE9!", "caf\\xE9!"},                             // Latin-1, not UTF-8
        {"\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"}, // overlong '/', a surrogate
        {"\xE2\x82", "\\xE2\\x82"},                            // cut short
        {"\xC2\x9Bm", "\\xC2\\x9Bm"},                          // a C1 control
        {"a\xE2\x80\xAEgnp.exe", "a\\xE2\\x80\\xAEgnp.exe"},   // a direction override
        {std::string("a\0b", 3), "a\\x00b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printable(c.text), c.shown) << c.shown;
        EXPECT_EQ(printable(c.shown), c.shown) << c.shown;
    }
}

const std::vector<std::uint8_t> previous(300, 9);
const std::vector<std::uint8_t> fresh{1, 2, 3};

struct save_case {
    const char* name;
    std::function<void(const fs::path&)> prepare; // the folder holds "skin.skn" = previous
    std::vector<std::uint8_t> data;
    save_outcome outcome;
    const char* changed; // the file that must hold `data` afterwards; null: nothing changes
};

void PrintTo(const save_case& c, std::ostream* out)
{
    *out << c.name;
}

class replace_file_test : public folder_test, public ::testing::WithParamInterface<save_case> {};

TEST_P(replace_file_test, writes_through_links_or_changes_nothing)
{
    const fs::path skin = folder / "skin.skn";
    write_file(skin, previous);
    fs::permissions(skin, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    write_file(folder / "skin.skn.tmp", {'m', 'i', 'n', 'e'}); // the user's own, never touched
    fs::create_directory(folder / "firmware");
    GetParam().prepare(folder);
    const bool was_link = fs::is_symlink(skin);

    // In a child with a deadline, so that a save that never ends fails this test, not the run.
    EXPECT_EXIT((::alarm(5), std::_Exit(static_cast<int>(replace_file(skin, GetParam().data)))),
                ExitedWithCode(static_cast<int>(GetParam().outcome)), "");
    if (GetParam().changed != nullptr) {
        const fs::path changed = folder / GetParam().changed;
        EXPECT_EQ(read_file(changed), GetParam().data);
        EXPECT_EQ(fs::status(changed).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    } else if (std::error_code loop; fs::is_regular_file(skin, loop)) {
        EXPECT_EQ(read_file(skin), previous);
    }
    EXPECT_EQ(fs::is_symlink(skin), was_link);
    EXPECT_EQ(read_file(folder / "skin.skn.tmp"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(leftover_temporaries(folder), std::vector<std::string>{});
}

void link_skin_to(const fs::path& folder, const char* target)
{
    fs::rename(folder / "skin.skn", folder / "firmware" / "real.skn");
    fs::create_symlink(target, folder / "skin.skn");
}

INSTANTIATE_TEST_SUITE_P(
    cases, replace_file_test,
    ::testing::Values(
        save_case{"plain_file_keeps_its_permissions", [](const fs::path&) {}, fresh, save_outcome::saved,
                  "skin.skn"},
        save_case{"link_stays_a_link", [](const fs::path& f) { link_skin_to(f, "firmware/real.skn"); }, fresh,
                  save_outcome::saved, "firmware/real.skn"},
        save_case{"chain_of_links_and_absolute_target",
                  [](const fs::path& f) {
                      link_skin_to(f, "middle.skn");
                      fs::create_symlink(f / "firmware" / "real.skn", f / "middle.skn");
                  },
                  fresh, save_outcome::saved, "firmware/real.skn"},
        save_case{"link_loop_is_refused",
                  [](const fs::path& f) {
                      fs::remove(f / "skin.skn");
                      fs::create_symlink("loop.skn", f / "skin.skn");
                      fs::create_symlink("skin.skn", f / "loop.skn");
                  },
                  fresh, save_outcome::cannot_create, nullptr},
        save_case{"folder_in_the_way",
                  [](const fs::path& f) {
                      fs::remove(f / "skin.skn");
                      fs::create_directories(f / "skin.skn" / "inside");
                  },
                  fresh, save_outcome::cannot_create, nullptr},
        save_case{"nothing_to_write", [](const fs::path&) {}, {}, save_outcome::write_failed, nullptr}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(folder_test, a_new_file_is_never_made_over_one_that_exists)
{
    const fs::path taken = folder / "skin.skn.0badcafe.tmp";
    write_file(taken, {'m', 'i', 'n', 'e'});
    errno = 0;
    EXPECT_EQ(create_new_file(taken), nullptr);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(read_file(taken), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    std::FILE* made = create_new_file(folder / "new.tmp");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(std::fclose(made), 0);
}

// A C runtime that reports a short write as complete, as some Windows ones do on a full disk:
// the linker sends every fclose here, which drops the last byte of a file of this many bytes.
off_t cut_files_of = -1;

extern "C" int __real_fclose(std::FILE* file);
extern "C" int __wrap_fclose(std::FILE* file)
{
    struct stat status {};
    if (std::fflush(file) == 0 && ::fstat(::fileno(file), &status) == 0 && status.st_size == cut_files_of)
        (void)::ftruncate(::fileno(file), status.st_size - 1);
    return __real_fclose(file);
}

TEST_F(folder_test, a_save_cut_short_unnoticed_is_caught_by_its_size)
{
    write_file(folder / "skin.skn", previous);
    cut_files_of = static_cast<off_t>(fresh.size());
    const save_outcome outcome = replace_file(folder / "skin.skn", fresh);
    cut_files_of = -1;
    EXPECT_EQ(outcome, save_outcome::write_failed);
    EXPECT_EQ(read_file(folder / "skin.skn"), previous);
    EXPECT_EQ(leftover_temporaries(folder), std::vector<std::string>{});
}

TEST_F(folder_test, dangling_link_target_is_created)
{
    fs::create_symlink("made.skn", folder / "skin.skn");
    EXPECT_EQ(replace_file(folder / "skin.skn", fresh), save_outcome::saved);
    EXPECT_TRUE(fs::is_symlink(folder / "skin.skn"));
    EXPECT_EQ(read_file(folder / "made.skn"), fresh);
}

TEST_F(folder_test, save_whole_file_reports_each_outcome)
{
    const fs::path skin = folder / "skin.skn";
    EXPECT_EXIT(save_whole_file(skin.c_str(), {}), ExitedWithCode(1),
                "^Write error on file: " + skin.string() + "\n$");
    fs::create_directories(skin / "inside");
    EXPECT_EXIT(save_whole_file(skin.c_str(), fresh), ExitedWithCode(1),
                "^Can't create file: " + skin.string() + "\n$");
}

} // namespace
