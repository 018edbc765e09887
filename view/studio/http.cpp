// The studio's HTTP server: BSD sockets on Linux, Winsock on Windows, polled from one thread.
#include "view/studio/http.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using native_socket = SOCKET;
constexpr int send_flags = 0;
int poll_sockets(pollfd* sockets, std::size_t count, int milliseconds)
{
    return WSAPoll(sockets, static_cast<ULONG>(count), milliseconds);
}
void close_socket(native_socket handle)
{
    closesocket(handle);
}
#else
using native_socket = int;
constexpr int send_flags = MSG_NOSIGNAL; // a peer that went away is an error, not a signal
int poll_sockets(pollfd* sockets, std::size_t count, int milliseconds)
{
    return ::poll(sockets, count, milliseconds);
}
void close_socket(native_socket handle)
{
    ::close(handle);
}
#endif

native_socket native(std::intptr_t handle)
{
    return static_cast<native_socket>(handle);
}

// Enough for the studio's page and a few tabs; more are turned away until some close.
constexpr std::size_t max_connections = 16;
// A connection that has not sent a whole request by then is closed.
constexpr auto request_time_limit = std::chrono::seconds(15);
constexpr std::size_t max_headers = 64;
constexpr int send_time_limit_ms = 5000;

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
bool parse_head(std::string_view head, http_request& request)
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
        if (colon == std::string_view::npos || colon == 0 || request.headers.size() == max_headers)
            return false;
        request.headers.emplace_back(lower_case(header.substr(0, colon)),
                                     std::string(trimmed(header.substr(colon + 1))));
    }
    return true;
}

// The declared body length: 0 without Content-Length; nullopt when unusable.
std::optional<std::size_t> body_length(const http_request& request)
{
    std::optional<std::size_t> length;
    for (const auto& [name, value] : request.headers) {
        if (name == "transfer-encoding")
            return std::nullopt; // no chunked bodies: their length is not known up front
        if (name != "content-length")
            continue;
        std::size_t parsed = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
        if (error != std::errc{} || end != value.data() + value.size() || value.empty() ||
            (length && *length != parsed))
            return std::nullopt;
        length = parsed;
    }
    return length.value_or(0);
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

void send_all(std::intptr_t socket, std::string_view bytes)
{
    while (!bytes.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
        const auto sent = ::send(native(socket), bytes.data(), chunk, send_flags);
        if (sent <= 0)
            return; // the peer went away or stalled past the send time limit
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void answer_and_close(http_connection& connection, const http_response& response)
{
    send_all(connection.socket, response_bytes(response));
    close_socket(native(connection.socket));
    connection.socket = -1;
}

void accept_connection(http_server& server)
{
    const native_socket accepted = ::accept(native(server.listener), nullptr, nullptr);
#ifdef _WIN32
    if (accepted == INVALID_SOCKET)
        return;
    const DWORD limit = send_time_limit_ms;
#else
    if (accepted < 0)
        return;
    const timeval limit{send_time_limit_ms / 1000, 0};
#endif
    ::setsockopt(accepted, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    http_connection connection{static_cast<std::intptr_t>(accepted), {}, std::chrono::steady_clock::now()};
    if (server.connections.size() >= max_connections) {
        answer_and_close(connection, text_response(503, "too many connections at once\n"));
        return;
    }
    server.connections.push_back(std::move(connection));
}

// Reads what has arrived; gives a request once it is whole.
std::optional<http_request> read_from(http_server& server, http_connection& connection)
{
    char buffer[16384];
    const std::size_t room = max_header_bytes + server.max_body - connection.received.size() + 1;
    const auto got =
        ::recv(native(connection.socket), buffer, static_cast<int>(std::min(sizeof buffer, room)), 0);
    if (got <= 0) {
        close_socket(native(connection.socket));
        connection.socket = -1;
        return std::nullopt;
    }
    connection.received.append(buffer, static_cast<std::size_t>(got));
    http_request request;
    http_response refusal;
    switch (parse_request(connection.received, server.max_body, request, refusal)) {
    case parse_outcome::incomplete:
        return std::nullopt;
    case parse_outcome::refused:
        answer_and_close(connection, refusal);
        return std::nullopt;
    case parse_outcome::complete:
        break;
    }
    connection.answered = true;
    connection.received.clear();
    return request;
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

parse_outcome parse_request(std::string_view received, std::size_t max_body, http_request& request,
                            http_response& refusal)
{
    const std::size_t head_end = received.find("\r\n\r\n");
    if (head_end == std::string_view::npos || head_end + 4 > max_header_bytes) {
        if (received.size() < max_header_bytes)
            return parse_outcome::incomplete;
        refusal = text_response(431, "the request's headers are too long\n");
        return parse_outcome::refused;
    }
    request = {};
    if (!parse_head(received.substr(0, head_end), request)) {
        refusal = text_response(400, "malformed request\n");
        return parse_outcome::refused;
    }
    const std::optional<std::size_t> length = body_length(request);
    if (!length) {
        refusal = text_response(411, "a body needs one plain Content-Length\n");
        return parse_outcome::refused;
    }
    if (*length > max_body) {
        refusal = text_response(413, "too large: at most " + std::to_string(max_body >> 20) + " MiB\n");
        return parse_outcome::refused;
    }
    const std::size_t body_start = head_end + 4;
    if (received.size() - body_start < *length)
        return parse_outcome::incomplete;
    request.body = std::string(received.substr(body_start, *length));
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
    bytes += response.body;
    return bytes;
}

bool open_server(http_server& server, int port, std::size_t max_body, std::string& error)
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
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = port == 0 ? "cannot listen on 127.0.0.1"
                          : "cannot listen on 127.0.0.1:" + std::to_string(port) + " (is it in use?)";
        if (made)
            close_socket(listener);
        return false;
    }
    server.listener = static_cast<std::intptr_t>(listener);
    server.port = ntohs(address.sin_port);
    server.max_body = max_body;
    return true;
}

void close_server(http_server& server)
{
    for (http_connection& connection : server.connections)
        if (connection.socket != -1)
            close_socket(native(connection.socket));
    server.connections.clear();
    if (server.listener != -1)
        close_socket(native(server.listener));
    server.listener = -1;
}

std::optional<pending_request> next_request(http_server& server, std::chrono::milliseconds wait)
{
    const auto now = std::chrono::steady_clock::now();
    for (http_connection& connection : server.connections)
        if (connection.socket != -1 && !connection.answered && now - connection.opened > request_time_limit) {
            close_socket(native(connection.socket));
            connection.socket = -1;
        }
    std::erase_if(server.connections, [](const http_connection& c) { return c.socket == -1; });

    std::vector<pollfd> sockets{{native(server.listener), POLLIN, 0}};
    for (const http_connection& connection : server.connections)
        sockets.push_back({native(connection.socket), POLLIN, 0});
    if (poll_sockets(sockets.data(), sockets.size(), static_cast<int>(wait.count())) <= 0)
        return std::nullopt;
    for (std::size_t i = 1; i < sockets.size(); ++i) {
        http_connection& connection = server.connections[i - 1];
        if ((sockets[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0 || connection.answered)
            continue;
        if (std::optional<http_request> request = read_from(server, connection))
            return pending_request{i - 1, std::move(*request)};
    }
    if ((sockets[0].revents & POLLIN) != 0)
        accept_connection(server);
    return std::nullopt;
}

void send_response(http_server& server, std::size_t connection, const http_response& response)
{
    answer_and_close(server.connections[connection], response);
}
