// skinview build: loads the project, builds it, says what changed; with --watch, polls the
// project file and the sources and builds again on every change until Ctrl-C.
#include "view/commands/build.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "support/utf8_path.h"
#include "view/common/status.h"
#include "view/common/wording.h"
#include "view/project/watch.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <thread>
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
    std::string text = utf8_from_path((out / "skin.skn").lexically_normal()) + ": " +
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

// Loads and builds once; prints the problems, each after `prefix`, or gives the summary in
// `line`. Gives the inputs to watch.
int build_once(const build_command& command, const fs::path& file, std::vector<fs::path>& inputs,
               const std::string& prefix, std::string& line)
{
    // Built even with problems, so that every problem is told at once; nothing is written then.
    const project_run run = run_project(file, command.options);
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
            changed.push_back(utf8_from_path(path.lexically_normal()));
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
