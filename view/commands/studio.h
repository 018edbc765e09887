// skinview studio: the skin project in a local browser page, live, until stopped.
#pragma once

#include <filesystem>
#include <functional>

namespace CLI {
class App;
}

struct studio_options {
    std::filesystem::path folder = ".";
    int port = 0;             // 0: any free port
    bool open_browser = true; // open the default browser on the address
};

// Serves the project on 127.0.0.1 until Ctrl-C or the page's stop. status_problems when it
// cannot listen.
int run_studio(const studio_options& options);

// Whether this Windows program was started from Explorer, with a console of its own that no
// other process shares; always false elsewhere.
bool started_from_explorer();

// Adds the subcommand studio to `app`; once it is parsed, `chosen` carries it out.
void add_studio_command(CLI::App& app, std::function<int()>& chosen);
