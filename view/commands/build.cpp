// skinview build: loads the project, builds it, says what changed; with --watch, polls the
// project file and the sources and builds again on every change until Ctrl-C.
#include "view/commands/build.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/watch.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <thread>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void on_interrupt(int)
{
    interrupted = 1;
}

// The mingw toolchains with win32 threads have no std::this_thread::sleep_for.
void pause_for(int milliseconds)
{
#ifdef _WIN32
    Sleep(static_cast<DWORD>(milliseconds));
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

// "skin.skn: 12 images, 196608 bytes, crc32 1a2b3c4d; 1 decoded; wrote bmp3.bmp skin.skn ..."
std::string summary(const build_result& result, const fs::path& out)
{
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(result.crc32));
    std::string text = printable_path((out / "skin.skn").lexically_normal()) + ": " +
                       counted(result.slots.size(), "image") + ", " + std::to_string(result.skin.size()) +
                       " bytes, crc32 " + crc + "; " + std::to_string(result.decoded) + " decoded; ";
    if (result.written.empty() && result.removed.empty())
        return text + "up to date";
    if (!result.written.empty())
        text += "wrote " + joined(result.written);
    if (!result.removed.empty())
        text += std::string(result.written.empty() ? "" : "; ") + "removed " + joined(result.removed);
    return text;
}

// Whether stderr is a terminal, where a line rewritten in place reads as progress.
bool stderr_is_terminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// The build's options, with progress shown on stderr when it is a terminal.
build_options with_progress(const build_options& options)
{
    build_options shown = options;
    shown.progress = [terminal = stderr_is_terminal(),
                      start = std::chrono::steady_clock::now()](std::size_t done, std::size_t total) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        const std::string text = progress_text(done, total, elapsed, terminal);
        if (!text.empty()) {
            std::fputs(text.c_str(), stderr);
            std::fflush(stderr);
        }
    };
    return shown;
}

// Loads and builds once; prints the problems, each after `prefix`, or gives the summary in
// `line`. Gives the inputs to watch.
int build_once(const build_command& command, const fs::path& file, std::vector<fs::path>& inputs,
               const std::string& prefix, std::string& line)
{
    // Built even with problems, so that every problem is told at once; nothing is written then.
    const project_run run = run_project(file, with_progress(command.options));
    const build_result& result = run.build;
    inputs = inputs_to_watch(run.project, run.loaded, std::move(inputs));
    for (const project_problem& problem : result.problems)
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), problem_line(problem).c_str());
    if (!result.problems.empty())
        return status_problems;
    line = prefix +
           summary(result, command.options.out.empty() ? project_folder(run.project) : command.options.out);
    return status_ok;
}

std::string clock_text()
{
    const std::time_t now = std::time(nullptr);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", std::localtime(&now));
    return text;
}

} // namespace

std::string progress_text(std::size_t done, std::size_t total, std::chrono::milliseconds elapsed,
                          bool terminal)
{
    if (!terminal || elapsed < std::chrono::seconds(1))
        return {};
    const std::string line =
        "building: " + std::to_string(done) + " of " + std::to_string(total) + " entries";
    // The last line is overwritten with spaces, so that what follows starts on a clean line.
    std::string text = "\r";
    if (done < total)
        return text.append(line);
    return text.append(line.size(), ' ').append("\r");
}

int run_build(const build_command& command)
{
    std::error_code code;
    const fs::path file =
        fs::is_directory(command.project, code) ? command.project / project_file_name : command.project;
    if (!command.options.out.empty())
        fs::create_directories(command.options.out, code);
    std::vector<fs::path> inputs{file};
    std::string line;
    const int status = build_once(command, file, inputs, "", line);
    if (status == status_ok)
        std::printf("%s\n", line.c_str());
    if (!command.watch)
        return status;
    // Watching, and ending on Ctrl-C, from before it says so: a change or a Ctrl-C that follows
    // the line at once is not lost.
    std::signal(SIGINT, on_interrupt);
    watch_state watch;
    watch_built(watch, inputs);
    std::printf("watching %zu files; Ctrl-C ends\n", inputs.size());
    std::fflush(stdout);
    while (interrupted == 0) {
        pause_for(static_cast<int>(watch_poll_interval.count()));
        if (watch_look(watch) != watch_step::settled)
            continue;
        std::vector<std::string> changed;
        for (const fs::path& path : changed_inputs(watch))
            changed.push_back(printable_path(path.lexically_normal()));
        const auto start = std::chrono::steady_clock::now();
        const std::string prefix = clock_text() + " " + joined(changed) + " changed: ";
        if (build_once(command, file, inputs, prefix, line) == status_ok) {
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            std::printf("%s (%lld ms)\n", line.c_str(), static_cast<long long>(took.count()));
        }
        std::fflush(stdout);
        std::fflush(stderr);
        watch_built(watch, inputs);
    }
    std::printf("stopped watching\n");
    return status_ok;
}

void add_build_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto build = std::make_shared<build_command>();
    CLI::App* command = app.add_subcommand(
        "build", "Build a skin project (skin.toml) into the numbered BMPs, skin.skn, skin.h and skin.json");
    add_path(command, "DIR", build->project, "The project's folder, or its project file (default: here)")
        ->check(existing_path());
    add_path(command, "--out", build->options.out, "Where the outputs go (default: the project's folder)");
    command->add_flag("--embed", build->options.embed, "Also write skin_data.c, the skin as a C array");
    add_path(command, "--depfile", build->options.depfile,
             "Write the outputs' dependencies there, in Makefile syntax");
    add_path(command, "--stamp", build->options.stamp,
             "Rewrite this file on every build, and name it first in the depfile");
    command->add_flag("--force", build->options.force,
                      "Replace or remove files in the way that build did not write");
    command->add_flag("--watch", build->watch, "Build again whenever the project or a source changes");
    command->callback([build, &chosen] { chosen = [build] { return run_build(*build); }; });
}
