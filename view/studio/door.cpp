// The studio's checks on every request and on every path it reads or writes.
#include "view/studio/door.h"

#include <algorithm>
#include <cctype>
#include <random>

#include "support/utf8_path.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#endif

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

std::string tokened_address(const studio_door& door)
{
    return "http://127.0.0.1:" + std::to_string(door.port) + "/#token=" + door.token;
}

bool carries_token(const http_request& request, const studio_door& door)
{
    return same_secret(header_value(request, "x-studio-token"), door.token);
}

head_verdict judge_head(const http_request& head, const studio_door& door)
{
    const auto refused = [](int status, std::string why) {
        return head_verdict{text_response(status, why + "\n")};
    };
    const bool changing = head.method == "POST";
    if (!changing && head.method != "GET" && head.method != "HEAD")
        return refused(405, "only GET, HEAD and POST");
    if (!names_this_server(header_value(head, "host"), door.port))
        return refused(403, "this server answers only to 127.0.0.1:" + std::to_string(door.port));
    const bool page_file = head.path == "/" || head.path == "/studio.js" || head.path == "/studio.css";
    if (!changing && page_file)
        return {};
    if (!carries_token(head, door))
        return refused(403, "open the page that skinview studio opened or printed, with its token");
    if (changing && !from_this_origin(head, door.port))
        return refused(403, "changes are taken only from the studio's own page");
    const bool upload =
        changing && (head.path == "/api/add" || head.path == "/api/source" || head.path == "/api/touch");
    return {std::nullopt, upload ? max_upload_bytes : 0};
}

bool write_opener(studio_door& door, std::string& error)
{
    const std::string address = tokened_address(door);
    const std::string page = "<!doctype html>\n<meta charset=\"utf-8\">\n<meta http-equiv=\"refresh\" "
                             "content=\"0; url=" +
                             address + "\">\n<title>skinview studio</title>\n<p><a href=\"" + address +
                             "\">Open skinview studio</a></p>\n";
    std::error_code failure;
    const fs::path temporary = fs::temp_directory_path(failure);
    error = "cannot write the page that opens the browser in the temporary folder";
    if (failure)
        return false;
#ifdef _WIN32
    // The user's own temporary folder, which other users cannot read, and in it a new folder.
    const fs::path folder = temporary / ("skinview-studio-" + make_token().substr(0, 12));
    if (!fs::create_directory(folder, failure))
        return false;
    const fs::path file = folder / "open.html";
    const HANDLE handle =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool whole = handle != INVALID_HANDLE_VALUE &&
                       WriteFile(handle, page.data(), static_cast<DWORD>(page.size()), &written, nullptr) &&
                       written == page.size();
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
#else
    // A folder only this user may enter (mkdtemp makes it 0700), and in it a file only they read.
    std::string pattern = (temporary / "skinview-studio-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return false;
    const fs::path folder = pattern;
    const fs::path file = folder / "open.html";
    const int handle = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool whole =
        handle >= 0 && ::write(handle, page.data(), page.size()) == static_cast<ssize_t>(page.size());
    if (handle >= 0)
        ::close(handle);
#endif
    door.opener = file;
    if (!whole) {
        remove_opener(door);
        return false;
    }
    error.clear();
    return true;
}

void remove_opener(studio_door& door)
{
    if (door.opener.empty())
        return;
    std::error_code ignored;
    fs::remove(door.opener, ignored);
    fs::remove(door.opener.parent_path(), ignored);
    door.opener.clear();
}

std::optional<fs::path> path_inside(const fs::path& root, std::string_view relative)
{
    const fs::path wanted = path_from_utf8(relative);
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
