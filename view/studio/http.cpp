// The studio's HTTP server: BSD sockets on Linux, Winsock on Windows, non-blocking, polled from
// one thread.
#include "view/studio/http.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using native_socket = SOCKET;
using io_size = int; // what send and recv take as a length
constexpr int send_flags = 0;
constexpr int shut_write = SD_SEND;
int poll_sockets(pollfd* sockets, std::size_t count, int milliseconds)
{
    return WSAPoll(sockets, static_cast<ULONG>(count), milliseconds);
}
void close_socket(native_socket handle)
{
    closesocket(handle);
}
bool make_non_blocking(native_socket handle)
{
    u_long on = 1;
    return ioctlsocket(handle, FIONBIO, &on) == 0;
}
bool would_block()
{
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
constexpr native_socket no_socket = INVALID_SOCKET;
#else
using native_socket = int;
using io_size = std::size_t;
constexpr int send_flags = MSG_NOSIGNAL; // a peer that went away is an error, not a signal
constexpr int shut_write = SHUT_WR;
int poll_sockets(pollfd* sockets, std::size_t count, int milliseconds)
{
    return ::poll(sockets, count, milliseconds);
}
void close_socket(native_socket handle)
{
    ::close(handle);
}
bool make_non_blocking(native_socket handle)
{
    const int flags = ::fcntl(handle, F_GETFL, 0);
    return flags >= 0 && ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) == 0;
}
bool would_block()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}
constexpr native_socket no_socket = -1;
#endif

native_socket native(std::intptr_t handle)
{
    return static_cast<native_socket>(handle);
}

using clock_type = std::chrono::steady_clock;

// Enough for the page, a few tabs and a crowd of strangers; when all are taken, the oldest
// connection still sending its head gives way, so strangers cannot keep the page out.
constexpr std::size_t max_connections = 64;
// A head that has not come whole by then is dropped: a browser sends it at once.
constexpr auto head_time_limit = std::chrono::seconds(3);
// An admitted body, from a page that holds the token, may take longer.
constexpr auto body_time_limit = std::chrono::seconds(15);
// A response the client does not take within this is dropped, freeing its memory.
constexpr auto send_time_limit = std::chrono::seconds(30);
// After an early refusal, what the client still sends is read and dropped for this long and up
// to this much, so that the refusal reaches it rather than a reset.
constexpr auto drain_time_limit = std::chrono::seconds(2);
constexpr std::size_t max_drained_bytes = std::size_t{64} << 20;
constexpr std::size_t max_headers = 64;

std::string lower_case(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A header name: letters, digits and the few marks a token may have; no blank, so no folding.
bool plain_name(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decodes `text` ('+' as a blank in a query); false for a broken escape or a NUL.
bool percent_decode(std::string_view text, bool query, std::string& decoded)
{
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            const int high = i + 2 < text.size() ? hex_digit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? hex_digit(text[i + 2]) : -1;
            if (high < 0 || low < 0)
                return false;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && query) {
            c = ' ';
        }
        if (c == '\0')
            return false;
        decoded.push_back(c);
    }
    return true;
}

bool parse_query(std::string_view text, http_request& request)
{
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('&'), text.size());
        const std::string_view pair = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t equals = std::min(pair.find('='), pair.size());
        std::string name;
        std::string value;
        if (!percent_decode(pair.substr(0, equals), true, name) ||
            !percent_decode(pair.substr(std::min(equals + 1, pair.size())), true, value))
            return false;
        request.query.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

// The request line and the headers, without the blank line that ends them.
bool parse_lines(std::string_view head, http_request& request)
{
    const std::size_t line_end = std::min(head.find("\r\n"), head.size());
    const std::string_view line = head.substr(0, line_end);
    const std::size_t first = line.find(' ');
    const std::size_t second = line.rfind(' ');
    if (first == std::string_view::npos || second == first || !line.substr(second + 1).starts_with("HTTP/1."))
        return false;
    request.method = std::string(line.substr(0, first));
    const std::string_view target = line.substr(first + 1, second - first - 1);
    if (request.method.empty() || !target.starts_with('/'))
        return false;
    const std::size_t question = std::min(target.find('?'), target.size());
    if (!percent_decode(target.substr(0, question), false, request.path) ||
        !parse_query(target.substr(std::min(question + 1, target.size())), request))
        return false;

    std::string_view rest = head.substr(std::min(line_end + 2, head.size()));
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find("\r\n"), rest.size());
        const std::string_view header = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 2, rest.size()));
        const std::size_t colon = header.find(':');
        if (colon == std::string_view::npos || !plain_name(header.substr(0, colon)) ||
            request.headers.size() == max_headers)
            return false;
        request.headers.emplace_back(lower_case(header.substr(0, colon)),
                                     std::string(trimmed(header.substr(colon + 1))));
    }
    return true;
}

std::size_t header_count(const http_request& request, std::string_view name)
{
    return static_cast<std::size_t>(std::count_if(request.headers.begin(), request.headers.end(),
                                                  [&](const auto& header) { return header.first == name; }));
}

// Where a line of `bytes` ends in a bare LF, or a CR stands alone; npos when none does.
std::size_t bare_line_end(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool lone_lf = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
        const bool lone_cr = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] != '\n';
        if (lone_lf || lone_cr)
            return i;
    }
    return std::string_view::npos;
}

const char* reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 422:
        return "Unprocessable Content";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

void close_connection(http_connection& connection)
{
    if (connection.socket != -1)
        close_socket(native(connection.socket));
    connection.socket = -1;
}

// Queues `response`; with `drain_after`, the client may still be sending, so its bytes are read
// and dropped after the response, and the connection closed only then.
void queue_response(http_connection& connection, const http_response& response, bool drain_after)
{
    connection.output = response_bytes(response);
    connection.sent = 0;
    connection.stage = connection_stage::sending;
    connection.deadline = clock_type::now() + send_time_limit;
    connection.drain_after = drain_after;
    connection.received.clear();
    connection.received.shrink_to_fit();
    connection.request = {};
}

// Sends what the socket takes now; once all is sent, closes or starts draining.
void send_some(http_connection& connection)
{
    while (connection.sent < connection.output.size()) {
        const std::size_t left = connection.output.size() - connection.sent;
        const auto chunk = static_cast<io_size>(std::min<std::size_t>(left, 1 << 20));
        const auto sent =
            ::send(native(connection.socket), connection.output.data() + connection.sent, chunk, send_flags);
        if (sent <= 0) {
            if (sent < 0 && would_block())
                return;
            close_connection(connection); // the peer went away
            return;
        }
        connection.sent += static_cast<std::size_t>(sent);
    }
    connection.output.clear();
    connection.output.shrink_to_fit();
    if (!connection.drain_after) {
        close_connection(connection);
        return;
    }
    ::shutdown(native(connection.socket), shut_write);
    connection.stage = connection_stage::draining;
    connection.deadline = clock_type::now() + drain_time_limit;
}

// Reads and drops what a refused client still sends; closes once it has stopped or sent too much.
void drain_some(http_connection& connection)
{
    char buffer[65536];
    const auto got = ::recv(native(connection.socket), buffer, static_cast<io_size>(sizeof buffer), 0);
    if (got < 0 && would_block())
        return;
    connection.drained += got > 0 ? static_cast<std::size_t>(got) : 0;
    if (got <= 0 || connection.drained > max_drained_bytes)
        close_connection(connection);
}

// Moves a connection on once its head has come: the judge's refusal, or its body awaited.
void judge_head(http_connection& connection, const head_judge& judge)
{
    head_verdict verdict = judge(connection.request);
    if (!verdict.refusal && connection.request.length > verdict.max_body)
        verdict.refusal =
            text_response(413, verdict.max_body == 0 ? "this request takes no body\n"
                                                     : "too large: at most " +
                                                           std::to_string(verdict.max_body >> 20) + " MiB\n");
    if (verdict.refusal) {
        queue_response(connection, *verdict.refusal, true);
        return;
    }
    connection.stage = connection_stage::body;
    connection.deadline = clock_type::now() + body_time_limit;
}

// Takes the body out of what has come, once whole.
void take_body(http_connection& connection)
{
    if (connection.received.size() - connection.head_size < connection.request.length)
        return;
    connection.request.body = connection.received.substr(connection.head_size, connection.request.length);
    connection.received.clear();
    connection.received.shrink_to_fit();
    connection.stage = connection_stage::ready;
}

// Reads what has arrived on a connection in its head or body and moves it on.
void read_some(http_connection& connection, const head_judge& judge)
{
    char buffer[65536];
    const std::size_t wanted =
        connection.stage == connection_stage::head
            ? max_header_bytes + 1 - connection.received.size()
            : connection.head_size + connection.request.length - connection.received.size();
    const auto got =
        ::recv(native(connection.socket), buffer,
               static_cast<io_size>(std::min(sizeof buffer, std::max<std::size_t>(wanted, 1))), 0);
    if (got < 0 && would_block())
        return;
    if (got <= 0) {
        close_connection(connection);
        return;
    }
    connection.received.append(buffer, static_cast<std::size_t>(got));
    if (connection.stage == connection_stage::head) {
        http_response refusal;
        switch (parse_head(connection.received, connection.request, connection.head_size, refusal)) {
        case parse_outcome::incomplete:
            return;
        case parse_outcome::refused:
            queue_response(connection, refusal, true);
            return;
        case parse_outcome::complete:
            judge_head(connection, judge);
            break;
        }
    }
    if (connection.stage == connection_stage::body)
        take_body(connection);
}

void accept_connections(http_server& server)
{
    for (;;) {
        const native_socket accepted = ::accept(native(server.listener), nullptr, nullptr);
        if (accepted == no_socket)
            return;
        if (!make_non_blocking(accepted)) {
            close_socket(accepted);
            continue;
        }
        if (server.connections.size() >= max_connections) {
            // The oldest that has not passed the door gives way (still sending its head, or refused):
            // strangers cannot keep a page that holds the token out.
            const auto oldest = std::find_if(
                server.connections.begin(), server.connections.end(),
                [](const http_connection& c) { return c.stage == connection_stage::head || c.drain_after; });
            if (oldest == server.connections.end()) {
                http_connection turned_away{static_cast<std::intptr_t>(accepted)};
                queue_response(turned_away, text_response(503, "too many connections at once\n"), false);
                send_some(turned_away);
                close_connection(turned_away);
                continue;
            }
            close_connection(*oldest);
            server.connections.erase(oldest);
        }
        http_connection connection{static_cast<std::intptr_t>(accepted)};
        connection.deadline = clock_type::now() + head_time_limit;
        server.connections.push_back(std::move(connection));
    }
}

short wanted_events(connection_stage stage)
{
    switch (stage) {
    case connection_stage::head:
    case connection_stage::body:
    case connection_stage::draining:
        return POLLIN;
    case connection_stage::sending:
        return POLLOUT;
    case connection_stage::ready:
    case connection_stage::handed:
        break;
    }
    return 0;
}

std::optional<pending_request> hand_out(http_server& server)
{
    for (std::size_t i = 0; i < server.connections.size(); ++i) {
        http_connection& connection = server.connections[i];
        if (connection.stage == connection_stage::ready) {
            connection.stage = connection_stage::handed;
            return pending_request{i, std::move(connection.request)};
        }
    }
    return std::nullopt;
}

} // namespace

std::string header_value(const http_request& request, std::string_view name)
{
    for (const auto& [key, value] : request.headers)
        if (key == name)
            return value;
    return {};
}

std::string query_value(const http_request& request, std::string_view name)
{
    for (const auto& [key, value] : request.query)
        if (key == name)
            return value;
    return {};
}

std::optional<std::size_t> query_index(const http_request& request, std::string_view name, std::size_t limit)
{
    const std::string text = query_value(request, name);
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value >= limit)
        return std::nullopt;
    return value;
}

std::span<const std::uint8_t> body_bytes(const http_request& request)
{
    return {reinterpret_cast<const std::uint8_t*>(request.body.data()), request.body.size()};
}

http_response text_response(int status, std::string text)
{
    http_response response;
    response.status = status;
    response.body = std::move(text);
    return response;
}

parse_outcome parse_head(std::string_view received, http_request& request, std::size_t& head_size,
                         http_response& refusal)
{
    const std::size_t head_end = received.find("\r\n\r\n");
    const std::string_view head = received.substr(0, std::min({head_end, received.size(), max_header_bytes}));
    // The blank line's CR LF CR LF too, so a CR just before it is seen standing alone.
    if (bare_line_end(received.substr(0, std::min(head_end, max_header_bytes) + 4)) !=
        std::string_view::npos) {
        refusal = text_response(400, "every line of a request must end in CR LF\n");
        return parse_outcome::refused;
    }
    if (head_end == std::string_view::npos || head_end + 4 > max_header_bytes) {
        if (received.size() < max_header_bytes)
            return parse_outcome::incomplete;
        refusal = text_response(431, "the request's headers are too long\n");
        return parse_outcome::refused;
    }
    request = {};
    refusal = text_response(400, "malformed request\n");
    if (!parse_lines(head, request))
        return parse_outcome::refused;
    for (const char* framing : {"host", "content-length", "transfer-encoding"})
        if (header_count(request, framing) > 1) {
            refusal = text_response(400, "more than one " + std::string(framing) + " header\n");
            return parse_outcome::refused;
        }
    if (header_count(request, "transfer-encoding") != 0) {
        // No chunked bodies: their length is not known up front.
        refusal = text_response(411, "a body needs one plain Content-Length\n");
        return parse_outcome::refused;
    }
    const std::string length = header_value(request, "content-length");
    const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), request.length);
    if (header_count(request, "content-length") != 0 &&
        (length.empty() || error != std::errc{} || end != length.data() + length.size()))
        return parse_outcome::refused;
    head_size = head_end + 4;
    return parse_outcome::complete;
}

parse_outcome parse_request(std::string_view received, std::size_t max_body, http_request& request,
                            http_response& refusal)
{
    std::size_t head_size = 0;
    if (const parse_outcome head = parse_head(received, request, head_size, refusal);
        head != parse_outcome::complete)
        return head;
    if (request.length > max_body) {
        refusal = text_response(413, "too large: at most " + std::to_string(max_body >> 20) + " MiB\n");
        return parse_outcome::refused;
    }
    if (received.size() - head_size < request.length)
        return parse_outcome::incomplete;
    request.body = std::string(received.substr(head_size, request.length));
    return parse_outcome::complete;
}

std::string response_bytes(const http_response& response)
{
    std::string bytes =
        "HTTP/1.1 " + std::to_string(response.status) + " " + reason(response.status) + "\r\n";
    bytes += "Content-Type: " + response.type + "\r\n";
    bytes += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    bytes +=
        "Connection: close\r\nCache-Control: " + response.cache + "\r\nX-Content-Type-Options: nosniff\r\n";
    for (const auto& [name, value] : response.headers)
        bytes += name + ": " + value + "\r\n";
    bytes += "\r\n";
    if (!response.head_only)
        bytes += response.body;
    return bytes;
}

bool open_server(http_server& server, int port, std::string& error)
{
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        error = "cannot start Windows sockets";
        return false;
    }
    const native_socket listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const bool made = listener != INVALID_SOCKET;
    // Without this another program could take the same port from under the studio.
    const BOOL exclusive = TRUE;
    if (made)
        ::setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                     sizeof exclusive);
#else
    const native_socket listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool made = listener >= 0;
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof address;
    if (!made || ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 128) != 0 || !make_non_blocking(listener) ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = port == 0 ? "cannot listen on 127.0.0.1"
                          : "cannot listen on 127.0.0.1:" + std::to_string(port) + " (is it in use?)";
        if (made)
            close_socket(listener);
        return false;
    }
    server.listener = static_cast<std::intptr_t>(listener);
    server.port = ntohs(address.sin_port);
    return true;
}

void close_server(http_server& server)
{
    for (http_connection& connection : server.connections)
        close_connection(connection);
    server.connections.clear();
    if (server.listener != -1)
        close_socket(native(server.listener));
    server.listener = -1;
}

std::optional<pending_request> next_request(http_server& server, std::chrono::milliseconds wait,
                                            const head_judge& judge)
{
    const auto now = clock_type::now();
    for (http_connection& connection : server.connections)
        if (connection.stage != connection_stage::ready && connection.stage != connection_stage::handed &&
            now > connection.deadline)
            close_connection(connection);
    std::erase_if(server.connections, [](const http_connection& c) { return c.socket == -1; });
    if (std::optional<pending_request> ready = hand_out(server))
        return ready;

    // Only connections with something to wait for are polled; `polled` says which each is.
    std::vector<pollfd> sockets{{native(server.listener), POLLIN, 0}};
    std::vector<std::size_t> polled{0};
    for (std::size_t i = 0; i < server.connections.size(); ++i)
        if (const short events = wanted_events(server.connections[i].stage); events != 0) {
            sockets.push_back({native(server.connections[i].socket), events, 0});
            polled.push_back(i);
        }
    if (poll_sockets(sockets.data(), sockets.size(), static_cast<int>(wait.count())) <= 0)
        return std::nullopt;
    for (std::size_t i = 1; i < sockets.size(); ++i) {
        http_connection& connection = server.connections[polled[i]];
        if ((sockets[i].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) == 0)
            continue;
        switch (connection.stage) {
        case connection_stage::head:
        case connection_stage::body:
            read_some(connection, judge);
            break;
        case connection_stage::sending:
            send_some(connection);
            break;
        case connection_stage::draining:
            drain_some(connection);
            break;
        case connection_stage::ready:
        case connection_stage::handed:
            break;
        }
        if (connection.stage == connection_stage::sending && connection.socket != -1)
            send_some(connection); // a refusal goes out at once when the socket takes it
    }
    // Closed connections stay in place until the next call, so the indexes handed out hold.
    if ((sockets[0].revents & POLLIN) != 0)
        accept_connections(server);
    return hand_out(server);
}

void send_response(http_server& server, std::size_t connection, const http_response& response)
{
    http_connection& answered = server.connections[connection];
    queue_response(answered, response, false);
    send_some(answered);
}
