#include "platform/URLPath.h"

namespace platform {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string withoutQueryAndFragment(const std::string& text) {
    return text.substr(0, text.find_first_of("?#"));
}

std::string percentDecoded(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out.push_back(char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// After the last slash, once trailing slashes are gone (a lone "/" stays).
std::string lastComponent(std::string path, size_t keep) {
    while (path.size() > keep && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string pathExtensionOfURL(const std::string& url) {
    size_t pathStart = 0;
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        pathStart = url.find('/', scheme + 3);
        if (pathStart == std::string::npos) return {};
    }
    const std::string path = percentDecoded(withoutQueryAndFragment(url.substr(pathStart)));
    const std::string component = lastComponent(path, 1);
    const size_t dot = component.rfind('.');
    if (dot == std::string::npos) return {};
    return component.substr(dot + 1);
}

std::string lastPathComponentOfURL(const std::string& url) {
    return lastComponent(withoutQueryAndFragment(url), 0);
}

}  // namespace platform
