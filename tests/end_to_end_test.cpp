// The built skinpack run in fresh folders: series, order, messages, status and the kept skin.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "skin/bmp_writer.h"
#include "tests/test_folder.h"

namespace fs = std::filesystem;

namespace {

using table_rows::by_name;
using table_rows::PrintTo;

struct input {
    std::string name;
    std::int32_t side;
};

struct series_case {
    const char* name;
    std::vector<input> inputs;
    std::vector<std::string> read; // the inputs whose blocks make the skin, in order
};

std::vector<input> numbered(const char* pattern, unsigned count, std::int32_t side)
{
    std::vector<input> inputs;
    char name[32];
    for (unsigned i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, pattern, i);
        inputs.push_back({name, side});
    }
    return inputs;
}

std::vector<std::string> names(const std::vector<input>& inputs)
{
    std::vector<std::string> result;
    for (const input& i : inputs)
        result.push_back(i.name);
    return result;
}

std::vector<input> joined(std::vector<input> first, const std::vector<input>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class series : public folder_test, public ::testing::WithParamInterface<series_case> {};

TEST_P(series, skin_holds_the_blocks_of_each_series_in_order)
{
    std::map<std::string, std::vector<std::uint8_t>> pixels;
    unsigned seed = 0;
    for (const input& i : GetParam().inputs) {
        const bmp_image image = sample_image(i.side, seed++);
        write_file(folder / i.name, bmp_bytes(image));
        pixels[i.name] = image.pixels;
    }
    std::vector<std::uint8_t> expected;
    for (const std::string& name : GetParam().read)
        expected.insert(expected.end(), pixels[name].begin(), pixels[name].end());
    write_file(folder / "skin.skn", {'o', 'l', 'd'}); // must be replaced whole

    const run_result result = run_skinpack(folder, {.arguments = {"--ignored", "skin.skn"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file(folder / "skin.skn"), expected);
    EXPECT_EQ(leftover_temporaries(folder), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    folders, series,
    ::testing::Values(
        series_case{"pictures_then_icons",
                    joined({{"icon00.bmp", 16}, {"icon01.bmp", 16}, {"icon02.bmp", 16}},
                           {{"bmp1.bmp", 128}, {"bmp0.bmp", 128}}),
                    {"bmp0.bmp", "bmp1.bmp", "icon00.bmp", "icon01.bmp", "icon02.bmp"}},
        series_case{
            "sizes_in_either_series", {{"bmp0.bmp", 16}, {"icon00.bmp", 128}}, {"bmp0.bmp", "icon00.bmp"}},
        series_case{"missing_first_picture", {{"bmp1.bmp", 16}, {"icon00.bmp", 16}}, {"icon00.bmp"}},
        series_case{
            "gap_ends_a_series",
            {{"bmp0.bmp", 16}, {"bmp1.bmp", 16}, {"bmp3.bmp", 16}, {"icon00.bmp", 16}, {"icon02.bmp", 16}},
            {"bmp0.bmp", "bmp1.bmp", "icon00.bmp"}},
        series_case{
            "icons_need_two_digits", {{"icon0.bmp", 16}, {"icon1.bmp", 16}, {"bmp0.bmp", 16}}, {"bmp0.bmp"}},
        series_case{"eleven_pictures", numbered("bmp%u.bmp", 11, 16), names(numbered("bmp%u.bmp", 11, 16))},
        series_case{"hundred_and_one_icons", numbered("icon%02u.bmp", 101, 16),
                    names(numbered("icon%02u.bmp", 101, 16))}),
    by_name);

// Names are looked up as the file system does: Windows matches them in any case, Linux exactly.
TEST_F(folder_test, names_match_in_any_case_only_on_windows)
{
    const bmp_image lower = sample_image(16, 1);
    const bmp_image upper = sample_image(16, 2);
    const bmp_image icon = sample_image(16, 3);
    write_file(folder / "bmp0.bmp", bmp_bytes(lower));
    write_file(folder / "BMP1.BMP", bmp_bytes(upper));
    write_file(folder / "Icon00.Bmp", bmp_bytes(icon));

    std::vector<std::uint8_t> expected = lower.pixels;
    if (testing_windows_build()) {
        expected.insert(expected.end(), upper.pixels.begin(), upper.pixels.end());
        expected.insert(expected.end(), icon.pixels.begin(), icon.pixels.end());
    }
    ASSERT_EQ(run_skinpack(folder).status, 0);
    EXPECT_EQ(read_file(folder / "skin.skn"), expected);
}

TEST_F(folder_test, two_large_pictures_and_three_icons_make_33536_bytes)
{
    for (const char* name : {"bmp0.bmp", "bmp1.bmp"})
        write_file(folder / name, bmp_bytes(sample_image(128, 0)));
    for (const char* name : {"icon00.bmp", "icon01.bmp", "icon02.bmp"})
        write_file(folder / name, bmp_bytes(sample_image(16, 0)));
    ASSERT_EQ(run_skinpack(folder).status, 0);
    EXPECT_EQ(fs::file_size(folder / "skin.skn"), 33536u);
}

// One pure red image under each information header: the colour table lies right behind the header,
// and a header under 40 bytes, whose colour table starts where the compression field is read, is
// refused rather than packed in wrong colours.
TEST_F(folder_test, colours_come_from_behind_the_header_and_short_headers_are_refused)
{
    // Black first, so that a 16-byte header's table reads as "uncompressed" where compression is read.
    std::vector<std::uint8_t> red;
    for (int i = 0; i < 16 * 16; ++i)
        red.insert(red.end(), {static_cast<std::uint8_t>(i == 0 ? 0 : 255), 0, 0, 255});
    const struct {
        std::uint32_t header_size;
        const char* err; // "" where the image is packed
    } cases[] = {{16, "Wrong image format\n"}, {40, ""}, {108, ""}, {124, ""}};
    std::vector<std::uint8_t> black_then_red(256, 0xE0);
    black_then_red[0] = 0x00;
    for (const auto& c : cases) {
        fs::remove(folder / "skin.skn");
        write_file(folder / "bmp0.bmp", encode_bmp(red, 16, 16, {"red", 8, 0, c.header_size}));
        const run_result result = run_skinpack(folder);
        EXPECT_EQ(result.err, c.err) << c.header_size;
        EXPECT_EQ(result.status, *c.err ? 1 : 0) << c.header_size;
        EXPECT_EQ(fs::exists(folder / "skin.skn") ? read_file(folder / "skin.skn")
                                                  : std::vector<std::uint8_t>{},
                  *c.err ? std::vector<std::uint8_t>{} : black_then_red)
            << c.header_size;
    }
}

// Inputs that crash a careless reader: each must be converted or refused in one line.
TEST_F(folder_test, regression_inputs_are_converted_or_refused_cleanly)
{
    int files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(SKINPACK_REGRESSIONS)) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        fs::remove_all(folder);
        fs::create_directory(folder);
        fs::copy_file(entry.path(), folder / "bmp0.bmp");
        const run_result result = run_skinpack(folder);
        if (result.status == 0) {
            EXPECT_EQ(result.err, "");
            EXPECT_TRUE(fs::file_size(folder / "skin.skn") == 256 ||
                        fs::file_size(folder / "skin.skn") == 16384);
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
            EXPECT_TRUE(result.err.ends_with("\n")) << result.err;
        }
    }
    EXPECT_GT(files, 0);
}

struct failure_case {
    const char* name;
    std::function<void(const fs::path&)> prepare;
    std::string message;
    long file_size_limit = -1;
    bool unprivileged = false;
    bool posix_only = false; // Windows programs see no POSIX symbolic links
};

class failure : public folder_test, public ::testing::WithParamInterface<failure_case> {};

// Every failure prints one line, exits with 1, and leaves the last good skin byte for byte.
TEST_P(failure, reports_and_keeps_the_previous_skin)
{
    if (GetParam().posix_only && testing_windows_build())
        GTEST_SKIP() << "symbolic links are a POSIX matter";
    const std::vector<std::uint8_t> previous(20000, 0x5A);
    write_file(folder / "skin.skn", previous);
    GetParam().prepare(folder);

    write_file(folder / "skin.skn.tmp", {'m', 'i', 'n', 'e'}); // the user's own file, never touched
    const run_result result = run_skinpack(
        folder, {.file_size_limit = GetParam().file_size_limit, .unprivileged = GetParam().unprivileged});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, GetParam().message + "\n");
    if (fs::is_regular_file(folder / "skin.skn")) {
        EXPECT_EQ(read_file(folder / "skin.skn"), previous);
    }
    EXPECT_EQ(read_file(folder / "skin.skn.tmp"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(leftover_temporaries(folder), std::vector<std::string>{});
}

void good_pictures(const fs::path& folder)
{
    write_file(folder / "bmp0.bmp", bmp_bytes(sample_image(128, 0)));
    write_file(folder / "bmp1.bmp", bmp_bytes(sample_image(16, 1)));
}

void write_changed(const fs::path& path, const std::function<void(std::vector<std::uint8_t>&)>& change)
{
    std::vector<std::uint8_t> bytes = bmp_bytes(sample_image(16, 0));
    change(bytes);
    write_file(path, bytes);
}

INSTANTIATE_TEST_SUITE_P(
    folders, failure,
    ::testing::Values(
        failure_case{"no_input", [](const fs::path&) {}, "Write error on file: skin.skn"},
        failure_case{"bad_icon_after_good_pictures",
                     [](const fs::path& f) {
                         good_pictures(f);
                         write_file(f / "icon00.bmp", bmp_bytes(sample_image(16, 0)));
                         write_file(f / "icon01.bmp", bmp_bytes(sample_image(16, 1)));
                         write_file(f / "icon02.bmp", bmp_bytes(bmp_image{.compression = 1}));
                     },
                     "Wrong image format"},
        failure_case{
            "top_down_picture",
            [](const fs::path& f) { write_file(f / "bmp0.bmp", bmp_bytes(bmp_image{.height = -16})); },
            "Wrong image format"},
        failure_case{"truncated_picture",
                     [](const fs::path& f) {
                         good_pictures(f);
                         write_changed(f / "bmp2.bmp", [](auto& bytes) { bytes.pop_back(); });
                     },
                     "Truncated image file: bmp2.bmp"},
        failure_case{
            "header_only",
            [](const fs::path& f) { write_changed(f / "icon00.bmp", [](auto& bytes) { bytes.resize(20); }); },
            "Truncated image file: icon00.bmp"},
        failure_case{"empty_icon",
                     [](const fs::path& f) {
                         good_pictures(f);
                         write_file(f / "icon00.bmp", {});
                     },
                     "Read error on file: icon00.bmp"},
        failure_case{"folder_named_like_a_picture",
                     [](const fs::path& f) {
                         good_pictures(f);
                         fs::create_directory(f / "bmp2.bmp");
                     },
                     "Read error on file: bmp2.bmp"},
        failure_case{"input_over_two_gibibytes",
                     [](const fs::path& f) {
                         write_file(f / "bmp0.bmp", {});
                         fs::resize_file(f / "bmp0.bmp", std::uint64_t{1} << 31);
                     },
                     "File too large: bmp0.bmp"},
        failure_case{"skin_is_a_folder",
                     [](const fs::path& f) {
                         good_pictures(f);
                         fs::remove(f / "skin.skn");
                         fs::create_directories(f / "skin.skn" / "keep");
                     },
                     "Can't create file: skin.skn"},
        failure_case{"disk_full", good_pictures, "Write error on file: skin.skn", 10000},
        // The write fits the stream's buffer: the error shows only when it is closed.
        failure_case{"disk_full_on_close",
                     [](const fs::path& f) { write_file(f / "icon00.bmp", bmp_bytes(sample_image(16, 0))); },
                     "Write error on file: skin.skn", 100},
        failure_case{"colour_past_the_table",
                     [](const fs::path& f) {
                         write_file(f / "bmp0.bmp",
                                    bmp_bytes(bmp_image{.pixels = std::vector<std::uint8_t>(256, 200)}));
                     },
                     "Truncated image file: bmp0.bmp"},
        failure_case{"read_only_skin",
                     [](const fs::path& f) {
                         good_pictures(f);
                         fs::permissions(f / "skin.skn", fs::perms::owner_read | fs::perms::group_read |
                                                             fs::perms::others_read);
                     },
                     "Can't create file: skin.skn", -1, true},
        failure_case{"unreadable_folder_named_like_a_picture",
                     [](const fs::path& f) {
                         good_pictures(f);
                         fs::create_directory(f / "bmp2.bmp");
                         fs::permissions(f / "bmp2.bmp", fs::perms::none);
                     },
                     "Read error on file: bmp2.bmp", -1, true},
        // A file that is there but cannot be opened is a fault, never the end of its series.
        failure_case{"unreadable_picture",
                     [](const fs::path& f) {
                         good_pictures(f);
                         write_file(f / "bmp2.bmp", bmp_bytes(sample_image(16, 2)));
                         fs::permissions(f / "bmp2.bmp", fs::perms::none);
                         write_file(f / "bmp3.bmp", bmp_bytes(sample_image(16, 3)));
                     },
                     "Read error on file: bmp2.bmp", -1, true},
        failure_case{"dangling_link_named_like_an_icon",
                     [](const fs::path& f) {
                         good_pictures(f);
                         fs::create_symlink("gone.bmp", f / "icon00.bmp");
                     },
                     "Read error on file: icon00.bmp", -1, false, true}),
    by_name);

// A skin kept in a firmware tree through a link: the target gets the skin with its own
// permissions, and the link stays. Windows programs see no such links.
TEST_F(folder_test, linked_skin_is_written_through_with_its_permissions)
{
    if (testing_windows_build())
        GTEST_SKIP() << "symbolic links are a POSIX matter";
    const bmp_image picture = sample_image(16, 4);
    write_file(folder / "bmp0.bmp", bmp_bytes(picture));
    const fs::path firmware = root / "firmware";
    fs::create_directory(firmware);
    write_file(firmware / "skin.skn", {1, 2});
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(firmware / "skin.skn", mode);
    fs::create_symlink("../firmware/skin.skn", folder / "skin.skn");

    const run_result result = run_skinpack(folder);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(folder / "skin.skn"));
    EXPECT_EQ(read_file(firmware / "skin.skn"), picture.pixels);
    EXPECT_EQ(fs::status(firmware / "skin.skn").permissions(), mode);
    EXPECT_EQ(leftover_temporaries(root), std::vector<std::string>{});
}

// Runs in a child process until `deadline`; the child exits 0 only if every round succeeded.
template <typename Round> pid_t repeat_in_child(std::chrono::steady_clock::time_point deadline, Round round)
{
    const pid_t child = ::fork();
    if (child == 0) {
        while (std::chrono::steady_clock::now() < deadline)
            if (!round())
                ::_exit(1);
        ::_exit(0);
    }
    return child;
}

// Several runs at once while an input flips between two versions: every run succeeds, and
// every skin.skn a reader meets is one whole skin.
TEST_F(folder_test, concurrent_runs_each_leave_one_whole_skin)
{
    if (testing_windows_build())
        GTEST_SKIP() << "Windows refuses to replace a file that a reader holds open";
    const bmp_image versions[] = {sample_image(128, 1), sample_image(128, 2)};
    write_file(folder / "bmp0.bmp", bmp_bytes(versions[0]));
    ASSERT_EQ(run_skinpack(folder).status, 0);

    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    std::vector<pid_t> children;
    for (int i = 0; i < 3; ++i) {
        children.push_back(repeat_in_child(deadline, [&] {
            const run_result result = run_skinpack(folder);
            return result.status == 0 && result.err.empty();
        }));
    }
    unsigned flips = 0;
    children.push_back(repeat_in_child(deadline, [&] {
        write_file(root / "next.bmp", bmp_bytes(versions[++flips % 2]));
        fs::rename(root / "next.bmp", folder / "bmp0.bmp");
        return true;
    }));

    int reads = 0;
    int torn = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::uint8_t> seen = read_file(folder / "skin.skn");
        ++reads;
        torn += seen != versions[0].pixels && seen != versions[1].pixels;
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a run failed";
    }
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
    EXPECT_EQ(leftover_temporaries(folder), std::vector<std::string>{});
}

} // namespace
