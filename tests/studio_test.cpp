// skinview studio run end to end: every door it must keep shut, as plain HTTP requests, and the
// edits that must leave a folder that skinpack packs to the skin shown. Run against the Windows
// build under Wine too.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "skin/bmp_writer.h"
#include "support/utf8_path.h"
#include "tests/test_folder.h"
#include "view/common/checksum.h"
#include "view/decode/decode_image.h"
#include "view/studio/door.h"
#include "view/studio/http.h"
#include "view/studio/studio.h"
#include "view/studio/upload_names.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

// Wine may take a while to start a program the first time.
constexpr auto start_limit = 60s;
constexpr auto stop_limit = 20s;

struct http_reply {
    bool sent_whole = false; // the server took the whole request, rather than resetting it
    int status = 0;
    std::string head;
    std::string body;
};

// A socket connected to 127.0.0.1:`port`, with `limit` on each receive and send; -1 if none.
int connect_to(int port, timeval limit)
{
    const int connection = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return connection;
    ::close(connection);
    return -1;
}

// Sends `request` as it is to 127.0.0.1:`port` and reads the reply until the server closes. With a
// `pause`, its body comes after the head in eight parts, each after that pause.
http_reply http_exchange(int port, const std::string& request, std::chrono::milliseconds pause = {})
{
    http_reply reply;
    const int connection = connect_to(port, {20, 0});
    if (connection < 0)
        return reply;
    const std::size_t head = pause.count() == 0 ? request.size() : request.find("\r\n\r\n") + 4;
    reply.sent_whole = true;
    for (std::size_t from = 0, part = head; from < request.size();
         from += part, part = (request.size() - head) / 8 + 1) {
        if (from != 0)
            std::this_thread::sleep_for(pause);
        const std::string_view sent = std::string_view(request).substr(from, part);
        reply.sent_whole &=
            ::send(connection, sent.data(), sent.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(sent.size());
    }
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

// A 16 x 16 BMP of one colour.
std::vector<std::uint8_t> flat_icon(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    std::vector<std::uint8_t> rgba;
    for (int p = 0; p < 16 * 16; ++p)
        rgba.insert(rgba.end(), {red, green, blue, 255});
    return encode_bmp(rgba, 16, 16, {"24-bit", 24});
}

std::string text_of(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// The body of a touch-up of a 16x16 entry: pixel `at` painted `code`, none when `at` is -1.
std::string layer_body(int at, int code)
{
    std::string values;
    for (int i = 0; i < 256; ++i)
        values += (i == 0 ? "" : ",") + std::to_string(i == at ? code : -1);
    return "{\"layer\": [[" + values + "]]}";
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
        const std::size_t token_at = line.find("/#token=");
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

    // A request from the studio's own page: the right Host, the token's header, its Origin.
    std::string from_page(const std::string& method, const std::string& target, const std::string& body,
                          const std::string& extra = "")
    {
        return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
               "\r\nX-Studio-Token: " + token + "\r\nOrigin: http://127.0.0.1:" + std::to_string(port) +
               "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    std::string version()
    {
        const http_reply reply = http_exchange(port, from_page("GET", "/api/version", ""));
        return digits_after(reply.body, "\"version\":");
    }

    http_reply post(const std::string& target, const std::string& body, std::chrono::milliseconds pause = {})
    {
        const std::string separator = target.find('?') == std::string::npos ? "?" : "&";
        return http_exchange(port, from_page("POST", target + separator + "version=" + version(), body),
                             pause);
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
        // A sibling whose name begins with the folder's: outside, though its path begins alike.
        const fs::path sibling = folder.parent_path() / (folder.filename().string() + "-evil");
        fs::create_directories(sibling);
        write_file(sibling / "evil.bmp", solid_bmp(16, 4, 5, 6));
        fs::create_symlink(sibling / "evil.bmp", folder / "art" / "evil.bmp");
        project += "\n[[icon]]\nname = \"away\"\nsource = \"../outside.bmp\"\n"
                   "\n[[icon]]\nname = \"linked\"\nsource = \"art/link.bmp\"\n"
                   "\n[[icon]]\nname = \"evil\"\nsource = \"art/evil.bmp\"\n";
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
    // skin.h made a link out of the folder once built: its download must not follow it.
    write_file(root / "secret.h", {'s', 'e', 'c', 'r', 'e', 't'});
    fs::remove(folder / "skin.h");
    fs::create_symlink(root / "secret.h", folder / "skin.h");
    const std::string cut_short = text_of(solid_bmp(16, 1, 2, 3)).substr(0, 300);
    const std::string get = " HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n";
    const std::string with_token = " HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Studio-Token: {token}\r\n";
    const std::string change = with_token;
    const std::string from_here = change + "Origin: http://127.0.0.1:{port}\r\n";
    const refusal_case cases[] = {
        {"no token", "GET /api/state" + get, 403},
        {"a wrong token",
         "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nX-Studio-Token: "
         "00000000000000000000000000000000\r\n\r\n",
         403},
        {"the token in the address", "GET /api/state?token={token}" + get, 403},
        {"the token in a cookie",
         "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nCookie: "
         "skinview_studio_{port}={token}\r\n\r\n",
         403},
        {"another host name (DNS rebinding)",
         "GET /api/state HTTP/1.1\r\nHost: skins.example:{port}\r\nX-Studio-Token: {token}\r\n\r\n", 403},
        {"another port", "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:1\r\nX-Studio-Token: {token}\r\n\r\n",
         403},
        {"no Host", "GET /api/state HTTP/1.0\r\nX-Studio-Token: {token}\r\n\r\n", 403},
        {"two Hosts, this one first",
         "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nHost: skins.example\r\n"
         "X-Studio-Token: {token}\r\n\r\n",
         400},
        {"two different lengths",
         "POST /api/remove?entry=0&version={version}" + from_here +
             "Content-Length: 0\r\nContent-Length: 5\r\n\r\nhello",
         400},
        {"lines ended by LF alone, answered at once",
         "GET /api/state HTTP/1.1\nHost: 127.0.0.1:{port}\nX-Studio-Token: {token}\n\n", 400},
        {"a body where the route takes none",
         "POST /api/remove?entry=0&version={version}" + from_here + "Content-Length: 5\r\n\r\nhello", 413},
        {"an upload over 16 MiB, its body on the way",
         "POST /api/add?kind=icon&name=a.png&version={version}" + from_here +
             "Content-Length: 16777217\r\n\r\n" + std::string(std::size_t{4} << 20, 'x'),
         413},
        {"skin.h linked out of the folder", "GET /download/skin.h" + with_token + "\r\n", 404},
        {"a source linked into a sibling that begins like the folder",
         "GET /api/source.png?entry=4" + with_token + "\r\n", 403},
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
        {"a source outside the folder", "GET /api/source.png?entry=2" + with_token + "\r\n", 403},
        {"a source linked out of the folder", "GET /api/source.png?entry=3" + with_token + "\r\n", 403},
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
        EXPECT_TRUE(reply.sent_whole) << c.what << ": reset while sending";
        EXPECT_EQ(snapshot(folder), before) << c.what << " changed the folder";
    }
    EXPECT_EQ(
        http_exchange(port,
                      fill(upload("notes.png", "these are no pixels"),
                           {{"{port}", std::to_string(port)}, {"{token}", token}, {"{version}", version()}}))
            .body,
        "notes.png: not an image skinview can read: save it as PNG, BMP, JPEG, GIF or TGA; nothing was "
        "changed\n")
        << "the page is told why, once";
}

TEST_F(studio_test, each_edit_leaves_a_folder_that_skinpack_packs_to_the_skin_shown)
{
    write_project(folder, false);
    ASSERT_NO_FATAL_FAILURE(start());

    // The page's own files come without the token, which no response ever sets as a cookie.
    const http_reply page =
        http_exchange(port, "GET / HTTP/1.1\r\nHost: localhost:" + std::to_string(port) + "\r\n\r\n");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<title>skinview studio</title>"), std::string::npos);
    for (const char* target :
         {"/", "/studio.js", "/api/state", "/api/slot.png?slot=0", "/download/skin.skn"}) {
        const http_reply reply = http_exchange(port, from_page("GET", target, ""));
        EXPECT_EQ(reply.status, 200) << target;
        EXPECT_EQ(reply.head.find("Set-Cookie"), std::string::npos) << target << "\n" << reply.head;
    }
    // A HEAD is answered as the GET, without the body.
    const http_reply head = http_exchange(port, from_page("HEAD", "/download/skin.skn", ""));
    EXPECT_EQ(head.status, 200);
    EXPECT_NE(head.head.find("Content-Length: 16640\r\n"), std::string::npos) << head.head;
    EXPECT_EQ(head.body, "");
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
        std::string in_project;          // a line skin.toml must then hold
        std::chrono::milliseconds pause; // between the parts of its body, the whole over 5 s
    };
    const std::string new_dot = text_of(solid_bmp(16, 250, 10, 10));
    const edit_case edits[] = {
        {"a touch-up", "/api/touch?entry=1", layer_body(17, 0xE0), "touch = \"art/dot.touch.png\""},
        {"a dither", "/api/options?entry=0&dither=ordered", "", "dither = \"ordered\""},
        {"a background", "/api/options?entry=1&background=%23336699", "", "background = \"#336699\""},
        {"new artwork, its name made safe", "/api/source?entry=1&name=..%2F..%2Fnew%20dot.bmp", new_dot,
         "source = \"art/new_dot.bmp\""},
        {"new artwork trickled in", "/api/source?entry=1&name=slow.bmp", new_dot, "source = \"art/slow.bmp\"",
         700ms},
        {"a rename", "/api/rename?entry=1&name=low-battery", "", "name = \"low-battery\""},
        {"a rename to its own C name", "/api/rename?entry=1&name=Low-Battery", "", "name = \"Low-Battery\""},
        {"an added icon", "/api/add?kind=icon&name=spare.bmp", new_dot, "source = \"art/spare-2.bmp\""},
        {"a move", "/api/move?entry=2&to=1", "", "name = \"spare\""},
        {"a move to the other series", "/api/move?entry=0&to=2&series=icon", "", "[[icon]]\nname = \"sun\""},
        {"and back", "/api/move?entry=2&to=0&series=picture", "", "[[picture]]\nname = \"sun\""},
        {"an icon drawn from nothing", "/api/add?drawn=1&icon=1", "", "touch = \"art/icon.touch.png\""},
    };
    write_file(folder / "art" / "spare.bmp", solid_bmp(16, 0, 0, 0)); // not the slot's own: kept
    for (const edit_case& edit : edits) {
        const http_reply reply = post(edit.target, edit.body, edit.pause);
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
    EXPECT_EQ(names, (std::vector<std::string>{"sun", "spare", "Low-Battery", "icon"})) << toml;
    EXPECT_EQ(read_file(folder / "skin.skn").size(), 16384u + 3 * 256u);
    EXPECT_EQ(http_exchange(port, from_page("GET", "/download/skin.skn", "")).body,
              text_of(read_file(folder / "skin.skn")));
    EXPECT_EQ(http_exchange(port, from_page("GET", "/download/skin.h", "")).body,
              text_of(read_file(folder / "skin.h")));
    // The palette for a paint program: magenta is device colour E3, at its place in the table.
    const http_reply act = http_exchange(port, from_page("GET", "/download/skin-palette.act", ""));
    EXPECT_EQ(act.body.size(), 768u);
    EXPECT_EQ(act.body.substr(0xE3 * 3, 3), "\xFF\x00\xFF"s);
    EXPECT_NE(act.head.find("filename=\"skin-palette.act\""), std::string::npos) << act.head;
    EXPECT_TRUE(http_exchange(port, from_page("GET", "/download/skin-palette.gpl", ""))
                    .body.starts_with("GIMP Palette\n"));
    EXPECT_EQ(http_exchange(port, from_page("GET", "/download/skin-palette.exe", "")).status, 404);
}

// The artwork of a project: every file under art/ but those kept for undo, with its bytes.
std::map<std::string, std::vector<std::uint8_t>> artwork(const fs::path& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> files = snapshot(folder);
    std::erase_if(files, [](const auto& file) {
        return !file.first.starts_with("art/") || file.first.starts_with("art/.history/");
    });
    return files;
}

TEST_F(studio_test, undo_and_redo_each_edit_byte_for_byte)
{
    write_project(folder, false);
    const std::string project =
        "# The test skin\n[[picture]]\nname = \"sun\"  # warm\nsource = \"art/sun.bmp\"\n\n"
        "# status\n[[icon]]\nname = \"dot\"\nsource = \"art/dot.bmp\"\n"
        "[[icon]]\nname = \"cafe\"\nsource = \"caf\u00e9.bmp\"\nas_is = true\n";
    write_file(folder / "skin.toml", {project.begin(), project.end()});
    write_file(folder / path_from_utf8("caf\u00e9.bmp"), bmp_bytes({}));
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string new_dot = text_of(solid_bmp(16, 250, 10, 10));
    const struct {
        const char* target;
        std::string body;
        const char* label; // what the page offers to undo
    } edits[] = {
        {"/api/options?entry=2&dither=ordered", "", "dither"}, // moves the BMP taken as it is into art/
        {"/api/rename?entry=1&name=low-battery", "", "rename"},
        {"/api/move?entry=1&to=0", "", "move"},
        {"/api/options?entry=0&dither=ordered&background=%23336699", "", "dither"},
        {"/api/source?entry=0&name=dot.bmp", new_dot, "replace artwork"}, // over its own file
        {"/api/add?kind=icon&name=spare.bmp", new_dot, "add"},
        {"/api/touch?entry=3", layer_body(0, 0x03), "touch-up"},
        {"/api/touch?entry=3", layer_body(255, 0x1C), "touch-up"}, // its layer kept in art/.history
        {"/api/touch?entry=3", layer_body(-1, 0), "clear touch-ups"},
        {"/api/add?drawn=1&icon=0", "", "new picture"},
        {"/api/remove?entry=1", "", "remove"},
    };
    const auto shown = [&] {
        return nlohmann::json::parse(http_exchange(port, from_page("GET", "/api/state", "")).body);
    };
    struct folder_state {
        std::string project;
        std::map<std::string, std::vector<std::uint8_t>> art;
    };
    const auto now = [&] { return folder_state{text_of(read_file(folder / "skin.toml")), artwork(folder)}; };
    std::vector<folder_state> states{now()}; // before each edit, then after the last
    for (const auto& edit : edits) {
        ASSERT_EQ(post(edit.target, edit.body).status, 200) << edit.target;
        EXPECT_EQ(shown()["undo"], edit.label);
        // Every file the edit replaced or left out of the skin is still in the folder.
        const auto kept = snapshot(folder);
        for (const auto& [name, bytes] : states.back().art)
            EXPECT_TRUE(std::ranges::any_of(kept, [&](const auto& file) { return file.second == bytes; }))
                << edit.target << ": " << name << " lost";
        states.push_back(now());
    }
    // Every edit undone, the last first, then every one redone.
    for (const bool undo : {true, false})
        for (std::size_t n = 0; n < std::size(edits); ++n) {
            const std::size_t e = undo ? std::size(edits) - 1 - n : n;
            const http_reply reply = post(undo ? "/api/undo" : "/api/redo", "");
            ASSERT_EQ(reply.status, 200) << edits[e].target << " " << undo << "\n" << reply.body;
            const folder_state& wanted = states[undo ? e : e + 1];
            EXPECT_EQ(text_of(read_file(folder / "skin.toml")), wanted.project)
                << edits[e].target << " " << undo;
            EXPECT_EQ(artwork(folder), wanted.art) << edits[e].target << " " << undo;
            EXPECT_EQ(shown()[undo ? "redo" : "undo"], edits[e].label) << edits[e].target << " " << undo;
            expect_packs_to_the_built_skin();
        }
    EXPECT_EQ(post("/api/redo", "").body, "nothing to redo\n");
    // After an undo, an edit that moves files but leaves skin.toml as it was still ends redo; a
    // file made by hand where a redo moves one is kept in the history folder.
    const std::string hand_made = text_of(solid_bmp(16, 1, 2, 3));
    const struct {
        const char* target;
        std::string body;
        nlohmann::json redo; // what the page then offers to redo
    } after[] = {{"/api/undo", "", "remove"},
                 {"/api/source?entry=0&name=dot.bmp", text_of(solid_bmp(16, 5, 90, 200)), nullptr},
                 {"/api/add?kind=icon&name=x.bmp", new_dot, nullptr},
                 {"/api/undo", "", "add"},
                 {"/api/redo", "", nullptr}}; // onto art/x.bmp, made by hand first
    for (const auto& step : after) {
        if (step.target == "/api/redo"s)
            write_file(folder / "art" / "x.bmp", {hand_made.begin(), hand_made.end()});
        ASSERT_EQ(post(step.target, step.body).status, 200) << step.target;
        EXPECT_EQ(shown()["redo"], step.redo) << step.target;
    }
    EXPECT_TRUE(std::ranges::any_of(snapshot(folder), [&](const auto& file) {
        return file.first.starts_with("art/.history/") && text_of(file.second) == hand_made;
    })) << "the hand-made art/x.bmp lost";
}

namespace {

// A request of the studio's own page to a studio run in this process.
http_response page_request(studio_state& state, const std::string& method, const std::string& path,
                           std::vector<std::pair<std::string, std::string>> query,
                           const std::string& body = "")
{
    query.emplace_back("version", std::to_string(state.version));
    http_request request{
        method,
        path,
        std::move(query),
        {{"host", "127.0.0.1:1"}, {"x-studio-token", state.door.token}, {"origin", "http://127.0.0.1:1"}}};
    request.body = body;
    return answer_request(state, request);
}

} // namespace

// A hand edit of skin.toml made after the page's edit stands: neither undo nor redo writes over
// it, the artwork stays as it was, and there is nothing left to undo past it.
TEST_F(studio_test, undo_never_writes_over_a_hand_edit)
{
    write_project(folder, false);
    studio_state state;
    state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
    open_studio(state, folder);
    const std::string new_dot = text_of(solid_bmp(16, 250, 10, 10));
    for (const bool undone_first : {false, true}) {
        ASSERT_EQ(
            page_request(state, "POST", "/api/source", {{"entry", "1"}, {"name", "dot.bmp"}}, new_dot).status,
            200);
        if (undone_first) {
            ASSERT_EQ(page_request(state, "POST", "/api/undo", {}).status, 200);
        }
        const auto art = artwork(folder);
        std::vector<std::uint8_t> hand = read_file(folder / "skin.toml");
        hand.insert(hand.end(), {'#', '\n'});
        write_file(folder / "skin.toml", hand);
        const char* step = undone_first ? "/api/redo" : "/api/undo";
        const http_response refused = page_request(state, "POST", step, {});
        EXPECT_EQ(refused.status, 409) << step;
        EXPECT_EQ(refused.body,
                  "skin.toml changed on disk meanwhile: reloaded, and the edit was not saved\n");
        EXPECT_EQ(read_file(folder / "skin.toml"), hand) << step;
        EXPECT_EQ(artwork(folder), art) << step;
        EXPECT_EQ(page_request(state, "POST", "/api/undo", {}).body, "nothing to undo\n") << step;
        EXPECT_EQ(page_request(state, "POST", "/api/redo", {}).body, "nothing to redo\n") << step;
    }
}

// An edit the page cannot make is refused with its reason, before any file is touched.
TEST_F(studio_test, refuses_an_edit_it_cannot_make_saying_why)
{
    write_project(folder, false);
    studio_state state;
    state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
    open_studio(state, folder);
    const std::string dot = text_of(solid_bmp(16, 250, 10, 10));
    const struct {
        const char* path;
        std::vector<std::pair<std::string, std::string>> query;
        std::string body;
        const char* answer;
        int status = 422;
    } cases[] = {
        {"/api/resize", {{"entry", "0"}}, "", "no such edit\n"},
        {"/api/touch",
         {{"entry", "1"}},
         "{\"layer\": [[], []]}",
         "the layer has 2 frames; the entry has 1\n",
         400},
        {"/api/touch",
         {{"entry", "1"}},
         "{\"layer\": [[-1, 256]]}",
         "each value of the layer must be -1 or 0 to 255\n",
         400},
        {"/api/touch",
         {{"entry", "1"}},
         "{\"layer\": [[-1]]}",
         "frame 0 of the layer has 1 values; it must have 256\n",
         400},
        {"/api/touch",
         {{"version", "0"}, {"entry", "1"}},
         "{\"layer\": [[]]}",
         "the project changed meanwhile (another tab, or a file on disk): reloaded\n",
         409},
        {"/api/add", {{"drawn", "1"}, {"icon", "2"}}, "", "add a picture or an icon\n"},
        {"/api/resize", {}, "", "no such edit\n"},
        {"/api/remove", {{"entry", "2"}}, "", "no such entry\n"},
        {"/api/source", {{"entry", "-1"}, {"name", "a.bmp"}}, dot, "no such entry\n"},
        {"/api/add", {{"kind", "sound"}, {"name", "a.bmp"}}, dot, "add a picture or an icon\n"},
        {"/api/add", {{"kind", "icon"}, {"name", "a.bmp"}}, "", "a.bmp: the file is empty\n"},
        {"/api/options",
         {{"entry", "0"}, {"dither", "sharp"}, {"background", "#zz"}},
         "",
         "dither must be none, floyd-steinberg, ordered or refined\n"},
        {"/api/options",
         {{"entry", "0"}, {"dither", "ordered"}, {"background", "#12345"}},
         "",
         "background must be a colour #RRGGBB\n"},
        {"/api/move", {{"entry", "0"}, {"to", "2"}, {"series", "sound"}}, "", "no such place\n"},
        {"/api/move", {{"entry", "0"}, {"to", "1"}, {"series", "sound"}}, "", "no such series\n"},
        {"/api/rename",
         {{"entry", "0"}},
         "",
         "\"\" gives no C name: use letters, digits, '_', '-' or ' ', not "
         "a digit first\n"},
        {"/api/rename",
         {{"entry", "0"}, {"name", "\xFF\xFE"}},
         "",
         "\"\\xFF\\xFE\" gives no C name: use letters, digits, '_', '-' or ' ', not a digit first\n"},
    };
    const auto before = snapshot(folder);
    for (const auto& c : cases) {
        const http_response answer = page_request(state, "POST", c.path, c.query, c.body);
        EXPECT_EQ(answer.status, c.status) << c.path << " " << c.answer;
        EXPECT_EQ(answer.body, c.answer) << c.path;
        EXPECT_EQ(snapshot(folder), before) << c.path << " " << c.answer;
        EXPECT_TRUE(state.history.undo.empty()) << c.path << " " << c.answer;
    }
}

// New artwork that cannot be written into skin.toml leaves no file moved: the old artwork is back.
TEST_F(studio_test, an_edit_not_saved_takes_its_upload_back)
{
    if (testing_windows_build())
        GTEST_SKIP() << "a link out of the folder, as Linux has it";
    const struct {
        const char* what;
        std::string project; // beside art/sun.bmp and art/dot.bmp
        bool linked_out;     // skin.toml a link to a file outside the folder
        bool hand_edit;      // skin.toml changed once the studio read it
        const char* answer;
    } cases[] = {
        {"a hand edit meanwhile", "[[picture]]\nname = \"sun\"\nsource = \"art/sun.bmp\"\n", false, true,
         "skin.toml changed on disk meanwhile: reloaded, and the edit was not saved\n"},
        {"an inline table", "picture = [{name = \"sun\", source = \"art/sun.bmp\"}]\n", false, false,
         "skin.toml writes an entry as an inline table, which the studio cannot edit without rewriting the "
         "file: edit it by hand\n"},
        {"a link out", "[[picture]]\nname = \"sun\"\nsource = \"art/sun.bmp\"\n", true, false,
         "skin.toml: a link out of the project folder: the studio writes nothing outside it\n"},
    };
    for (const auto& c : cases) {
        fs::remove_all(folder);
        write_project(folder, false);
        const fs::path file = c.linked_out ? root / "outside.toml" : folder / "skin.toml";
        fs::remove(folder / "skin.toml");
        write_file(file, {c.project.begin(), c.project.end()});
        if (c.linked_out)
            fs::create_symlink(file, folder / "skin.toml");
        studio_state state;
        state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
        open_studio(state, folder);
        const std::string by_hand = c.project + "# by hand\n";
        if (c.hand_edit)
            write_file(file, {by_hand.begin(), by_hand.end()});
        const auto art = artwork(folder);
        const std::vector<std::uint8_t> project = read_file(file);
        const http_response answer =
            page_request(state, "POST", "/api/source", {{"entry", "0"}, {"name", "sun.bmp"}},
                         text_of(solid_bmp(128, 9, 99, 199)));
        EXPECT_EQ(answer.status, 409) << c.what;
        EXPECT_EQ(answer.body, c.answer) << c.what;
        EXPECT_EQ(artwork(folder), art) << c.what;
        EXPECT_EQ(read_file(file), project) << c.what;
        EXPECT_TRUE(state.history.undo.empty()) << c.what;
    }
}

// An upload is decoded once, to check it: the build that follows takes those frames.
TEST_F(studio_test, an_upload_is_decoded_once)
{
    write_project(folder, false);
    studio_state state;
    state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
    open_studio(state, folder);
    const struct {
        const char* path;
        std::vector<std::pair<std::string, std::string>> query;
        std::uint8_t red; // each upload another image, which no build has converted yet
    } cases[] = {
        {"/api/add", {{"kind", "icon"}, {"name", "spare.bmp"}}, 9},
        {"/api/source", {{"entry", "1"}, {"name", "dot.bmp"}}, 90},
    };
    for (const auto& c : cases) {
        const http_response answer =
            page_request(state, "POST", c.path, c.query, text_of(solid_bmp(16, c.red, 99, 199)));
        ASSERT_EQ(answer.status, 200) << c.path << "\n" << answer.body;
        EXPECT_EQ(state.build.decoded, 0u) << c.path;
        EXPECT_EQ(state.build.slots.size(), 3u) << c.path;
    }
}

// Frames handed to the build stand for a source only while its bytes hash as they did.
TEST_F(folder_test, a_build_takes_handed_frames_only_for_the_bytes_they_came_from)
{
    const std::vector<std::uint8_t> red = flat_icon(255, 0, 0);
    const std::vector<std::uint8_t> blue = flat_icon(0, 0, 255);
    const struct {
        const char* what;
        std::uint64_t hash; // handed with blue frames for red.bmp
        unsigned decoded;
        std::uint8_t pixel;       // of the built block
        bool blue_over_built_red; // the file as handed, same size and time as the red one built
    } cases[] = {
        {"the file as handed", content_hash(red), 0, 0x03, false},
        {"the file changed since", content_hash(blue), 1, 0xE0, false},
        {"the file replaced unseen by its stamp", content_hash(blue), 0, 0x03, true},
    };
    for (const auto& c : cases) {
        const fs::path at = folder / c.what;
        fs::create_directories(at);
        write_file(at / "red.bmp", red);
        const std::string text = "[[icon]]\nname = \"dot\"\nsource = \"red.bmp\"\n";
        write_file(at / "skin.toml", {text.begin(), text.end()});
        skin_project project;
        std::vector<project_problem> problems;
        ASSERT_TRUE(load_project(at / "skin.toml", project, problems));
        if (c.blue_over_built_red) {
            ASSERT_TRUE(build_project(project, problems, {}).problems.empty());
            const fs::file_time_type built_time = fs::last_write_time(at / "red.bmp");
            write_file(at / "red.bmp", blue);
            fs::last_write_time(at / "red.bmp", built_time);
        }
        std::string error;
        decoded_sources handed;
        handed["red.bmp"] = {.hash = c.hash, .frames = decode_frames(blue, error)};
        const build_result built = build_project(project, problems, {}, handed);
        ASSERT_TRUE(built.problems.empty()) << c.what;
        EXPECT_EQ(built.decoded, c.decoded) << c.what;
        ASSERT_EQ(built.slots.size(), 1u) << c.what;
        EXPECT_EQ(built.slots[0].image.block, std::vector<std::uint8_t>(16 * 16, c.pixel)) << c.what;
    }
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
    const std::vector<std::uint8_t> init_toml = read_file(folder / "skin.toml");
    expect_packs_to_the_built_skin();

    // New artwork for an adopted BMP: the old one is kept in art/, and build needs no --force.
    const http_reply replaced =
        post("/api/source?entry=0&name=splash.bmp", text_of(solid_bmp(128, 9, 99, 199)));
    EXPECT_EQ(replaced.status, 200) << replaced.body;
    EXPECT_EQ(read_file(folder / "art" / "bmp0.bmp"), bmp_bytes(sample_image(128, 3)));
    EXPECT_NE(read_file(folder / "skin.skn"), packed);
    expect_packs_to_the_built_skin();
    // Undone, the adopted BMP is back in its place, which build had taken; redone, in art/ again.
    const std::vector<std::uint8_t> replaced_toml = read_file(folder / "skin.toml");
    for (const char* step : {"/api/undo", "/api/redo"}) {
        const http_reply stepped = post(step, "");
        EXPECT_EQ(stepped.status, 200) << step << "\n" << stepped.body;
        const bool undone = step == "/api/undo"s;
        EXPECT_EQ(read_file(folder / "skin.toml"), undone ? init_toml : replaced_toml) << step;
        EXPECT_EQ(read_file(undone ? folder / "bmp0.bmp" : folder / "art" / "bmp0.bmp"),
                  bmp_bytes(sample_image(128, 3)))
            << step;
        EXPECT_EQ(read_file(folder / "skin.skn") == packed, undone) << step;
        expect_packs_to_the_built_skin();
    }

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

struct init_refusal_case {
    const char* name;
    std::map<std::string, std::vector<std::uint8_t>> files; // beside a good bmp0.bmp
    std::string answer;                                     // the page's words
};

void PrintTo(const init_refusal_case& c, std::ostream* out)
{
    *out << c.name;
}

class init_refusals : public studio_test, public ::testing::WithParamInterface<init_refusal_case> {};

// A folder that skinpack refuses becomes no project: the page is told which file and why.
TEST_P(init_refusals, name_each_refused_file_and_why)
{
    const init_refusal_case& c = GetParam();
    write_file(folder / "bmp0.bmp", bmp_bytes(sample_image(128, 3)));
    for (const auto& [name, bytes] : c.files) {
        fs::create_directories((folder / name).parent_path());
        write_file(folder / name, bytes);
    }
    ASSERT_NO_FATAL_FAILURE(start());
    const http_reply reply = post("/api/init", "");
    EXPECT_EQ(reply.status, 409);
    EXPECT_EQ(reply.body, c.answer);
    EXPECT_FALSE(fs::exists(folder / "skin.toml"));
}

INSTANTIATE_TEST_SUITE_P(
    of_a_numbered_folder, init_refusals,
    ::testing::Values(init_refusal_case{"a_damaged_bmp",
                                        {{"bmp1.bmp", {'B', 'M', 0, 0}}},
                                        "cannot make skin.toml: skinpack refuses what the folder holds\n"
                                        "bmp1.bmp: file ends inside its header: the file is damaged\n"},
                      init_refusal_case{"an_empty_icon_and_a_folder",
                                        {{"icon00.bmp", {}}, {"bmp1.bmp/keep", {1}}},
                                        "cannot make skin.toml: skinpack refuses what the folder holds\n"
                                        "bmp1.bmp: is a folder: rename or remove it\n"
                                        "icon00.bmp: file is empty or cannot be read\n"}));

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

// Sources named in other scripts are shown, and an upload keeps such a name, whatever Windows'
// code page: paths are UTF-8 in skin.toml, the query and the page.
TEST_F(studio_test, shows_and_keeps_sources_named_in_any_script)
{
    const std::string fon = "\u0444\u043e\u043d", ete = "\u00e9t\u00e9";
    fs::create_directories(folder / "art");
    write_file(folder / "art" / (fon + ".bmp"), solid_bmp(128, 200, 120, 40));
    write_file(folder / "art" / (ete + ".bmp"), solid_bmp(16, 20, 200, 90));
    const std::string project = "[[picture]]\nname = \"fon\"\nsource = \"art/" + fon +
                                ".bmp\"\n\n[[icon]]\nname = \"ete\"\nsource = \"art/" + ete + ".bmp\"\n";
    write_file(folder / "skin.toml", {project.begin(), project.end()});
    ASSERT_NO_FATAL_FAILURE(start());
    const http_reply added =
        post("/api/add?kind=icon&name=%D1%84%D0%BE%D0%BD.bmp", text_of(solid_bmp(16, 9, 99, 199)));
    EXPECT_EQ(added.status, 200) << added.body;
    EXPECT_NE(text_of(read_file(folder / "skin.toml")).find("source = \"art/" + fon + "-2.bmp\"\n"),
              std::string::npos);
    const nlohmann::json state =
        nlohmann::json::parse(http_exchange(port, from_page("GET", "/api/state", "")).body);
    EXPECT_EQ(state["problems"], nlohmann::json::array());
    const int sides[] = {128, 16, 16}; // of each entry's source, in file order
    for (std::size_t e = 0; e < std::size(sides); ++e) {
        EXPECT_EQ(state["entries"][e]["problems"], nlohmann::json::array()) << e;
        const http_reply image =
            http_exchange(port, from_page("GET", "/api/source.png?entry=" + std::to_string(e), ""));
        ASSERT_EQ(image.status, 200) << e << "\n" << image.body;
        std::string error;
        const std::vector<rgba_image> frames = decode_frames(
            {reinterpret_cast<const std::uint8_t*>(image.body.data()), image.body.size()}, error);
        ASSERT_EQ(frames.size(), 1u) << e << ": " << error;
        EXPECT_EQ(frames[0].width, sides[e]) << e;
    }
    expect_packs_to_the_built_skin();
}

// An upload keeps its letters in any script as its file name, and its entry name spells them in
// ASCII; nothing that could leave the folder, hide in a name or break UTF-8 comes through.
TEST(upload_names, keep_letters_and_nothing_else)
{
    const auto repeated = [](const std::string& text, int times) {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += text;
        return out;
    };
    const struct {
        std::string sent, file, entry;
    } cases[] = {
        {"Low battery.png", "Low_battery.png", "low_battery"},
        {"../../new dot.bmp", "new_dot.bmp", "new_dot"},
        {"C:\\art\\wifi--3.png", "wifi--3.png", "wifi_3"},
        {"\xD0\xB8\xD0\xBA\xD0\xBE\xD0\xBD\xD0\xB0.png", "\xD0\xB8\xD0\xBA\xD0\xBE\xD0\xBD\xD0\xB0.png",
         "ikona"},
        {"\xC3\x89"
         "cran d'accueil.png",
         "\xC3\x89"
         "cran_d_accueil.png",
         "ecran_d_accueil"},
        {"E\xCC\x81te\xCC\x81.png", "E\xCC\x81te\xCC\x81.png", "ete"}, // accents sent apart
        {"\xC3\x86sop \xC5\x92uvre Stra\xC3\x9F"
         "e.gif",
         "\xC3\x86sop_\xC5\x92uvre_Stra\xC3\x9F"
         "e.gif",
         "aesop_oeuvre_strasse"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.png", "\xE6\x97\xA5\xE6\x9C\xAC.png", "image"},
        {"3d.png", "3d.png", "image_3d"},
        // A direction override that would show "gnp.exe" as "exe.png", broken and overlong UTF-8.
        {"a\xE2\x80\xAEgnp.exe", "a_gnp.exe", "a_gnp"},
        {"\xFF\xC3(\xC0\xAFx.png", "x.png", "x"},
        {"\xED\xA0\x80y.png", "y.png", "y"},
        {"..\xE2\x80\x8B.png", "_.png", "image"},
        {"con.png", "_con.png", "con"},
        {"LPT1.txt", "_LPT1.txt", "lpt1"},
        {"", "upload", "upload"},
        // Cut at 64 bytes, never inside a letter.
        {std::string(31, 'x') + repeated("\xD0\xB0", 20), std::string(31, 'x') + repeated("\xD0\xB0", 16),
         std::string(31, 'x') + repeated("a", 16)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(safe_file_name(c.sent), c.file) << c.sent;
        EXPECT_EQ(entry_name_from(c.file.substr(0, c.file.rfind('.'))), c.entry) << c.sent;
    }
}

TEST(studio_door, judges_each_request_on_its_head_alone)
{
    const studio_door door{std::string(32, 'a'), 4321};
    const std::string host = "Host: 127.0.0.1:4321\r\n";
    const std::string token = "X-Studio-Token: " + std::string(32, 'a') + "\r\n";
    const std::string origin = "Origin: http://127.0.0.1:4321\r\n";
    struct head_case {
        const char* what;
        std::string head; // up to the blank line, which may not have come
        int status;       // 0: passes
        std::size_t max_body = 0;
    };
    const head_case cases[] = {
        {"the page, without the token", "GET / HTTP/1.1\r\nHost: localhost:4321\r\n\r\n", 0},
        {"the script, as a HEAD", "HEAD /studio.js HTTP/1.1\r\n" + host + "\r\n", 0},
        {"the state with the token", "GET /api/state HTTP/1.1\r\n" + host + token + "\r\n", 0},
        {"the state without it", "GET /api/state HTTP/1.1\r\n" + host + "\r\n", 403},
        {"the token in the query",
         "GET /api/state?token=" + std::string(32, 'a') + " HTTP/1.1\r\n" + host + "\r\n", 403},
        {"the token in a cookie",
         "GET /api/state HTTP/1.1\r\n" + host + "Cookie: skinview_studio_4321=" + std::string(32, 'a') +
             "\r\n\r\n",
         403},
        {"a token one digit short",
         "GET /api/state HTTP/1.1\r\n" + host + "X-Studio-Token: " + std::string(31, 'a') + "\r\n\r\n", 403},
        {"the token with its last digit changed",
         "GET /api/state HTTP/1.1\r\n" + host + "X-Studio-Token: " + std::string(31, 'a') + "b\r\n\r\n", 403},
        {"the page for another name", "GET / HTTP/1.1\r\nHost: skins.example:4321\r\n\r\n", 403},
        {"a name that begins with localhost", "GET / HTTP/1.1\r\nHost: localhost.evil.example:4321\r\n\r\n",
         403},
        {"a POST to the page's address", "POST / HTTP/1.1\r\n" + host + origin + "\r\n", 403},
        {"an edit from this page", "POST /api/remove HTTP/1.1\r\n" + host + token + origin + "\r\n", 0},
        {"an edit without an Origin", "POST /api/remove HTTP/1.1\r\n" + host + token + "\r\n", 403},
        {"an upload", "POST /api/add HTTP/1.1\r\n" + host + token + origin + "Content-Length: 9\r\n\r\n", 0,
         std::size_t{16} << 20},
        {"new artwork", "POST /api/source HTTP/1.1\r\n" + host + token + origin + "\r\n", 0,
         std::size_t{16} << 20},
        {"PUT", "PUT /api/state HTTP/1.1\r\n" + host + token + "\r\n", 405},
        {"OPTIONS from a stranger", "OPTIONS / HTTP/1.1\r\n\r\n", 405},
        {"two Hosts", "GET / HTTP/1.1\r\n" + host + "Host: skins.example\r\n\r\n", 400},
        {"two equal lengths", "POST /api/add HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n",
         400},
        {"two different lengths", "POST /api/add HTTP/1.1\r\nContent-Length: 1\r\ncontent-length: 2\r\n\r\n",
         400},
        {"a length that is no number", "POST /api/add HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n", 400},
        {"a negative length", "POST /api/add HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        {"a chunked body", "POST /api/add HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"two transfer codings",
         "POST /api/add HTTP/1.1\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n", 400},
        {"a folded header", "GET / HTTP/1.1\r\n" + host + " folded\r\n\r\n", 400},
        {"a bare LF, before the head has ended", "GET / HTTP/1.1\nHost: 127.0.0.1:4321", 400},
        {"a lone CR just before the blank line", "GET / HTTP/1.1\r\r\n\r\n", 400},
        {"a lone CR in a header", "GET / HTTP/1.1\r\n" + host + "X-Note: a\rb\r\n\r\n", 400},
        {"a head too long", "GET / HTTP/1.1\r\nX-Fill: " + std::string(max_header_bytes, 'x'), 431},
    };
    for (const head_case& c : cases) {
        http_request request;
        http_response refusal;
        std::size_t head_size = 0;
        const parse_outcome outcome = parse_head(c.head, request, head_size, refusal);
        int status = outcome == parse_outcome::refused ? refusal.status : -1;
        std::size_t max_body = 0;
        if (outcome == parse_outcome::complete) {
            const head_verdict verdict = judge_head(request, door);
            status = verdict.refusal ? verdict.refusal->status : 0;
            max_body = verdict.max_body;
        }
        EXPECT_EQ(status, c.status) << c.what;
        EXPECT_EQ(max_body, c.max_body) << c.what;
    }
    // A whole request: its body, or 413 for one over the limit before any of it has come.
    http_request request;
    http_response refusal;
    const std::string post = "POST /api/add HTTP/1.1\r\nContent-Length: 5\r\n\r\n";
    EXPECT_EQ(parse_request(post + "hel", 5, request, refusal), parse_outcome::incomplete);
    EXPECT_EQ(parse_request(post + "hello", 5, request, refusal), parse_outcome::complete);
    EXPECT_EQ(request.body, "hello");
    EXPECT_EQ(parse_request(post, 4, request, refusal), parse_outcome::refused);
    EXPECT_EQ(refusal.status, 413);
}

// The browser is opened on a private file, never on an address with the token: a stand-in
// xdg-open first on the PATH records what it was given.
TEST_F(studio_test, opens_the_browser_on_a_private_file_that_goes_once_the_page_came)
{
    if (testing_windows_build())
        GTEST_SKIP() << "the Windows build opens the browser with ShellExecute";
    write_project(folder, false);
    const fs::path bin = root / "bin";
    fs::create_directories(bin);
    const std::string opener = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + (root / "arguments").string() +
                               "\"\nstat -c '%a' \"$1\" \"$(dirname \"$1\")\" > \"" +
                               (root / "modes").string() + "\"\ncat \"$1\" > \"" +
                               (root / "page.part").string() + "\"\nmv \"" + (root / "page.part").string() +
                               "\" \"" + (root / "page").string() + "\"\n";
    write_file(bin / "xdg-open", {opener.begin(), opener.end()});
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    const std::string temporary = getenv("TMPDIR") ? getenv("TMPDIR") : "";
    ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    ::setenv("TMPDIR", root.c_str(), 1);
    program = start_skinview(folder, {.arguments = {"studio"}});
    ::setenv("PATH", path.c_str(), 1);
    temporary.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", temporary.c_str(), 1);
    port =
        std::stoi("0" + digits_after(wait_for_line(program, "http://127.0.0.1:", start_limit), "127.0.0.1:"));
    ASSERT_NE(port, 0);
    const auto until = std::chrono::steady_clock::now() + start_limit;
    while (!fs::exists(root / "page") && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string arguments = text_of(read_file(root / "arguments"));
    const std::string seen = text_of(read_file(root / "page")) + arguments;
    const std::size_t at = seen.find("/#token=");
    ASSERT_NE(at, std::string::npos) << seen;
    token = seen.substr(at + 8, 32);
    EXPECT_EQ(arguments.find(token), std::string::npos) << "the token on the opener's command line";
    ASSERT_TRUE(arguments.starts_with(root.string() + "/skinview-studio-")) << arguments;
    EXPECT_TRUE(arguments.ends_with("/open.html\n")) << arguments;
    EXPECT_EQ(text_of(read_file(root / "modes")), "600\n700\n");
    EXPECT_EQ(text_of(read_file(program.out)).find(token), std::string::npos) << "the token printed";
    const fs::path opened = arguments.substr(0, arguments.size() - 1);
    EXPECT_TRUE(fs::exists(opened));
    EXPECT_EQ(http_exchange(port, from_page("GET", "/api/version", "")).status, 200);
    EXPECT_FALSE(fs::exists(opened.parent_path())) << "the private page outlived the first request";
}

// Strangers who open connections and send nothing, or bodies to a wrong Host, neither keep the
// page out nor fill the studio's memory.
TEST_F(studio_test, idle_strangers_cannot_lock_the_page_out)
{
    ASSERT_NO_FATAL_FAILURE(start());
    const auto resident_kib = [&] {
        std::ifstream status("/proc/" + std::to_string(program.pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmRSS:"))
                return std::stol(line.substr(6));
        return 0L;
    };
    const long before = resident_kib();
    std::vector<int> held;
    const std::string body(std::size_t{1} << 20, 'x');
    for (int i = 0; i < 16; ++i) {
        held.push_back(connect_to(port, {2, 0}));
        const std::string head =
            "POST /api/add HTTP/1.1\r\nHost: evil.example\r\nContent-Length: 16777216\r\n\r\n";
        ::send(held.back(), head.data(), head.size(), MSG_NOSIGNAL);
        for (int mebibyte = 0; mebibyte < 2; ++mebibyte)
            ::send(held.back(), body.data(), body.size(), MSG_NOSIGNAL);
    }
    // More than the studio has room for, so some must give way.
    for (int i = 0; i < 96; ++i) {
        held.push_back(connect_to(port, {2, 0}));
        ::send(held.back(), "G", i % 2, MSG_NOSIGNAL); // half send nothing, half one byte
    }
    const auto asked = std::chrono::steady_clock::now();
    const http_reply reply = http_exchange(port, from_page("GET", "/api/version", ""));
    const auto answered_in = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(reply.status, 200) << reply.body;
    // Not a speed test: a studio that waited for a stranger would take its whole 3 s head limit.
    EXPECT_LT(answered_in, 3s);
    if (!testing_windows_build()) {
        // The largest it grows to while the studio takes what the strangers sent.
        long peak = 0;
        for (int look = 0; look < 20; ++look, std::this_thread::sleep_for(50ms))
            peak = std::max(peak, resident_kib());
        EXPECT_LT(peak - before, 16 * 1024) << peak - before << " KiB more, with the strangers' bodies sent";
        // A sanitized build carries its shadow memory; the bound is the plain build's.
        std::ifstream maps("/proc/" + std::to_string(program.pid) + "/maps");
        const std::string mapped{std::istreambuf_iterator<char>(maps), {}};
        if (mapped.find("asan") == std::string::npos) {
            EXPECT_LT(peak, 64 * 1024);
        }
    }
    for (const int connection : held)
        ::close(connection);
}

// A client that asks for a large download and never reads it holds up no other client.
TEST(studio_server, a_download_not_taken_stalls_no_one)
{
    http_server server;
    std::string error;
    ASSERT_TRUE(open_server(server, 0, error)) << error;
    const head_judge pass_all = [](const http_request&) { return head_verdict{}; };
    const auto serve_next = [&](const std::string& body) {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < until)
            if (std::optional<pending_request> pending = next_request(server, 10ms, pass_all)) {
                send_response(server, pending->connection, text_response(200, body));
                return true;
            }
        return false;
    };
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const int stalled = connect_to(server.port, {5, 0});
    ::send(stalled, request.data(), request.size(), MSG_NOSIGNAL);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(serve_next(std::string(std::size_t{16} << 20, 'x'))); // as large as a skin may be

    const int next = connect_to(server.port, {5, 0});
    ::send(next, request.data(), request.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(serve_next("small"));
    for (int round = 0; round < 10; ++round)
        next_request(server, 10ms, pass_all); // sends what the sockets take
    char reply[256] = {};
    const auto got = ::recv(next, reply, sizeof reply - 1, MSG_WAITALL);
    // Not a speed test: a studio that waited for the stalled reader would take its 30 s send limit.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    EXPECT_TRUE(std::string_view(reply, static_cast<std::size_t>(std::max<ssize_t>(got, 0)))
                    .ends_with("\r\n\r\nsmall"))
        << reply;
    ::close(stalled);
    ::close(next);
    close_server(server);
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

namespace {

// What the page reads of a studio run in this process: its state as JSON.
nlohmann::json page_state(studio_state& state)
{
    http_request request{
        "GET", "/api/state", {}, {{"host", "127.0.0.1:1"}, {"x-studio-token", state.door.token}}};
    return nlohmann::json::parse(answer_request(state, request).body);
}

// A source saved in two steps, its first half seen alone by one look, is never built from
// half: the page keeps the last good skin until the save has settled, then shows the new one.
TEST_F(studio_test, a_save_in_two_steps_never_shows_a_problem)
{
    write_project(folder, false);
    studio_state state;
    state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
    open_studio(state, folder);
    const nlohmann::json first = page_state(state);
    ASSERT_EQ(first["problems"], nlohmann::json::array());
    EXPECT_EQ(first["poll_ms"], 100) << "the page asks for news as often as the studio looks";
    const std::vector<std::uint8_t> saved = solid_bmp(16, 250, 10, 10);
    const std::size_t half = saved.size() / 2;
    struct look {
        std::size_t bytes; // of the new dot.bmp written before the look; 0: none
        bool reloads;
    };
    for (const look& l : {look{half, false}, look{saved.size(), false}, look{0, true}}) {
        if (l.bytes != 0)
            write_file(folder / "art" / "dot.bmp",
                       {saved.begin(), saved.begin() + static_cast<long>(l.bytes)});
        EXPECT_EQ(follow_disk(state), l.reloads) << l.bytes;
        const nlohmann::json shown = page_state(state);
        EXPECT_EQ(shown["problems"], nlohmann::json::array()) << l.bytes;
        EXPECT_EQ(shown["entries"][1]["problems"], nlohmann::json::array()) << l.bytes;
        EXPECT_EQ(shown["stale"], false) << l.bytes;
        EXPECT_EQ(shown["slots"][1]["hash"] == first["slots"][1]["hash"], !l.reloads) << l.bytes;
    }
}

// A folder named in bytes that are not UTF-8 (Linux allows any) still has its state answered as
// JSON that parses, each such byte shown as U+FFFD.
TEST_F(studio_test, answers_json_for_a_folder_named_in_any_bytes)
{
    const struct {
        std::string name;
        std::string shown; // as the page shows the folder's name
    } cases[] = {
        {"\u00e9t\u00e9", "\u00e9t\u00e9"},
        {"caf\xe9", "caf\ufffd"},
        {"\xe9t\xe9", "\ufffdt\ufffd"},
    };
    for (const auto& c : cases) {
        write_project(folder / c.name, false);
        studio_state state;
        state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
        open_studio(state, folder / c.name);
        for (const char* path : {"/api/state", "/api/version"}) {
            const http_response answer = answer_request(
                state, {"GET", path, {}, {{"host", "127.0.0.1:1"}, {"x-studio-token", state.door.token}}});
            ASSERT_EQ(answer.status, 200) << c.shown << path;
            const nlohmann::json shown = nlohmann::json::parse(answer.body, nullptr, false);
            ASSERT_FALSE(shown.is_discarded()) << c.shown << path << "\n" << answer.body;
            EXPECT_EQ(shown["version"], 2) << c.shown << path; // after the first load
            if (path == "/api/state"s) {
                EXPECT_EQ(fs::path(shown["folder"].get<std::string>()).filename(), c.shown);
                EXPECT_EQ(shown["entries"][1]["name"], "dot") << c.shown;
            }
        }
    }
}

// The error view: none where the artwork is in device colours, some where it is not, and no view
// for a BMP taken as it is.
TEST_F(studio_test, shows_where_the_device_differs_from_the_artwork)
{
    write_file(folder / "red.bmp", flat_icon(255, 0, 0)); // a device colour
    write_file(folder / "grey.bmp", flat_icon(100, 100, 100));
    const std::string project = "[[icon]]\nname = \"red\"\nsource = \"red.bmp\"\n"
                                "[[icon]]\nname = \"grey\"\nsource = \"grey.bmp\"\n"
                                "[[icon]]\nname = \"kept\"\nsource = \"red.bmp\"\nas_is = true\n";
    write_file(folder / "skin.toml", {project.begin(), project.end()});
    studio_state state;
    state.door = {"0123456789abcdef0123456789abcdef", 1, {}};
    open_studio(state, folder);
    const struct {
        const char* entry;
        int status;
        bool seen; // a difference
    } cases[] = {{"0", 200, false}, {"1", 200, true}, {"2", 404, false}};
    for (const auto& c : cases) {
        const http_response answer =
            answer_request(state, {"GET",
                                   "/api/error.png",
                                   {{"entry", c.entry}},
                                   {{"host", "127.0.0.1:1"}, {"x-studio-token", state.door.token}}});
        ASSERT_EQ(answer.status, c.status) << c.entry << answer.body;
        if (c.status != 200)
            continue;
        std::string mean;
        for (const auto& [name, value] : answer.headers)
            if (name == "X-Mean-Error")
                mean = value;
        EXPECT_EQ(mean != "0.00", c.seen) << c.entry << " " << mean;
        std::string error;
        const rgba_image map = decode_image(
            {reinterpret_cast<const std::uint8_t*>(answer.body.data()), answer.body.size()}, error);
        ASSERT_TRUE(map.rgba) << error;
        const std::span<const std::uint8_t> pixels = rgba_bytes(map);
        EXPECT_EQ(
            std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t v) { return v == 0 || v == 255; }) &&
                pixels[0] == 0,
            !c.seen)
            << c.entry;
    }
}

} // namespace

struct shown_problems_case {
    const char* name;
    std::string project;
    std::vector<std::string> general;
    std::vector<std::vector<std::string>> entries; // each entry's problems
    bool editable;
    bool dangling = false; // skin.toml a link to nothing, rather than `project`
};

void PrintTo(const shown_problems_case& c, std::ostream* out)
{
    *out << c.name;
}

class shown_problems : public studio_test, public ::testing::WithParamInterface<shown_problems_case> {};

// Each problem is shown on the card of the entry it concerns, or at the top; edits are taken while
// every value of skin.toml was read.
TEST_P(shown_problems, on_their_own_entries)
{
    const shown_problems_case& c = GetParam();
    write_file(folder / "dot.bmp", solid_bmp(16, 20, 200, 90));
    write_file(folder / "notes.png", {'n', 'o', 't', 'e', 's'});
    if (c.dangling && testing_windows_build())
        GTEST_SKIP() << "Wine shows a Windows program no dangling link";
    if (c.dangling)
        fs::create_symlink("gone.toml", folder / "skin.toml");
    else
        write_file(folder / "skin.toml", {c.project.begin(), c.project.end()});
    ASSERT_NO_FATAL_FAILURE(start());
    const nlohmann::json state =
        nlohmann::json::parse(http_exchange(port, from_page("GET", "/api/state", "")).body);
    EXPECT_EQ(state["problems"], c.general);
    std::vector<std::vector<std::string>> entries;
    for (const nlohmann::json& entry : state["entries"])
        entries.push_back(entry["problems"]);
    EXPECT_EQ(entries, c.entries);
    EXPECT_EQ(state["editable"], c.editable);
}

INSTANTIATE_TEST_SUITE_P(
    each_where_it_belongs, shown_problems,
    ::testing::Values(
        shown_problems_case{
            "two_entries_on_one_line",
            "icon = [{name = \"a\", source = \"notes.png\"}, {name = \"b\", source = \"missing.png\"}]\n",
            {},
            {{"skin.toml:1: icon \"a\": notes.png: not an image skinview can read: save it as PNG, BMP, "
              "JPEG, "
              "GIF or TGA"},
             {"skin.toml:1: icon \"b\": missing.png: no such file"}},
            true},
        shown_problems_case{"a_table_of_no_use",
                            "colour = 1\n[[icon]]\nname = \"a\"\nsource = \"missing.png\"\n",
                            {"skin.toml:1: unknown key \"colour\": the tables are [defaults], [panel], "
                             "[[picture]], [[icon]]"},
                            {{"skin.toml:2: icon \"a\": missing.png: no such file"}},
                            false},
        shown_problems_case{
            "names_that_clash",
            "[[icon]]\nname = \"a-b\"\nsource = \"dot.bmp\"\n[[icon]]\nname = \"a_b\"\nsource = "
            "\"dot.bmp\"\n",
            {},
            {{}, {"skin.toml:4: icon \"a_b\": its C name A_B is also that of icon \"a-b\" (line 1)"}},
            true},
        shown_problems_case{"a_link_to_no_project_file",
                            "",
                            {"skin.toml: no such file (skinview init writes one for a skin folder)"},
                            {},
                            false,
                            true}));
