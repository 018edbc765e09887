// A fresh temporary folder per test, and a way to run the built skinpack inside it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
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
