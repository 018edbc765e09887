// The studio's checks on every request and on every path it reads or writes.
#include "view/studio/door.h"

#include <algorithm>
#include <cctype>
#include <random>

namespace fs = std::filesystem;

namespace {

// Compares without stopping at the first difference, so the time taken tells nothing.
bool same_secret(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
    return difference == 0;
}

bool equal_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The value of cookie `name` in a Cookie header, or "".
std::string cookie_value(std::string_view header, std::string_view name)
{
    while (!header.empty()) {
        const std::size_t end = std::min(header.find(';'), header.size());
        std::string_view pair = header.substr(0, end);
        header.remove_prefix(std::min(end + 1, header.size()));
        while (pair.starts_with(' '))
            pair.remove_prefix(1);
        if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
            return std::string(pair.substr(name.size() + 1));
    }
    return {};
}

// Whether `authority` ("host:port") names this server by its loopback address or localhost.
bool names_this_server(std::string_view authority, int port)
{
    const std::string digits = std::to_string(port);
    if (!authority.ends_with(digits) || authority.size() <= digits.size() ||
        authority[authority.size() - digits.size() - 1] != ':')
        return false;
    authority.remove_suffix(digits.size() + 1);
    return authority == "127.0.0.1" || equal_ignoring_case(authority, "localhost");
}

bool from_this_origin(const http_request& request, int port)
{
    constexpr std::string_view scheme = "http://";
    const std::string origin = header_value(request, "origin");
    if (!origin.empty())
        return origin.starts_with(scheme) &&
               names_this_server(std::string_view(origin).substr(scheme.size()), port);
    // Some requests carry only a Referer: its origin is what comes before the path.
    const std::string referer = header_value(request, "referer");
    std::string_view rest = referer;
    if (!rest.starts_with(scheme))
        return false;
    rest.remove_prefix(scheme.size());
    const std::size_t slash = rest.find('/');
    return slash != std::string_view::npos && names_this_server(rest.substr(0, slash), port);
}

// Whether `inner` is `outer` or lies below it; both canonical.
bool lies_within(const fs::path& inner, const fs::path& outer)
{
    auto inner_part = inner.begin();
    for (const fs::path& part : outer) {
        if (inner_part == inner.end() || *inner_part != part)
            return false;
        ++inner_part;
    }
    return true;
}

} // namespace

std::string make_token()
{
    std::random_device source;
    constexpr char digits[] = "0123456789abcdef";
    std::string token;
    for (int word = 0; word < 4; ++word) {
        const std::uint32_t bits = source();
        for (int shift = 28; shift >= 0; shift -= 4)
            token.push_back(digits[(bits >> shift) & 0xF]);
    }
    return token;
}

std::string token_cookie(const studio_door& door)
{
    return "skinview_studio_" + std::to_string(door.port);
}

std::string door_refusal(const http_request& request, const studio_door& door)
{
    if (!names_this_server(header_value(request, "host"), door.port))
        return "this server answers only to 127.0.0.1:" + std::to_string(door.port);
    const bool has_token =
        same_secret(query_value(request, "token"), door.token) ||
        same_secret(header_value(request, "x-studio-token"), door.token) ||
        same_secret(cookie_value(header_value(request, "cookie"), token_cookie(door)), door.token);
    if (!has_token)
        return "open the address that skinview studio printed, with its token";
    if (request.method != "GET" && request.method != "HEAD" && !from_this_origin(request, door.port))
        return "changes are taken only from the studio's own page";
    return {};
}

std::optional<fs::path> path_inside(const fs::path& root, std::string_view relative)
{
    const fs::path wanted{std::string(relative)};
    if (relative.empty() || wanted.has_root_name() || wanted.has_root_directory())
        return std::nullopt;
    for (const fs::path& part : wanted)
        if (part == "..")
            return std::nullopt;
    std::error_code error;
    const fs::path base = fs::canonical(root, error);
    if (error)
        return std::nullopt;
    // Links are followed as far as the path exists, so one leading out is caught here.
    const fs::path resolved = fs::weakly_canonical(base / wanted, error);
    if (error || !lies_within(resolved, base))
        return std::nullopt;
    return resolved;
}

std::string safe_file_name(std::string_view sent)
{
    const std::size_t slash = sent.find_last_of("/\\");
    if (slash != std::string_view::npos)
        sent.remove_prefix(slash + 1);
    std::string name;
    for (const char c : sent) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
        if (name.size() < 64 && (plain || !name.empty()))
            name.push_back(plain ? c : '_');
    }
    while (name.starts_with('.'))
        name.erase(0, 1);
    if (name.empty())
        return "upload";
    // Windows takes these names, with any extension, for devices rather than files.
    const std::string stem = name.substr(0, name.find('.'));
    const bool numbered = stem.size() == 4 && std::isdigit(static_cast<unsigned char>(stem[3]));
    for (const char* device : {"con", "prn", "aux", "nul"})
        if (equal_ignoring_case(stem, device))
            return "_" + name;
    for (const char* device : {"com", "lpt"})
        if (numbered && equal_ignoring_case(stem.substr(0, 3), device))
            return "_" + name;
    return name;
}
