#include "platform/PercentEscape.h"

#include <cctype>
#include <cstring>

namespace platform {

namespace {

bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool mustEscape(unsigned char c) {
    if (c <= 0x20 || c >= 0x7F) return true;  // controls, space and every non-ASCII byte
    return std::strchr("\"<>\\^`{|}[]", c) != nullptr;
}

}  // namespace

std::string addPercentEscapes(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool validEscape =
            c == '%' && i + 2 < text.size() && isHexDigit(text[i + 1]) && isHexDigit(text[i + 2]);
        if ((c == '%' && !validEscape) || mustEscape(c)) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

}  // namespace platform
