// The one way a project problem is written out.
#include "view/project/problem.h"

namespace fs = std::filesystem;

std::string problem_line(const project_problem& problem, const fs::path& folder)
{
    fs::path shown = problem.file.lexically_normal();
    if (!folder.empty())
        if (const fs::path inside = shown.lexically_relative(folder.lexically_normal());
            !inside.empty() && *inside.begin() != ".." && *inside.begin() != ".")
            shown = inside;
    return shown.string() + (problem.line > 0 ? ":" + std::to_string(problem.line) : std::string()) + ": " +
           problem.text;
}
