// A small HTTP/1.1 server for the studio: loopback only, one request per connection, every size
// bounded, one thread. Requests come out one at a time, so the studio applies changes in turn.
// Each request's head is judged before any of its body is read, and no socket is ever waited on:
// reads and writes happen only when poll says they can, so one slow client stalls no other.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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
    std::size_t length = 0;                                   // the declared Content-Length
    std::string body;                                         // exactly `length` bytes, once read
};

struct http_response {
    int status = 200;
    std::string type = "text/plain; charset=utf-8";
    std::string cache = "no-store";                           // Cache-Control
    std::vector<std::pair<std::string, std::string>> headers; // besides the type and length
    std::string body;
    bool head_only = false; // the answer to a HEAD: the headers a GET would have, no body
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

inline constexpr std::size_t max_header_bytes = 16 * 1024;

// Parses the request line and headers among the bytes received so far: complete once the blank
// line has come, with `head_size` where the body starts. Refused, with `refusal` saying why, as
// soon as the bytes show a fault: a head over max_header_bytes, a line not ended by CR LF, a
// repeated Host, Content-Length or Transfer-Encoding, a body of unknown length.
parse_outcome parse_head(std::string_view received, http_request& request, std::size_t& head_size,
                         http_response& refusal);

// Parses a whole request: its head, then a body of at most `max_body` bytes.
parse_outcome parse_request(std::string_view received, std::size_t max_body, http_request& request,
                            http_response& refusal);

// The bytes of a whole response, ready to send.
std::string response_bytes(const http_response& response);

// What the server is told of a request whose head has come: a refusal, sent before any body is
// read, or the largest body its route takes.
struct head_verdict {
    std::optional<http_response> refusal;
    std::size_t max_body = 0;
};

// The judge of heads: a pure function of the head, given by the server's user.
using head_judge = std::function<head_verdict(const http_request& head)>;

enum class connection_stage : std::uint8_t {
    head,     // reading the request line and headers
    body,     // admitted: reading the body
    ready,    // a whole request, not yet handed out
    handed,   // handed out by next_request, awaiting send_response
    sending,  // writing the response as the client takes it
    draining, // refused early: write side shut, reading what the client still sends, then closed
};

struct http_connection {
    std::intptr_t socket = -1;
    connection_stage stage = connection_stage::head;
    std::chrono::steady_clock::time_point deadline; // of the current stage
    std::string received;
    std::size_t head_size = 0; // once the head is parsed
    http_request request;      // once the head is parsed
    std::string output;        // the response, from `sent` on still to send
    std::size_t sent = 0;
    std::size_t drained = 0;  // bytes read and dropped while draining
    bool drain_after = false; // refused before the whole request was read
};

struct http_server {
    std::intptr_t listener = -1;
    int port = 0;
    std::vector<http_connection> connections;
};

// Listens on 127.0.0.1 at `port` (0: any free port, read back into server.port). False, with
// `error` saying why, when it cannot.
bool open_server(http_server& server, int port, std::string& error);

// Closes the listener and every connection.
void close_server(http_server& server);

struct pending_request {
    std::size_t connection = 0; // to answer with send_response
    http_request request;
};

// Accepts, reads and writes for up to `wait`, and gives the next complete request, if any came.
// Each head goes to `judge` before its body is read; refused requests are answered here, and
// connections past their stage's deadline are closed.
std::optional<pending_request> next_request(http_server& server, std::chrono::milliseconds wait,
                                            const head_judge& judge);

// Queues the response to a request from next_request; it is sent as the client takes it, and
// the connection then closed.
void send_response(http_server& server, std::size_t connection, const http_response& response);
