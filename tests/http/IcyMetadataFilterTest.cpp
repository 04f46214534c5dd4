// Taking interleaved metadata out of a stream: the audio that comes out is exactly the audio
// that went in, wherever the blocks fall relative to the chunks; titles come in order; empty
// and largest blocks; servers that announce an interval and send no blocks; a stream that loses
// its place fails instead of passing noise on; and the block text itself.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/http/IcyMetadataFilter.h"

namespace {

using platform::http::IcyMetadataFilter;
using platform::http::icyTextToUtf8;
using platform::http::parseIcyMetadataBlock;

// A block as a server sends it: the length byte, the text, NULs to a multiple of 16.
std::string block(const std::string& text) {
    const size_t padded = (text.size() + 15) / 16 * 16;
    std::string bytes(1, static_cast<char>(padded / 16));
    bytes += text;
    bytes.append(padded - text.size(), '\0');
    return bytes;
}

std::string audioBytes(size_t count) {
    std::mt19937 random(7);
    std::string audio(count, '\0');
    for (char& c : audio) c = static_cast<char>(random());
    return audio;
}

// The audio with a block after every `interval` bytes: a new title every fourth block, empty
// blocks between.
std::string interleave(const std::string& audio, size_t interval,
                       std::vector<std::string>* titles) {
    std::string stream;
    size_t boundary = 0;
    for (size_t at = 0; at < audio.size(); at += interval, ++boundary) {
        stream += audio.substr(at, interval);
        if (at + interval > audio.size()) break;
        if (boundary % 4 == 0) {
            const std::string title = "Track " + std::to_string(boundary / 4 + 1);
            titles->push_back(title);
            stream += block("StreamTitle='" + title + "';StreamUrl='';");
        } else {
            stream += block("");
        }
    }
    return stream;
}

// Feeds `stream` in chunks of `chunk` bytes.
std::string filterInChunks(IcyMetadataFilter& filter, const std::string& stream, size_t chunk) {
    std::string audio;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        const size_t length = std::min(chunk, stream.size() - at);
        EXPECT_TRUE(
            filter.take(reinterpret_cast<const uint8_t*>(stream.data() + at), length, audio));
    }
    return audio;
}

// Intervals that put a boundary at every place of a 2,048-byte read, read in 2,048-byte chunks
// and in chunks that share no factor with them.
TEST(IcyMetadataFilter, AudioComesOutExactlyWhereverTheBoundariesFall) {
    const std::string audio = audioBytes(200000);
    for (size_t interval : {1, 2, 15, 2047, 2048, 2049, 4096, 8192, 16000}) {
        std::vector<std::string> titles;
        const std::string stream = interleave(audio, interval, &titles);
        for (size_t chunk : {1, 7, 2048, 16384}) {
            if (interval <= 2 && chunk < 2048) continue;  // a few hundred thousand calls: slow
            IcyMetadataFilter filter(interval);
            const std::string out = filterInChunks(filter, stream, chunk);
            ASSERT_EQ(out.size(), audio.size()) << "interval " << interval << " chunk " << chunk;
            EXPECT_TRUE(out == audio) << "interval " << interval << " chunk " << chunk;
            EXPECT_EQ(filter.takeTitles(), titles) << "interval " << interval;
            EXPECT_FALSE(filter.passingThrough());
        }
    }
}

// An empty block, then the largest one a length byte allows (4,080 bytes, the title filling it
// with no padding), then more audio; a title with an apostrophe and one sent in Latin-1.
TEST(IcyMetadataFilter, EmptyAndLargestBlocksAndTitlesAsSent) {
    const std::string audio = audioBytes(400);
    const std::string longTitle(4080 - std::string("StreamTitle='';").size(), 'x');
    std::string stream = audio.substr(0, 100) + block("") + audio.substr(100, 100) +
                         block("StreamTitle='" + longTitle + "';") + audio.substr(200, 100) +
                         block("StreamTitle='Don't Stop';StreamUrl='http://x/';") +
                         audio.substr(300, 100) + block("StreamTitle='Caf\xe9';");
    ASSERT_EQ(static_cast<unsigned char>(stream[200 + 1]), 255);
    IcyMetadataFilter filter(100);
    EXPECT_EQ(filterInChunks(filter, stream, 333), audio);
    EXPECT_EQ(filter.takeTitles(),
              (std::vector<std::string>{longTitle, "Don't Stop", "Caf\xc3\xa9"}));
    EXPECT_TRUE(filter.takeTitles().empty());
}

// A server that announces an interval and sends no blocks: the bytes at the first boundary are
// not text, so they were audio, and everything comes out as it went in.
TEST(IcyMetadataFilter, AnnouncedButNoBlocksPassesEverythingThrough) {
    std::string audio = audioBytes(50000);
    audio[1000] = 3;  // a length byte's worth, then 48 bytes of binary
    IcyMetadataFilter filter(1000);
    EXPECT_EQ(filterInChunks(filter, audio, 2048), audio);
    EXPECT_TRUE(filter.passingThrough());
    EXPECT_TRUE(filter.takeTitles().empty());
}

// Once blocks have been seen, a boundary that holds no block means the stream lost its place:
// the filter fails, and what came before was the audio alone.
TEST(IcyMetadataFilter, LosingItsPlaceFailsRatherThanPassNoise) {
    const std::string audio = audioBytes(3000);
    std::string stream = audio.substr(0, 1000) + block("StreamTitle='One';") +
                         audio.substr(1000, 1000) + std::string(1, '\x05') +
                         std::string(80, '\x01') + audio.substr(2000);
    IcyMetadataFilter filter(1000);
    std::string out;
    EXPECT_FALSE(filter.take(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), out));
    EXPECT_TRUE(filter.failed());
    EXPECT_EQ(out, audio.substr(0, 2000));
    EXPECT_FALSE(filter.take(reinterpret_cast<const uint8_t*>("abc"), 3, out));
    EXPECT_EQ(out.size(), 2000u);
}

TEST(IcyMetadataFilter, BlockText) {
    auto fields =
        parseIcyMetadataBlock(std::string("StreamTitle='A';StreamUrl='u';") + '\0' + '\0');
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->size(), 2u);
    EXPECT_EQ((*fields)[0].key, "StreamTitle");
    EXPECT_EQ((*fields)[0].value, "A");
    EXPECT_EQ((*fields)[1].value, "u");
    // A last field without its ';', a trailing line break, an empty value.
    EXPECT_EQ(parseIcyMetadataBlock("StreamTitle='A - B'")->at(0).value, "A - B");
    EXPECT_EQ(parseIcyMetadataBlock("StreamTitle='';\n")->at(0).value, "");
    EXPECT_TRUE(parseIcyMetadataBlock(std::string(32, '\0'))->empty());
    // Not metadata: binary, text after the padding, no quotes, no key.
    EXPECT_FALSE(parseIcyMetadataBlock(std::string("StreamTitle='A';\x01\x02", 18)));
    EXPECT_FALSE(parseIcyMetadataBlock(std::string("StreamTitle='A';\0x", 18)));
    EXPECT_FALSE(parseIcyMetadataBlock("StreamTitle=A;"));
    EXPECT_FALSE(parseIcyMetadataBlock("='A';"));
    EXPECT_FALSE(parseIcyMetadataBlock("StreamTitle='unterminated"));

    EXPECT_EQ(icyTextToUtf8("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(icyTextToUtf8("caf\xe9"), "caf\xc3\xa9");

    EXPECT_EQ(IcyMetadataFilter::parseInterval("16000"), 16000u);
    EXPECT_EQ(IcyMetadataFilter::parseInterval(" 8192 "), 8192u);
    for (const char* bad : {"", "0", "-1", "12x", "99999999999999999999", "2000000"})
        EXPECT_FALSE(IcyMetadataFilter::parseInterval(bad)) << bad;
}

}  // namespace
