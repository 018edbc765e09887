// Temporary folders and a child-process runner for the end-to-end tests.
#include "tests/test_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string read_text(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

constexpr int valgrind_failed = 99;

// The built program, unless the variable `chosen` names another build (such as a Windows one).
std::string program_under_test(const char* variable, const char* built)
{
    const char* chosen = std::getenv(variable);
    return chosen != nullptr && *chosen != '\0' ? chosen : built;
}

// The program, behind SKINPACK_TEST_WRAPPER (such as wine) when one is set.
std::vector<std::string> command_for(const std::string& program)
{
    std::vector<std::string> command;
    if (const char* wrapper = std::getenv("SKINPACK_TEST_WRAPPER"); wrapper != nullptr && *wrapper != '\0')
        command.push_back(wrapper);
    command.push_back(program);
    return command;
}

// Windows text mode writes "\r\n" for each line end; compare what the user reads.
std::string without_carriage_returns(std::string text)
{
    std::erase(text, '\r');
    return text;
}

// Where memcheck reports when SKINPACK_VALGRIND is set, or "" when the tool runs bare.
std::string valgrind_log(const fs::path& folder)
{
    const char* wanted = std::getenv("SKINPACK_VALGRIND");
    return wanted != nullptr && *wanted != '\0' ? (folder.parent_path() / "valgrind.log").string() : "";
}

// In the child: set up the folder, the output files and the limit, then become `program`.
[[noreturn]] void exec_program(const std::vector<std::string>& command, const fs::path& folder,
                               const fs::path& out, const fs::path& err, const run_options& options)
{
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd < 0 || err_fd < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0 ||
        ::chdir(folder.c_str()) != 0)
        ::_exit(127);
    if (options.unprivileged && ::geteuid() == 0) {
        constexpr uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(127);
        // Wine keeps a prefix per user; the Windows test script makes one for nobody.
        if (const char* prefix = std::getenv("SKINPACK_TEST_NOBODY_WINEPREFIX"); prefix != nullptr) {
            ::setenv("WINEPREFIX", prefix, 1);
            ::setenv("HOME", prefix, 1);
        }
    }
    if (options.file_size_limit >= 0) {
        // A write past the limit then fails with EFBIG, as on a full disk, instead of killing.
        std::signal(SIGXFSZ, SIG_IGN);
        const auto limit = static_cast<rlim_t>(options.file_size_limit);
        const rlimit file_size{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &file_size) != 0)
            ::_exit(127);
    }
    std::vector<std::string> words;
    if (const std::string log = valgrind_log(folder); !log.empty()) {
        // The failure path exits with its buffers still reachable; anything lost is an error.
        words = {"valgrind",
                 "--quiet",
                 "--error-exitcode=" + std::to_string(valgrind_failed),
                 "--leak-check=full",
                 "--errors-for-leak-kinds=definite,indirect,possible",
                 "--log-file=" + log};
    }
    words.insert(words.end(), command.begin(), command.end());
    words.insert(words.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// `command` with its program linked (or copied) beside `folder`: nobody may not reach the build
// tree, as in a clone in a private folder, but reaches the test's own folders.
std::vector<std::string> reachable_by_nobody(std::vector<std::string> command, const fs::path& folder)
{
    const fs::path program = command.back();
    const fs::path near = folder.parent_path() / "programs" / program.filename();
    std::error_code code;
    fs::create_directory(near.parent_path(), code);
    fs::permissions(near.parent_path(), fs::perms{0755}, code);
    if (!fs::exists(near, code)) {
        fs::create_hard_link(program, near, code);
        if (code)
            fs::copy_file(program, near, code);
    }
    command.back() = near.string();
    return command;
}

// Starts `command` in `folder`, its output going to files beside the folder named by `tag`.
background_program start_program(const std::vector<std::string>& command, const fs::path& folder,
                                 const run_options& options, const std::string& tag)
{
    // Named by process, so that runs from several processes at once keep apart.
    const std::string id = tag + std::to_string(::getpid());
    background_program program{-1, folder, folder.parent_path() / ("stdout-" + id + ".txt"),
                               folder.parent_path() / ("stderr-" + id + ".txt"),
                               command.back().ends_with(".exe")};
    const bool as_nobody = options.unprivileged && ::geteuid() == 0;
    if (as_nobody) {
        fs::permissions(folder.parent_path(), fs::perms::all);
        fs::permissions(folder, fs::perms::all);
    }
    const std::vector<std::string> run = as_nobody ? reachable_by_nobody(command, folder) : command;
    // Gone before it starts, so that what an earlier run wrote there is never read as this one's.
    std::error_code code;
    fs::remove(program.out, code);
    fs::remove(program.err, code);
    const pid_t child = ::fork();
    if (child == 0)
        exec_program(run, folder, program.out, program.err, options);
    program.pid = child;
    return program;
}

// The result of a program that has ended with `status` (from waitpid).
run_result ended(const background_program& program, int status)
{
    run_result result;
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = read_text(program.out);
    result.err = read_text(program.err);
    if (program.windows) {
        result.out = without_carriage_returns(result.out);
        result.err = without_carriage_returns(result.err);
    }
    if (result.status == valgrind_failed)
        result.err += read_text(valgrind_log(program.folder)); // shown by the failing comparison
    return result;
}

// Runs `command` in `folder`, its output captured beside the folder.
run_result run_program(const std::vector<std::string>& command, const fs::path& folder,
                       const run_options& options)
{
    background_program program = start_program(command, folder, options, "");
    if (program.pid < 0)
        return {};
    if (options.while_running) {
        options.while_running();
        ::kill(program.pid, SIGINT);
        return finish_background(program, std::chrono::seconds(5));
    }
    int status = 0;
    if (::waitpid(program.pid, &status, 0) != program.pid)
        return {};
    return ended(program, status);
}

} // namespace

run_result run_skinpack(const fs::path& folder, const run_options& options)
{
    return run_program(command_for(program_under_test("SKINPACK_TEST_EXE", SKINPACK_EXE)), folder, options);
}

run_result run_skinview(const fs::path& folder, const run_options& options)
{
    return run_program(command_for(program_under_test("SKINVIEW_TEST_EXE", SKINVIEW_EXE)), folder, options);
}

background_program start_skinview(const fs::path& folder, const run_options& options)
{
    return start_program(command_for(program_under_test("SKINVIEW_TEST_EXE", SKINVIEW_EXE)), folder, options,
                         "background-");
}

std::string wait_for_line(const background_program& program, const std::string& text,
                          std::chrono::milliseconds limit, bool from_err)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        std::istringstream lines(without_carriage_returns(read_text(from_err ? program.err : program.out)));
        for (std::string line; std::getline(lines, line);)
            if (line.find(text) != std::string::npos)
                return line;
        // Ended, but left for finish_background to collect.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(program.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid == program.pid)
            return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

run_result finish_background(background_program& program, std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (::waitpid(program.pid, &status, WNOHANG) == program.pid)
            return ended(program, status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(program.pid, SIGKILL);
    ::waitpid(program.pid, &status, 0);
    run_result killed = ended(program, status);
    killed.status = -1;
    return killed;
}

bool testing_windows_build()
{
    return program_under_test("SKINPACK_TEST_EXE", SKINPACK_EXE).ends_with(".exe");
}

std::vector<std::uint8_t> read_file(const fs::path& path)
{
    const std::string text = read_text(path);
    return {text.begin(), text.end()};
}

std::vector<std::string> leftover_temporaries(const fs::path& folder)
{
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".tmp" && entry.path().filename() != "skin.skn.tmp")
            found.push_back(entry.path().filename().string());
    return found;
}

void folder_test::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "skinpack-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    folder = root / "folder";
    fs::create_directory(folder);
}

void folder_test::TearDown()
{
    std::error_code ignored;
    fs::remove_all(root, ignored);
}
