#include "tools/station/HttpRequest.h"

#include <algorithm>
#include <cctype>

namespace station {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool isToken(std::string_view s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

// The path part of an origin-form or absolute-form target.
std::optional<std::string> pathOf(std::string_view target) {
    if (target.starts_with("http://") || target.starts_with("https://")) {
        const size_t authority = target.find("//") + 2;
        const size_t slash = target.find('/', authority);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    if (!target.starts_with('/')) return std::nullopt;
    return std::string(target.substr(0, target.find_first_of("?#")));
}

}  // namespace

std::optional<std::string_view> HttpRequest::header(std::string_view name) const {
    for (const auto& [field, value] : headers) {
        if (equalsIgnoringCase(field, name)) return std::string_view(value);
    }
    return std::nullopt;
}

std::optional<size_t> findRequestHeadEnd(std::string_view buffer) {
    const size_t crlf = buffer.find("\r\n\r\n");
    const size_t lf = buffer.find("\n\n");
    if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::nullopt;
    if (lf == std::string_view::npos || (crlf != std::string_view::npos && crlf < lf))
        return crlf + 4;
    return lf + 2;
}

std::optional<HttpRequest> parseRequestHead(std::string_view head) {
    std::vector<std::string_view> lines;
    while (!head.empty()) {
        const size_t nl = head.find('\n');
        std::string_view line = head.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        head.remove_prefix(nl + 1);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) return std::nullopt;

    // Request line: exactly three parts separated by single spaces.
    HttpRequest request;
    std::string_view line = lines.front();
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
        return std::nullopt;
    request.method = line.substr(0, sp1);
    request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    request.version = line.substr(sp2 + 1);
    if (!isToken(request.method) || request.target.empty()) return std::nullopt;
    if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") return std::nullopt;
    if (request.target.find_first_of(" \t\r") != std::string::npos) return std::nullopt;
    auto path = pathOf(request.target);
    if (!path) return std::nullopt;
    request.path = std::move(*path);

    for (size_t i = 1; i < lines.size(); ++i) {
        const size_t colon = lines[i].find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        std::string_view name = lines[i].substr(0, colon);
        if (!isToken(name)) return std::nullopt;  // also refuses obsolete line folding
        request.headers.emplace_back(std::string(name),
                                     std::string(trim(lines[i].substr(colon + 1))));
    }
    return request;
}

}  // namespace station
