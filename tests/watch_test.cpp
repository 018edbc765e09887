// The watcher that build --watch and the studio share: what a stamp of a file holds, and the
// rule that waits for a save to settle, driven look by look without waiting.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "tests/test_folder.h"
#include "view/project/watch.h"

namespace fs = std::filesystem;

namespace {

// A regular file of `size` bytes, written at second `second`.
input_stamp file_stamp(std::uintmax_t size, int second, bool readable = true)
{
    return {fs::file_type::regular, size, fs::file_time_type(std::chrono::seconds(second)), readable};
}

struct rule_case {
    const char* name;
    input_stamp built;              // art.png when last built
    std::vector<input_stamp> looks; // one after the other
    std::vector<watch_step> steps;  // what each look says
};

using enum watch_step;

// A save that never stops changing is built after the settle limit all the same.
rule_case never_steady()
{
    rule_case c{"never_steady", file_stamp(10, 1), {}, {}};
    for (int look = 0; look <= watch_settle_limit; ++look) {
        c.looks.push_back(file_stamp(11 + static_cast<std::uintmax_t>(look), 1));
        c.steps.push_back(look < watch_settle_limit ? settling : settled);
    }
    return c;
}

TEST(watch, settles_a_change_before_building_from_it)
{
    const std::vector<rule_case> cases{
        {"unchanged", file_stamp(10, 1), {file_stamp(10, 1), file_stamp(10, 1)}, {unchanged, unchanged}},
        {"size", file_stamp(10, 1), {file_stamp(11, 1), file_stamp(11, 1)}, {settling, settled}},
        {"time", file_stamp(10, 1), {file_stamp(10, 2), file_stamp(10, 2)}, {settling, settled}},
        {"made", {}, {file_stamp(0, 1), file_stamp(0, 1)}, {settling, settled}},
        {"made_unreadable",
         file_stamp(10, 1),
         {file_stamp(10, 1, false), file_stamp(10, 1, false)},
         {settling, settled}},
        {"made_readable",
         file_stamp(10, 1, false),
         {file_stamp(10, 1), file_stamp(10, 1)},
         {settling, settled}},
        {"saved_in_two_steps",
         file_stamp(10, 1),
         {file_stamp(5, 2), file_stamp(20, 2), file_stamp(20, 2), file_stamp(20, 2)},
         {settling, settling, settled, unchanged}},
        {"undone_while_settling",
         file_stamp(10, 1),
         {file_stamp(5, 2), file_stamp(10, 1), file_stamp(10, 1)},
         {settling, settling, unchanged}},
        never_steady(),
    };
    for (const rule_case& c : cases) {
        watch_state watch{{"art.png"}, {{"art.png", c.built}}, {}, 0};
        for (std::size_t look = 0; look < c.looks.size(); ++look) {
            const watch_step step = watch_next(watch, {{"art.png", c.looks[look]}});
            EXPECT_EQ(static_cast<int>(step), static_cast<int>(c.steps[look])) << c.name << ", look " << look;
            if (step == settled) {
                EXPECT_EQ(changed_inputs(watch), std::vector<fs::path>{"art.png"}) << c.name;
                watch.built = watch.seen; // as a build then finds it
            }
        }
    }
}

struct stamp_case {
    const char* name;
    std::function<void(const fs::path&)> make; // makes "input"
    input_stamp expected;                      // but its time
};

class stamp_test : public folder_test {};

// Each kind of input is stamped without being opened unless it is a file: a FIFO would hang.
TEST_F(stamp_test, stamps_each_kind_of_input)
{
    const std::vector<stamp_case> cases{
        {"missing", [](const fs::path&) {}, {}},
        {"file", [](const fs::path& p) { std::ofstream(p) << "twelve bytes"; }, file_stamp(12, 0)},
        {"folder",
         [](const fs::path& p) { fs::create_directory(p); },
         {fs::file_type::directory, 0, {}, false}},
        {"fifo",
         [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         {fs::file_type::fifo, 0, {}, false}},
        {"dangling_link", [](const fs::path& p) { fs::create_symlink("nowhere", p); }, {}},
    };
    for (const stamp_case& c : cases) {
        const fs::path input = folder / c.name;
        c.make(input);
        input_stamp stamp = stamp_of(input);
        EXPECT_EQ(stamp.time != fs::file_time_type{}, c.expected.kind != fs::file_type::not_found) << c.name;
        stamp.time = c.expected.time;
        EXPECT_EQ(stamp, c.expected) << c.name;
    }
}

} // namespace
