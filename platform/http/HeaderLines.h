#pragma once
// Parsing of the response header lines that libcurl hands over one by one, and of the
// Range value the stream was asked for. Everything read from the network is range-checked.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::http {

// The status code of a status line ("HTTP/1.1 200 OK", "HTTP/2 404", Shoutcast's
// "ICY 200 OK"); nullopt when the line is not a status line.
std::optional<int> parseStatusLine(std::string_view line);

// Splits "Name: value" into the canonical name and the trimmed value. False for the blank
// line that ends the block and for anything without a colon.
bool parseHeaderField(std::string_view line, std::string& name, std::string& value);

// "content-length" and "CONTENT-LENGTH" both become "Content-Length", so that callers can
// look a field up by its usual spelling whatever the server sent.
std::string canonicalHeaderName(std::string_view name);

// The first byte position of "bytes=N-" or "bytes=N-M"; nullopt for any other form or a
// number that does not fit.
std::optional<uint64_t> rangeStart(std::string_view rangeHeader);

// The first byte position of a Content-Range value "bytes A-B/C" (or "bytes A-B/*"); nullopt for
// any other form.
std::optional<uint64_t> contentRangeStart(std::string_view value);

// The length a Content-Length value gives: a leading decimal number (after blanks and an
// optional '+'); nullopt for no number, a negative one or one that does not fit.
std::optional<uint64_t> contentLength(std::string_view value);

}  // namespace platform::http
