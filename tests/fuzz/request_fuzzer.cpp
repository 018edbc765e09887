// libFuzzer target: any bytes through the studio's request parser, whole and cut short. What a
// part of the bytes settles, the whole must settle alike: a refusal stays a refusal, and a
// request complete early is the same request with more bytes behind it.
#include <cstdlib>

#include "view/studio/http.h"

namespace {

constexpr std::size_t max_body = 4096;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    http_request whole;
    http_response whole_refusal;
    const parse_outcome outcome = parse_request(bytes, max_body, whole, whole_refusal);
    if (outcome == parse_outcome::complete &&
        (whole.body.size() != whole.length || whole.length > max_body || !whole.path.starts_with('/')))
        std::abort();
    if (outcome == parse_outcome::refused && (whole_refusal.status < 400 || whole_refusal.status > 431))
        std::abort();

    http_request part;
    http_response part_refusal;
    switch (parse_request(bytes.substr(0, size / 2), max_body, part, part_refusal)) {
    case parse_outcome::refused:
        if (outcome != parse_outcome::refused || part_refusal.status != whole_refusal.status)
            std::abort();
        break;
    case parse_outcome::complete:
        if (outcome != parse_outcome::complete || part.body != whole.body || part.path != whole.path ||
            part.headers != whole.headers)
            std::abort();
        break;
    case parse_outcome::incomplete:
        break;
    }
    return 0;
}
