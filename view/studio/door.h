// What keeps the studio to its own user: the token, the Host and Origin checks, and paths that
// cannot leave the project folder.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "view/studio/http.h"

// Uploads larger than this are refused before their body is read.
inline constexpr std::size_t max_upload_bytes = std::size_t{16} << 20;

struct studio_door {
    std::string token; // 32 hex digits, made at start
    int port = 0;
    std::filesystem::path opener; // the private page that hands the browser the token, until used
};

// 128 random bits from std::random_device, as hex.
std::string make_token();

// The page's address with the token after '#', which no browser sends to any server.
std::string tokened_address(const studio_door& door);

// The verdict on a request's head, before any body is read. Only GET, HEAD and POST are taken
// (405); every request must name this server as its Host (403). The page's own files (/,
// /studio.js, /studio.css) hold nothing secret and pass; everything else must carry the token
// in an X-Studio-Token header (403), and a POST must also come from this origin (403). Uploads
// may bring up to max_upload_bytes, other requests no body.
head_verdict judge_head(const http_request& head, const studio_door& door);

// Whether the request carries the token.
bool carries_token(const http_request& request, const studio_door& door);

// Writes the private page that sends the browser on to tokened_address: a file only this user
// may read, in a folder of its own under the temporary folder. False, with `error`, when it
// cannot.
bool write_opener(studio_door& door, std::string& error);

// Removes the private page and its folder, once the browser has come or the studio ends.
void remove_opener(studio_door& door);

// `relative` (a path from skin.toml or of an upload) under `root`, when it stays inside `root`
// with every link followed: no absolute path, no "..", no link that leads out.
std::optional<std::filesystem::path> path_inside(const std::filesystem::path& root,
                                                 std::string_view relative);
