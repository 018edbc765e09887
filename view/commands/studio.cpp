// skinview studio: listens on the loopback address, opens the browser on the page, and answers
// it while following the project's files, until Ctrl-C or the page's stop.
#include "view/commands/studio.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <memory>

#include "support/utf8_text.h"
#include "view/commands/command_line.h"
#include "view/common/status.h"
#include "view/project/watch.h"
#include "view/studio/studio.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// How long one wait for requests lasts, so that Ctrl-C and the stop are seen soon.
constexpr auto request_wait = std::chrono::milliseconds(100);

volatile std::sig_atomic_t interrupted = 0;

void note_interrupt(int)
{
    interrupted = 1;
}

// Opens the default browser on the private page `file`, without a shell between. The page holds
// the token, so that no command line, which any local user may read, ever does.
void open_browser(const fs::path& file)
{
#ifdef _WIN32
    ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
#else
    // The grandchild runs xdg-open, so no child of the studio is left to reap.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::fork() == 0) {
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            ::execlp("xdg-open", "xdg-open", file.c_str(), static_cast<char*>(nullptr));
        }
        ::_exit(0);
    }
    if (child > 0)
        ::waitpid(child, nullptr, 0);
#endif
}

} // namespace

int run_studio(const studio_options& options)
{
    std::error_code error;
    if (!fs::is_directory(options.folder, error)) {
        std::cerr << printable_path(options.folder) << ": not a folder\n";
        return status_usage;
    }
    http_server server;
    std::string problem;
    if (!open_server(server, options.port, problem)) {
        std::cerr << "skinview studio: " << problem << "\n";
        return status_problems;
    }
    studio_state state;
    state.door = {make_token(), server.port};
    open_studio(state, options.folder);

    // The token goes to the browser through a private file, or to this terminal alone when the
    // person opens the page themselves.
    std::cout << "skinview studio: " << printable_path(state.folder) << "\n";
    if (options.open_browser && write_opener(state.door, problem)) {
        std::cout << "opening http://127.0.0.1:" << server.port << "/ in your browser through "
                  << printable_path(state.door.opener) << "\n";
        open_browser(state.door.opener);
    } else {
        if (options.open_browser)
            std::cout << problem << "\n";
        std::cout << "open " << tokened_address(state.door) << "\n";
    }
    std::cout << "stop it with Ctrl-C or the page's Stop button" << std::endl;

    std::signal(SIGINT, note_interrupt);
    std::signal(SIGTERM, note_interrupt);
    const head_judge judge = [&state](const http_request& head) { return judge_head(head, state.door); };
    auto last_look = std::chrono::steady_clock::now();
    while (!state.stop && interrupted == 0) {
        if (std::optional<pending_request> pending = next_request(server, request_wait, judge))
            send_response(server, pending->connection, answer_request(state, pending->request));
        if (const auto now = std::chrono::steady_clock::now(); now - last_look >= watch_poll_interval) {
            if (follow_disk(state))
                std::cout << "reloaded: "
                          << (state.problems.empty() ? "ok" : problem_line(state.problems.front()))
                          << std::endl;
            last_look = now;
        }
    }
    close_server(server);
    remove_opener(state.door);
    std::cout << "skinview studio stopped" << std::endl;
    return status_ok;
}

bool started_from_explorer()
{
#ifdef _WIN32
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
#else
    return false;
#endif
}

void add_studio_command(CLI::App& app, std::function<int()>& chosen)
{
    const auto studio = std::make_shared<studio_options>();
    const auto no_browser = std::make_shared<bool>(false);
    CLI::App* command = app.add_subcommand(
        "studio", "Open the skin project in a page of the browser, live, on this computer only");
    add_path(command, "DIR", studio->folder, "The project folder (default: here)")->check(existing_folder());
    command->add_option("--port", studio->port, "The port to listen on (default: any free one)")
        ->check(CLI::Range(1, 65535));
    command->add_flag("--no-browser", *no_browser, "Print the address but open no browser");
    command->callback([studio, no_browser, &chosen] {
        studio->open_browser = !*no_browser;
        chosen = [studio] { return run_studio(*studio); };
    });
}
