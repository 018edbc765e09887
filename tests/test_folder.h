// A fresh temporary folder per test, and a way to run the built skinpack inside it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct run_result {
    int status = -1; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

struct run_options {
    std::vector<std::string> arguments;
    long file_size_limit = -1; // bytes the process may write to one file; -1: no limit
    bool unprivileged = false; // run as "nobody" when the tests run as root, so permissions count
    // Runs while the program does; then the program gets SIGINT, as from Ctrl-C, and SIGKILL if
    // it has not ended a few seconds later.
    std::function<void()> while_running;
};

// Runs the built skinpack with `folder` as its working directory. SKINPACK_TEST_EXE may name
// another build of it, and SKINPACK_TEST_WRAPPER a program to run it with (such as wine).
run_result run_skinpack(const std::filesystem::path& folder, const run_options& options = {});

// Runs the built skinview with `folder` as its working directory; SKINVIEW_TEST_EXE may name
// another build, run with SKINPACK_TEST_WRAPPER as skinpack is.
run_result run_skinview(const std::filesystem::path& folder, const run_options& options = {});

// A skinview started in the background, as run_skinview would run it, for servers.
struct background_program {
    int pid = -1;
    std::filesystem::path folder; // where it runs
    std::filesystem::path out;    // its stdout and stderr, as written so far
    std::filesystem::path err;
    bool windows = false; // a Windows build, whose lines end in "\r\n"
};

background_program start_skinview(const std::filesystem::path& folder, const run_options& options = {});

// The first line of its stdout (its stderr with `from_err`) that contains `text`, once written; ""
// if none came within `limit` or the program ended first.
std::string wait_for_line(const background_program& program, const std::string& text,
                          std::chrono::milliseconds limit, bool from_err = false);

// Waits up to `limit` for the program to end by itself, then kills it (status -1).
run_result finish_background(background_program& program, std::chrono::milliseconds limit);

// Whether the programs under test are Windows executables.
bool testing_windows_build();

std::vector<std::uint8_t> read_file(const std::filesystem::path& path);

// The temporary files that saves left anywhere below `folder`; a user's own "skin.skn.tmp" is not one.
std::vector<std::string> leftover_temporaries(const std::filesystem::path& folder);

// Gives each test an empty folder of its own, removed after the test.
class folder_test : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path root;   // holds `folder` and nothing else of the tool's
    std::filesystem::path folder; // where the tool runs
};

// Rows of a table of cases print as their `name`, and by_name names each parameterised test after
// its row; a test file takes them with using-declarations in its own namespace, where gtest looks.
namespace table_rows {
template <typename row>
requires std::same_as<decltype(row::name), const char*>
void PrintTo(const row& r, std::ostream* out)
{
    *out << r.name;
}
inline const auto by_name = [](const auto& test) { return std::string(test.param.name); };
} // namespace table_rows
