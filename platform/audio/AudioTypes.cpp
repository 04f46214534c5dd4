#include "platform/audio/AudioTypes.h"

#include <cctype>

namespace audio {

std::string fourCCText(uint32_t code) {
    std::string text = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((code >> shift) & 0xFF);
        text.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : '?');
    }
    text.push_back('\'');
    return text;
}

}  // namespace audio
