#pragma once
// Takes the metadata blocks out of a Shoutcast/Icecast stream that interleaves them
// (`icy-metaint`): after every `metaint` bytes of audio comes one length byte N and N * 16
// bytes of text such as "StreamTitle='Song';StreamUrl='';", padded with NULs. What comes out
// is the audio alone, whatever the chunk boundaries; each block's StreamTitle is kept for the
// caller.
//
// A block must be such text. Until the first non-empty block proves that the server
// interleaves, a block that is not is taken for audio (a server that announces a metaint and
// sends no blocks): the withheld bytes come out as they came in, and the stream passes through
// from then on. Once blocks have been seen, one that is not text means the stream lost its
// place, and the filter fails rather than hand noise on.
//
// Not thread-safe: one stream's transfer, on its thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::http {

class IcyMetadataFilter {
public:
    // The largest block a length byte can announce.
    static constexpr size_t kMaxBlockBytes = 255 * 16;
    // The most that take() can hand out beyond what it was given: a withheld block and its
    // length byte, released as audio.
    static constexpr size_t kMaxWithheldBytes = kMaxBlockBytes + 1;
    // Intervals past this are not a real server's (Icecast uses 16,000; Shoutcast 8,192 to 32,768).
    static constexpr size_t kMaxInterval = 1 << 20;

    // The interval announced in an `icy-metaint` header value; nothing for one that is not a
    // whole number between 1 and kMaxInterval.
    static std::optional<size_t> parseInterval(std::string_view headerValue);

    explicit IcyMetadataFilter(size_t interval);

    // Appends the audio in `data` to `audio`. False once the stream is found malformed; from
    // then on nothing more is taken.
    bool take(const uint8_t* data, size_t length, std::string& audio);

    // The StreamTitle values of the blocks taken since the last call, in order, in UTF-8.
    std::vector<std::string> takeTitles();

    bool failed() const { return failed_; }
    bool passingThrough() const { return passThrough_; }

private:
    enum class Phase { Audio, Length, Block };
    void finishBlock(std::string& audio);

    const size_t interval_;
    Phase phase_ = Phase::Audio;
    size_t audioLeft_;
    size_t blockLength_ = 0;
    uint8_t lengthByte_ = 0;
    std::string block_;
    bool confirmed_ = false;  // a non-empty block of text has been seen
    bool passThrough_ = false;
    bool failed_ = false;
    std::vector<std::string> titles_;
};

// The fields of one block ("Key='value';" repeated, then NUL padding). Nothing when the block
// is not such text. Values are given as sent; a value may contain "'" (as in "Don't").
struct IcyField {
    std::string key;
    std::string value;
};
std::optional<std::vector<IcyField>> parseIcyMetadataBlock(std::string_view block);

// Text that is not valid UTF-8 is taken for Latin-1, as older servers send it.
std::string icyTextToUtf8(std::string_view text);

}  // namespace platform::http
