#include "platform/http/HeaderLines.h"

#include <cctype>
#include <charconv>

namespace platform::http {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of digits at the start of `text`; nullopt when there is none or it overflows.
std::optional<uint64_t> leadingNumber(std::string_view& text) {
    if (text.empty() || !isDigit(text.front())) return std::nullopt;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return value;
}

}  // namespace

std::optional<int> parseStatusLine(std::string_view line) {
    line = trim(line);
    if (line.rfind("HTTP/", 0) == 0) {
        const size_t space = line.find(' ');
        if (space == std::string_view::npos) return std::nullopt;
        line.remove_prefix(space + 1);
    } else if (line.rfind("ICY ", 0) == 0) {
        line.remove_prefix(4);
    } else {
        return std::nullopt;
    }
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2]) ||
        (line.size() > 3 && line[3] != ' ')) {
        return std::nullopt;
    }
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

bool parseHeaderField(std::string_view line, std::string& name, std::string& value) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view rawName = trim(line.substr(0, colon));
    if (rawName.empty()) return false;
    name = canonicalHeaderName(rawName);
    value = std::string(trim(line.substr(colon + 1)));
    return true;
}

std::string canonicalHeaderName(std::string_view name) {
    std::string result(name);
    bool startOfWord = true;
    for (char& c : result) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(startOfWord ? std::toupper(u) : std::tolower(u));
        startOfWord = c == '-';
    }
    return result;
}

std::optional<uint64_t> rangeStart(std::string_view rangeHeader) {
    std::string_view text = trim(rangeHeader);
    if (text.rfind("bytes=", 0) != 0) return std::nullopt;
    text.remove_prefix(6);
    text = trim(text);
    const std::optional<uint64_t> first = leadingNumber(text);
    if (!first || text.empty() || text.front() != '-') return std::nullopt;
    text.remove_prefix(1);
    if (!text.empty()) {
        const std::optional<uint64_t> last = leadingNumber(text);
        if (!last || !trim(text).empty() || *last < *first) return std::nullopt;
    }
    return first;
}

std::optional<uint64_t> contentRangeStart(std::string_view value) {
    std::string_view text = trim(value);
    if (text.rfind("bytes", 0) != 0) return std::nullopt;
    text.remove_prefix(5);
    text = trim(text);
    const std::optional<uint64_t> first = leadingNumber(text);
    if (!first || text.empty() || text.front() != '-') return std::nullopt;
    text.remove_prefix(1);
    const std::optional<uint64_t> last = leadingNumber(text);
    if (!last || *last < *first || text.empty() || text.front() != '/') return std::nullopt;
    return first;
}

std::optional<uint64_t> contentLength(std::string_view value) {
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front()))) {
        value.remove_prefix(1);
    }
    if (!value.empty() && value.front() == '+') value.remove_prefix(1);
    return leadingNumber(value);
}

}  // namespace platform::http
