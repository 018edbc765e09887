// The pieces of the subcommands' command lines that read paths.
#include "view/commands/command_line.h"

#include "support/utf8_path.h"
#include "support/utf8_text.h"

namespace fs = std::filesystem;

namespace {

// The type of what the UTF-8 text names, or not_found.
fs::file_type named_type(const std::string& text)
{
    std::error_code error;
    return fs::status(path_from_utf8(text), error).type();
}

} // namespace

CLI::Option* add_path(CLI::App* command, const std::string& name, fs::path& path,
                      const std::string& description)
{
    return command->add_option_function<std::string>(
        name, [&path](const std::string& text) { path = path_from_utf8(text); }, description);
}

CLI::Option* add_path(CLI::App* command, const std::string& name, std::vector<fs::path>& paths,
                      const std::string& description)
{
    return command->add_option_function<std::vector<std::string>>(
        name,
        [&paths](const std::vector<std::string>& texts) {
            for (const std::string& text : texts)
                paths.push_back(path_from_utf8(text));
        },
        description);
}

const CLI::Validator& existing_folder()
{
    static const CLI::Validator validator(
        [](std::string& text) {
            const fs::file_type type = named_type(text);
            if (type == fs::file_type::not_found || type == fs::file_type::none)
                return "Directory does not exist: " + printable(text);
            return type == fs::file_type::directory ? std::string()
                                                    : "Directory is actually a file: " + printable(text);
        },
        "DIR");
    return validator;
}

const CLI::Validator& existing_path()
{
    static const CLI::Validator validator(
        [](std::string& text) {
            const fs::file_type type = named_type(text);
            return type == fs::file_type::not_found || type == fs::file_type::none
                       ? "Path does not exist: " + printable(text)
                       : std::string();
        },
        "PATH(existing)");
    return validator;
}
