#include "tools/station/ByteRange.h"

#include <cctype>
#include <limits>

namespace station {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Decimal digits only. A value too large for 64 bits saturates: as a position it lies past
// any resource, which is what the client meant.
std::optional<uint64_t> parseNumber(std::string_view s) {
    if (s.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
            value = std::numeric_limits<uint64_t>::max();
        } else {
            value = value * 10 + digit;
        }
    }
    return value;
}

bool startsWithBytesUnit(std::string_view s) {
    if (s.size() < 6) return false;
    const char* unit = "bytes=";
    for (size_t i = 0; i < 6; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[i])) != unit[i]) return false;
    }
    return true;
}

}  // namespace

ByteRange resolveByteRange(std::optional<std::string_view> header, uint64_t length) {
    const ByteRange whole;
    if (!header) return whole;
    std::string_view spec = trim(*header);
    if (!startsWithBytesUnit(spec)) return whole;
    spec = trim(spec.substr(6));
    if (spec.find(',') != std::string_view::npos) return whole;
    const size_t dash = spec.find('-');
    if (dash == std::string_view::npos) return whole;
    const std::string_view firstText = trim(spec.substr(0, dash));
    const std::string_view lastText = trim(spec.substr(dash + 1));

    ByteRange range{ByteRange::Kind::Partial, 0, 0};
    if (firstText.empty()) {
        // Suffix form "-N": the last N bytes.
        auto suffix = parseNumber(lastText);
        if (!suffix) return whole;
        if (*suffix == 0 || length == 0) return {ByteRange::Kind::Unsatisfiable, 0, 0};
        range.first = *suffix >= length ? 0 : length - *suffix;
        range.last = length - 1;
        return range;
    }
    auto first = parseNumber(firstText);
    if (!first) return whole;
    std::optional<uint64_t> last;
    if (!lastText.empty()) {
        last = parseNumber(lastText);
        if (!last || *last < *first) return whole;
    }
    if (*first >= length) return {ByteRange::Kind::Unsatisfiable, 0, 0};
    range.first = *first;
    range.last = last && *last < length ? *last : length - 1;
    return range;
}

}  // namespace station
