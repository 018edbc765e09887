// skinview studio run end to end: every door it must keep shut, as plain HTTP requests, and the
// edits that must leave a folder that skinpack packs to the skin shown. Run against the Windows
// build under Wine too.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "skin/bmp_writer.h"
#include "tests/test_folder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Wine may take a while to start a program the first time.
constexpr auto start_limit = 60s;
constexpr auto stop_limit = 20s;

struct http_reply {
    int status = 0;
    std::string head;
    std::string body;
};

// Sends `request` as it is to 127.0.0.1:`port` and reads the reply until the server closes.
http_reply http_exchange(int port, const std::string& request)
{
    const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval limit{20, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    http_reply reply;
    if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(connection);
        return reply;
    }
    ::send(connection, request.data(), request.size(), MSG_NOSIGNAL);
    std::string received;
    char buffer[65536];
    for (ssize_t got; (got = ::recv(connection, buffer, sizeof buffer, 0)) > 0;)
        received.append(buffer, static_cast<std::size_t>(got));
    ::close(connection);
    const std::size_t end = received.find("\r\n\r\n");
    if (received.starts_with("HTTP/1.1 ") && end != std::string::npos) {
        reply.status = std::stoi(received.substr(9, 3));
        reply.head = received.substr(0, end);
        reply.body = received.substr(end + 4);
    }
    return reply;
}

std::vector<std::uint8_t> solid_bmp(int side, std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    std::vector<std::uint8_t> rgba;
    for (int p = 0; p < side * side; ++p)
        rgba.insert(rgba.end(), {static_cast<std::uint8_t>(red + p % 7 * 9), green, blue, 255});
    return encode_bmp(rgba, side, side, {"24-bit", 24});
}

std::string text_of(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// The run of digits just after `label` in `text`, or "" when there is none.
std::string digits_after(const std::string& text, const std::string& label)
{
    const std::size_t at = text.find(label);
    if (at == std::string::npos)
        return "";
    const std::size_t from = at + label.size();
    return text.substr(from, text.find_first_not_of("0123456789", from) - from);
}

// Every file below `folder` with its bytes, to see that a refused request changed nothing.
std::map<std::string, std::vector<std::uint8_t>> snapshot(const fs::path& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).generic_string()] = read_file(entry.path());
    return files;
}

// A studio on `folder` (a project, or a plain skin folder), started in the background.
class studio_test : public folder_test {
  protected:
    void start(bool unprivileged = false)
    {
        program =
            start_skinview(folder, {.arguments = {"studio", "--no-browser"}, .unprivileged = unprivileged});
        const std::string line = wait_for_line(program, "http://127.0.0.1:", start_limit);
        const std::string port_text = digits_after(line, "127.0.0.1:");
        const std::size_t token_at = line.find("/?token=");
        ASSERT_TRUE(!port_text.empty() && token_at != std::string::npos) << "no address printed: " << line;
        token = line.substr(token_at + 8, 32);
        ASSERT_EQ(token.size(), 32u) << "no whole token printed: " << line;
        ASSERT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
        port = std::stoi(port_text);
    }

    void TearDown() override
    {
        if (program.pid > 0) {
            if (port != 0)
                post("/api/stop", "");
            const run_result result = finish_background(program, stop_limit);
            EXPECT_EQ(result.status, 0) << "the studio did not end by its stop request\n" << result.err;
        }
        folder_test::TearDown();
    }

    // A request from the studio's own page: the right Host, the token's cookie, its Origin.
    std::string from_page(const std::string& method, const std::string& target, const std::string& body,
                          const std::string& extra = "")
    {
        return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
               "\r\nCookie: skinview_studio_" + std::to_string(port) + "=" + token +
               "\r\nOrigin: http://127.0.0.1:" + std::to_string(port) + "\r\n" + extra +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    std::string version()
    {
        const http_reply reply = http_exchange(port, from_page("GET", "/api/version", ""));
        return digits_after(reply.body, "\"version\":");
    }

    http_reply post(const std::string& target, const std::string& body)
    {
        const std::string separator = target.find('?') == std::string::npos ? "?" : "&";
        return http_exchange(port, from_page("POST", target + separator + "version=" + version(), body));
    }

    void expect_packs_to_the_built_skin()
    {
        const std::vector<std::uint8_t> built = read_file(folder / "skin.skn");
        ASSERT_EQ(run_skinpack(folder).status, 0);
        EXPECT_EQ(read_file(folder / "skin.skn"), built) << "skinpack packs the folder to another skin";
    }

    background_program program;
    int port = 0;
    std::string token;
};

// A picture and an icon; with `outside`, also icons whose sources lie outside the folder, by a
// path and by a link.
void write_project(const fs::path& folder, bool outside)
{
    fs::create_directories(folder / "art");
    write_file(folder / "art" / "sun.bmp", solid_bmp(128, 200, 120, 40));
    write_file(folder / "art" / "dot.bmp", solid_bmp(16, 20, 200, 90));
    std::string project = "[[picture]]\nname = \"sun\"\nsource = \"art/sun.bmp\"\n\n"
                          "[[icon]]\nname = \"dot\"\nsource = \"art/dot.bmp\"\n";
    if (outside) {
        write_file(folder.parent_path() / "outside.bmp", solid_bmp(16, 1, 2, 3));
        fs::create_symlink("../../outside.bmp", folder / "art" / "link.bmp");
        project += "\n[[icon]]\nname = \"away\"\nsource = \"../outside.bmp\"\n"
                   "\n[[icon]]\nname = \"linked\"\nsource = \"art/link.bmp\"\n";
    }
    write_file(folder / "skin.toml", {project.begin(), project.end()});
}

struct refusal_case {
    const char* what;
    std::string request; // {port}, {token} and {version} are filled in
    int status;
};

// A PNG that declares 100000 x 100000 pixels: refused before any pixel memory is taken.
const std::string bomb_png =
    std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x01\x86\xa0\0\x01\x86\xa0\x08\x06\0\0\0", 29) +
    std::string(4, '\0'); // the header chunk's whole 13 bytes, then a CRC that is not checked first

std::string upload(const std::string& name, const std::string& body)
{
    return "POST /api/add?kind=icon&name=" + name +
           "&version={version} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Studio-Token: {token}\r\n"
           "Origin: http://localhost:{port}\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string fill(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& [name, value] : values)
        for (std::size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, name.size(), value);
    return text;
}

} // namespace

TEST_F(studio_test, refuses_every_request_that_is_not_its_own_page_and_changes_nothing)
{
    write_project(folder, true);
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string cut_short = text_of(solid_bmp(16, 1, 2, 3)).substr(0, 300);
    const std::string get = " HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n";
    const std::string with_token = "?token={token} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n";
    const std::string change =
        " HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nCookie: skinview_studio_{port}={token}\r\n";
    const refusal_case cases[] = {
        {"no token", "GET /api/state" + get, 403},
        {"a wrong token", "GET /api/state?token=00000000000000000000000000000000" + get, 403},
        {"the token of a cookie for another port",
         "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nCookie: skinview_studio_1={token}\r\n\r\n",
         403},
        {"another host name (DNS rebinding)",
         "GET /api/state?token={token} HTTP/1.1\r\nHost: skins.example:{port}\r\n\r\n", 403},
        {"another port", "GET /api/state?token={token} HTTP/1.1\r\nHost: 127.0.0.1:1\r\n\r\n", 403},
        {"no Host", "GET /api/state?token={token} HTTP/1.0\r\n\r\n", 403},
        {"a change without an Origin",
         "POST /api/remove?entry=0&version={version}" + change + "Content-Length: 0\r\n\r\n", 403},
        {"a change from another site",
         "POST /api/remove?entry=0&version={version}" + change +
             "Origin: http://skins.example\r\nContent-Length: 0\r\n\r\n",
         403},
        {"an origin that only begins like this one",
         "POST /api/remove?entry=0&version={version}" + change +
             "Origin: http://127.0.0.1:{port}.skins.example\r\nContent-Length: 0\r\n\r\n",
         403},
        {"a Referer from another site",
         "POST /api/remove?entry=0&version={version}" + change +
             "Referer: http://skins.example/studio\r\nContent-Length: 0\r\n\r\n",
         403},
        {"a path out of the page", "GET /../skin.toml" + with_token + "\r\n", 404},
        {"an escaped path out", "GET /download/..%2F..%2Foutside.bmp" + with_token + "\r\n", 404},
        {"a source outside the folder", "GET /api/source.png?entry=2&" + with_token.substr(1) + "\r\n", 403},
        {"a source linked out of the folder", "GET /api/source.png?entry=3&" + with_token.substr(1) + "\r\n",
         403},
        {"an edit made against an older version",
         "POST /api/remove?entry=0&version=1" + change +
             "Origin: http://127.0.0.1:{port}\r\nContent-Length: 0\r\n\r\n",
         409},
        {"an entry that does not exist",
         "POST /api/remove?entry=7&version={version}" + change +
             "Origin: http://127.0.0.1:{port}\r\nContent-Length: 0\r\n\r\n",
         422},
        {"a name another entry has",
         "POST /api/rename?entry=0&name=DOT&version={version}" + change +
             "Origin: http://127.0.0.1:{port}\r\nContent-Length: 0\r\n\r\n",
         422},
        {"a method it does not take", "PUT /api/state" + change + "Origin: http://127.0.0.1:{port}\r\n\r\n",
         405},
        {"a body of unknown length",
         "POST /api/add?kind=icon&name=a.png&version={version}" + change +
             "Origin: http://127.0.0.1:{port}\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         411},
        {"an upload over 16 MiB",
         "POST /api/add?kind=icon&name=a.png&version={version}" + change +
             "Origin: http://127.0.0.1:{port}\r\nContent-Length: 16777217\r\n\r\n",
         413},
        {"an upload that is no image", upload("notes.png", "these are no pixels"), 422},
        {"an upload that is a decompression bomb", upload("bomb.png", bomb_png), 422},
        {"an upload cut short", upload("short.bmp", cut_short), 422},
    };
    const auto before = snapshot(folder);
    ASSERT_TRUE(before.contains("skin.skn")) << "the studio did not build the project";
    for (const refusal_case& c : cases) {
        // Wine shows a POSIX link to a Windows program as the file it points at, so the program
        // cannot tell; on Windows itself, links and junctions are resolved by canonical().
        if (testing_windows_build() && std::string_view(c.what).find("linked") != std::string_view::npos)
            continue;
        const std::string request =
            fill(c.request, {{"{port}", std::to_string(port)}, {"{token}", token}, {"{version}", version()}});
        const http_reply reply = http_exchange(port, request);
        EXPECT_EQ(reply.status, c.status) << c.what << "\n" << reply.body;
        EXPECT_EQ(snapshot(folder), before) << c.what << " changed the folder";
    }
    EXPECT_NE(
        http_exchange(port,
                      fill(upload("notes.png", "these are no pixels"),
                           {{"{port}", std::to_string(port)}, {"{token}", token}, {"{version}", version()}}))
            .body.find("notes.png: not an image"),
        std::string::npos)
        << "the page is told why";
}

TEST_F(studio_test, each_edit_leaves_a_folder_that_skinpack_packs_to_the_skin_shown)
{
    write_project(folder, false);
    ASSERT_NO_FATAL_FAILURE(start());

    // The first load: the page, with the token turned into a cookie of this port alone.
    const http_reply page = http_exchange(
        port, "GET /?token=" + token + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n\r\n");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.head.find("Set-Cookie: skinview_studio_" + std::to_string(port) + "=" + token +
                             "; Path=/; HttpOnly; SameSite=Strict"),
              std::string::npos)
        << page.head;
    EXPECT_NE(page.body.find("<title>skinview studio</title>"), std::string::npos);
    const http_reply state = http_exchange(port, from_page("GET", "/api/state", ""));
    EXPECT_NE(state.body.find("\"skin\":{\"size\":16640,"), std::string::npos) << state.body;
    expect_packs_to_the_built_skin();
    // An image of this version may be kept by the browser; one of another version may not.
    for (const auto& [v, cache] : {std::pair{version(), "private, max-age=31536000, immutable"},
                                   std::pair{std::string("0"), "no-store"}}) {
        const http_reply image = http_exchange(port, from_page("GET", "/api/slot.png?slot=0&v=" + v, ""));
        EXPECT_EQ(image.status, 200);
        EXPECT_NE(image.head.find(std::string("Cache-Control: ") + cache + "\r\n"), std::string::npos)
            << image.head;
    }

    struct edit_case {
        const char* what;
        std::string target;
        std::string body;
        std::string in_project; // a line skin.toml must then hold
    };
    const std::string new_dot = text_of(solid_bmp(16, 250, 10, 10));
    const edit_case edits[] = {
        {"a dither", "/api/options?entry=0&dither=ordered", "", "dither = \"ordered\""},
        {"a background", "/api/options?entry=1&background=%23336699", "", "background = \"#336699\""},
        {"new artwork, its name made safe", "/api/source?entry=1&name=..%2F..%2Fnew%20dot.bmp", new_dot,
         "source = \"art/new_dot.bmp\""},
        {"a rename", "/api/rename?entry=1&name=low-battery", "", "name = \"low-battery\""},
        {"an added icon", "/api/add?kind=icon&name=spare.bmp", new_dot, "source = \"art/spare-2.bmp\""},
        {"a move", "/api/move?entry=2&to=1", "", "name = \"spare\""},
    };
    write_file(folder / "art" / "spare.bmp", solid_bmp(16, 0, 0, 0)); // not the slot's own: kept
    for (const edit_case& edit : edits) {
        const http_reply reply = post(edit.target, edit.body);
        EXPECT_EQ(reply.status, 200) << edit.what << "\n" << reply.body;
        EXPECT_NE(text_of(read_file(folder / "skin.toml")).find(edit.in_project + "\n"), std::string::npos)
            << edit.what << "\n"
            << text_of(read_file(folder / "skin.toml"));
        expect_packs_to_the_built_skin();
    }
    EXPECT_FALSE(fs::exists(root / "new dot.bmp") || fs::exists(root / "new_dot.bmp"));
    EXPECT_EQ(read_file(folder / "art" / "spare.bmp"), solid_bmp(16, 0, 0, 0));
    const std::string toml = text_of(read_file(folder / "skin.toml"));
    std::vector<std::string> names; // each entry once, the moved one in its new place
    for (std::size_t at = toml.find("\nname = \""); at != std::string::npos;
         at = toml.find("\nname = \"", at + 1))
        names.push_back(toml.substr(at + 9, toml.find('"', at + 9) - at - 9));
    EXPECT_EQ(names, (std::vector<std::string>{"sun", "spare", "low-battery"})) << toml;
    EXPECT_EQ(read_file(folder / "skin.skn").size(), 16384u + 2 * 256u);
    EXPECT_EQ(http_exchange(port, from_page("GET", "/download/skin.skn", "")).body,
              text_of(read_file(folder / "skin.skn")));
    EXPECT_EQ(http_exchange(port, from_page("GET", "/download/skin.h", "")).body,
              text_of(read_file(folder / "skin.h")));
}

TEST_F(studio_test, makes_a_project_of_a_plain_skin_folder_that_packs_as_before)
{
    write_file(folder / "bmp0.bmp", bmp_bytes(sample_image(128, 3)));
    write_file(folder / "icon00.bmp", bmp_bytes(sample_image(16, 4)));
    ASSERT_EQ(run_skinpack(folder).status, 0);
    const std::vector<std::uint8_t> packed = read_file(folder / "skin.skn");
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_NE(http_exchange(port, from_page("GET", "/api/state", ""))
                  .body.find("\"has_project\":false,\"can_init\":true"),
              std::string::npos);
    const http_reply reply = post("/api/init", "");
    EXPECT_EQ(reply.status, 200) << reply.body;
    EXPECT_TRUE(fs::exists(folder / "skin.toml"));
    EXPECT_EQ(read_file(folder / "skin.skn"), packed);
    expect_packs_to_the_built_skin();

    // New artwork for an adopted BMP: the old one is kept in art/, and build needs no --force.
    const http_reply replaced =
        post("/api/source?entry=0&name=splash.bmp", text_of(solid_bmp(128, 9, 99, 199)));
    EXPECT_EQ(replaced.status, 200) << replaced.body;
    EXPECT_EQ(read_file(folder / "art" / "bmp0.bmp"), bmp_bytes(sample_image(128, 3)));
    EXPECT_NE(read_file(folder / "skin.skn"), packed);
    expect_packs_to_the_built_skin();

    // A dither for an adopted BMP imports it: it too moves into art/ first, beside a file there.
    write_file(folder / "art" / "icon00.bmp", solid_bmp(16, 1, 2, 3));
    const http_reply dithered = post("/api/options?entry=1&dither=ordered", "");
    EXPECT_EQ(dithered.status, 200) << dithered.body;
    EXPECT_EQ(read_file(folder / "art" / "icon00.bmp"), solid_bmp(16, 1, 2, 3));
    EXPECT_EQ(read_file(folder / "art" / "icon00-2.bmp"), bmp_bytes(sample_image(16, 4)));
    EXPECT_NE(text_of(read_file(folder / "skin.toml")).find("source = \"art/icon00-2.bmp\"\n"),
              std::string::npos);
    expect_packs_to_the_built_skin();
}

TEST_F(studio_test, an_empty_folder_becomes_a_project_that_takes_its_first_artwork)
{
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(post("/api/init", "").status, 200);
    const http_reply added = post("/api/add?kind=icon&name=dot.bmp", text_of(solid_bmp(16, 200, 0, 0)));
    EXPECT_EQ(added.status, 200) << added.body;
    expect_packs_to_the_built_skin();

    // skin.toml deleted by hand: the page no longer shows its entries.
    fs::remove(folder / "skin.toml");
    const auto gone = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string state;
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        state = http_exchange(port, from_page("GET", "/api/state", "")).body;
    } while (state.find("\"has_project\":false") == std::string::npos &&
             std::chrono::steady_clock::now() < gone);
    EXPECT_NE(state.find("\"has_project\":false"), std::string::npos) << state;
    EXPECT_NE(state.find("\"entries\":[]"), std::string::npos) << state;
}

// A skin.toml the studio could not read is never saved over, nor is anything uploaded for it.
TEST_F(studio_test, a_project_file_not_read_whole_is_not_edited)
{
    if (testing_windows_build())
        GTEST_SKIP() << "permissions as Linux has them";
    write_project(folder, false);
    fs::permissions(folder / "skin.toml", fs::perms::none);
    const std::vector<std::uint8_t> before = read_file(folder / "skin.toml");
    ASSERT_NO_FATAL_FAILURE(start(true));
    const http_reply reply = post("/api/add?kind=icon&name=new.bmp", text_of(solid_bmp(16, 5, 6, 7)));
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.body, "skin.toml has problems that the studio cannot mend: edit it by hand\n");
    EXPECT_EQ(read_file(folder / "skin.toml"), before);
    EXPECT_FALSE(fs::exists(folder / "art" / "new.bmp"));
}
