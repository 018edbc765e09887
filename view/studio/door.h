// What keeps the studio to its own user: the token, the Host and Origin checks, and paths that
// cannot leave the project folder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "view/studio/http.h"

struct studio_door {
    std::string token; // 32 hex digits, made at start
    int port = 0;
};

// 128 random bits from std::random_device, as hex.
std::string make_token();

// The cookie that carries the token, named by port so that two studios keep apart.
std::string token_cookie(const studio_door& door);

// Empty when the request may pass; otherwise why it is refused (403). Every request must name
// this server as its Host and carry the token (query, cookie or X-Studio-Token header); a
// changing one (anything but GET and HEAD) must also come from this origin.
std::string door_refusal(const http_request& request, const studio_door& door);

// `relative` (a path from skin.toml or of an upload) under `root`, when it stays inside `root`
// with every link followed: no absolute path, no "..", no link that leads out.
std::optional<std::filesystem::path> path_inside(const std::filesystem::path& root,
                                                 std::string_view relative);

// A file name safe to create from a name a browser sent: its last component, letters, digits,
// '.', '-' and '_' only, no leading dot, at most 64 characters; "upload" when nothing is left.
std::string safe_file_name(std::string_view sent);
