// The metadata de-interleaver on any bytes: the first two give the interval, the third the
// chunk size, the rest is the stream. It must never crash, never hand out more than it was
// given plus one withheld block, take nothing once failed, and give titles that are UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/http/IcyMetadataFilter.h"

using platform::http::IcyMetadataFilter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t interval = 1 + ((size_t(data[0]) << 8 | data[1]) % 20000);
    const size_t chunk = 1 + data[2] * 16;
    data += 3;
    size -= 3;
    IcyMetadataFilter filter(interval);
    std::string audio;
    size_t given = 0;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t length = std::min(chunk, size - at);
        const size_t before = audio.size();
        const bool intact = filter.take(data + at, length, audio);
        given += length;
        if (audio.size() - before > length + IcyMetadataFilter::kMaxWithheldBytes) std::abort();
        if (audio.size() > given) std::abort();
        if (!intact && !filter.failed()) std::abort();
        if (filter.failed() && audio.size() != before && intact) std::abort();
        for (const std::string& title : filter.takeTitles()) {
            if (platform::http::icyTextToUtf8(title) != title) std::abort();
        }
        if (!intact) break;
    }
    return 0;
}
