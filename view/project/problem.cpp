// The one way a project problem is written out.
#include "view/project/problem.h"

#include "support/utf8_text.h"

namespace fs = std::filesystem;

std::string problem_line(const project_problem& problem, const fs::path& folder)
{
    fs::path shown = problem.file.lexically_normal();
    if (!folder.empty())
        if (const fs::path inside = shown.lexically_relative(folder.lexically_normal());
            !inside.empty() && *inside.begin() != ".." && *inside.begin() != ".")
            shown = inside;
    // The path and the words quote files and requests: made printable here, once for every problem.
    // Appended piece by piece: `":" + text` trips a false -Wrestrict in 32-bit g++ 12 at -O3.
    std::string line = printable_path(shown);
    if (problem.line > 0) {
        line += ':';
        line += std::to_string(problem.line);
    }
    line += ": ";
    line += printable(problem.text);
    return line;
}
