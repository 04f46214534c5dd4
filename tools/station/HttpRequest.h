#pragma once
// The head of an HTTP/1.x request as the station reads it: request line and header fields.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace station {

// Heads longer than this are refused; real clients send a few hundred bytes.
inline constexpr size_t kMaxRequestHead = 8192;

struct HttpRequest {
    std::string method;
    std::string target;   // as sent
    std::string path;     // the target without query, and without scheme and host if absolute
    std::string version;  // "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> headers;

    // The first field of that name (names compare without regard to case).
    std::optional<std::string_view> header(std::string_view name) const;
};

// Length of the head in `buffer`, up to and including the blank line (CRLF CRLF, or bare LF
// LF from lax clients); nothing while the blank line has not arrived.
std::optional<size_t> findRequestHeadEnd(std::string_view buffer);

// Parses a complete head; nothing when it is not a well-formed HTTP/1.x request.
std::optional<HttpRequest> parseRequestHead(std::string_view head);

}  // namespace station
