// A small HTTP/1.1 server for the studio: loopback only, one request per connection, every size
// bounded, one thread. Requests come out one at a time, so the studio applies changes in turn.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct http_request {
    std::string method;                                       // "GET", "POST", ...
    std::string path;                                         // percent-decoded, before any '?'
    std::vector<std::pair<std::string, std::string>> query;   // decoded names and values
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;                                         // exactly Content-Length bytes
};

struct http_response {
    int status = 200;
    std::string type = "text/plain; charset=utf-8";
    std::string cache = "no-store";                           // Cache-Control
    std::vector<std::pair<std::string, std::string>> headers; // besides the type and length
    std::string body;
};

// The value of a header (name in lower case), or "" when the request has none.
std::string header_value(const http_request& request, std::string_view name);

// The value of a query parameter, or "" when the request has none.
std::string query_value(const http_request& request, std::string_view name);

// A query parameter as a whole number below `limit`, or nullopt.
std::optional<std::size_t> query_index(const http_request& request, std::string_view name, std::size_t limit);

// The body's bytes, for the decoders.
std::span<const std::uint8_t> body_bytes(const http_request& request);

// A plain-text response.
http_response text_response(int status, std::string text);

enum class parse_outcome : std::uint8_t { incomplete, complete, refused };

// Parses the bytes received so far on a connection. A request line and headers longer than
// max_header_bytes, a body larger than `max_body`, a body of unknown length and a malformed
// request are refused, with `refusal` saying why, before any more is read.
parse_outcome parse_request(std::string_view received, std::size_t max_body, http_request& request,
                            http_response& refusal);

inline constexpr std::size_t max_header_bytes = 16 * 1024;

// The bytes of a whole response, ready to send.
std::string response_bytes(const http_response& response);

struct http_connection {
    std::intptr_t socket = -1;
    std::string received;
    std::chrono::steady_clock::time_point opened;
    bool answered = false; // a complete request was handed out and awaits its response
};

struct http_server {
    std::intptr_t listener = -1;
    int port = 0;
    std::size_t max_body = 0;
    std::vector<http_connection> connections;
};

// Listens on 127.0.0.1 at `port` (0: any free port, read back into server.port). False, with
// `error` saying why, when it cannot.
bool open_server(http_server& server, int port, std::size_t max_body, std::string& error);

// Closes the listener and every connection.
void close_server(http_server& server);

struct pending_request {
    std::size_t connection = 0; // to answer with send_response
    http_request request;
};

// Accepts and reads for up to `wait`, and gives the next complete request, if any came. Refused
// requests are answered here; connections idle for too long are closed.
std::optional<pending_request> next_request(http_server& server, std::chrono::milliseconds wait);

// Sends the response to a request from next_request and closes its connection.
void send_response(http_server& server, std::size_t connection, const http_response& response);
