// One search for a free name, which every place that must not overwrite a file (or reuse a
// name) goes through.
#include "support/free_name.h"

#include <utility>

std::optional<free_name> find_free_name(const name_series& series,
                                        const std::function<bool(const std::string&)>& usable)
{
    int tries = 0;
    if (!series.plain.empty()) {
        ++tries;
        if (usable(series.plain))
            return free_name{series.plain, 0};
    }
    for (int n = series.first; tries < max_name_tries; ++n, ++tries) {
        std::string name = series.before;
        name.append(std::to_string(n)).append(series.after);
        if (usable(name))
            return free_name{std::move(name), n};
    }
    return std::nullopt;
}
