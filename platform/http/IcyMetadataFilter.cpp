#include "platform/http/IcyMetadataFilter.h"

#include <algorithm>
#include <charconv>

namespace platform::http {

namespace {

bool isKeyCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

// Whether `text` at `at` starts a field: a key, then "='".
bool startsField(std::string_view text, size_t at) {
    size_t i = at;
    while (i < text.size() && isKeyCharacter(text[i])) ++i;
    return i > at && i + 1 < text.size() && text[i] == '=' && text[i + 1] == '\'';
}

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        if (lead < 0x80) {
            extra = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= text.size() && extra > 0) return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

}  // namespace

std::optional<size_t> IcyMetadataFilter::parseInterval(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    size_t interval = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), interval);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    if (interval == 0 || interval > kMaxInterval) return std::nullopt;
    return interval;
}

IcyMetadataFilter::IcyMetadataFilter(size_t interval) : interval_(interval), audioLeft_(interval) {
    block_.reserve(kMaxBlockBytes);
}

bool IcyMetadataFilter::take(const uint8_t* data, size_t length, std::string& audio) {
    if (failed_) return false;
    size_t at = 0;
    while (at < length) {
        if (passThrough_) {
            audio.append(reinterpret_cast<const char*>(data + at), length - at);
            return true;
        }
        switch (phase_) {
            case Phase::Audio: {
                const size_t run = std::min(audioLeft_, length - at);
                audio.append(reinterpret_cast<const char*>(data + at), run);
                at += run;
                audioLeft_ -= run;
                if (audioLeft_ == 0) phase_ = Phase::Length;
                break;
            }
            case Phase::Length:
                lengthByte_ = data[at++];
                blockLength_ = size_t(lengthByte_) * 16;
                block_.clear();
                if (blockLength_ == 0) {
                    audioLeft_ = interval_;
                    phase_ = Phase::Audio;
                } else {
                    phase_ = Phase::Block;
                }
                break;
            case Phase::Block: {
                const size_t run = std::min(blockLength_ - block_.size(), length - at);
                block_.append(reinterpret_cast<const char*>(data + at), run);
                at += run;
                if (block_.size() == blockLength_) {
                    finishBlock(audio);
                    if (failed_) return false;
                }
                break;
            }
        }
    }
    return true;
}

void IcyMetadataFilter::finishBlock(std::string& audio) {
    const auto fields = parseIcyMetadataBlock(block_);
    if (fields) {
        confirmed_ = confirmed_ || block_.find_first_not_of('\0') != std::string::npos;
        for (const IcyField& field : *fields) {
            if (field.key == "StreamTitle") titles_.push_back(icyTextToUtf8(field.value));
        }
        audioLeft_ = interval_;
        phase_ = Phase::Audio;
    } else if (!confirmed_) {
        // No blocks after all: what was withheld was audio.
        audio.push_back(static_cast<char>(lengthByte_));
        audio.append(block_);
        passThrough_ = true;
    } else {
        failed_ = true;
    }
    block_.clear();
}

std::vector<std::string> IcyMetadataFilter::takeTitles() {
    std::vector<std::string> titles;
    titles.swap(titles_);
    return titles;
}

std::optional<std::vector<IcyField>> parseIcyMetadataBlock(std::string_view block) {
    // The text, then NUL padding and nothing else.
    const size_t end = block.find('\0');
    std::string_view text = block.substr(0, end);
    if (end != std::string_view::npos &&
        block.find_first_not_of('\0', end) != std::string_view::npos)
        return std::nullopt;
    // Some servers end the text with a line break.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.remove_suffix(1);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return std::nullopt;
    }
    std::vector<IcyField> fields;
    size_t at = 0;
    while (at < text.size()) {
        if (!startsField(text, at)) return std::nullopt;
        const size_t equals = text.find('=', at);
        IcyField field{std::string(text.substr(at, equals - at)), {}};
        const size_t valueStart = equals + 2;
        // The value ends at the first "';" followed by the end or by another field; a last
        // field may also end with a bare "'".
        size_t close = valueStart;
        size_t next = std::string_view::npos;
        for (;;) {
            close = text.find('\'', close);
            if (close == std::string_view::npos) return std::nullopt;
            const size_t after = close + 1;
            if (after == text.size()) {
                next = text.size();
                break;
            }
            if (text[after] == ';' && (after + 1 == text.size() || startsField(text, after + 1))) {
                next = after + 1;
                break;
            }
            ++close;
        }
        field.value = std::string(text.substr(valueStart, close - valueStart));
        fields.push_back(std::move(field));
        at = next;
    }
    return fields;
}

std::string icyTextToUtf8(std::string_view text) {
    if (isValidUtf8(text)) return std::string(text);
    std::string utf8;
    utf8.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8.push_back(c);
        } else {
            utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return utf8;
}

}  // namespace platform::http
