#pragma once
// Ogg streams of Vorbis, Opus or FLAC: pages found by their capture pattern and trusted only
// when their CRC holds (so the parser re-synchronises after junk or a gap), packets put together
// from the segments of one logical stream, headers handed to the codec, audio packets handed on
// a page at a time.
//
// The first audio stream that begins is played; pages of other logical streams multiplexed
// with it are passed over. A stream that begins after the played one has carried audio is the
// next link of a chained stream (a live station starts one at every track): its headers are
// read anew and its decoder configuration goes in-band, ahead of its first packet (in fragments
// where it is larger than the buffers), so the format may change there and playback goes on.
// A link whose packets are larger than the first link's buffers ends the run with the buffer
// error; a player that reconnects then starts with that link.
//
// Seeks: the index holds, for pages of the first link seen in order, where the next page
// begins and the granule position its packets start from. A seek within it asks the reader for
// the bytes from that page; one beyond it reads on from the reader's estimate. Either way the
// packets before the target are dropped (those of a Vorbis stream whose modes could not be
// read, a page at a time), so playing begins within one packet of it; for Opus and FLAC the
// decoder is told to drop the samples before the target too, and Opus lands 80 ms early so
// that its decoder has converged there.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/OggCodec.h"
#include "platform/audio/parser/OggPage.h"
#include "platform/audio/parser/SeekLanding.h"

namespace audio::parsing {

class OggParser final : public ContainerParser {
public:
    // Junk tolerated between pages once a stream plays.
    static constexpr uint64_t kMaxJunkBytes = 1u << 20;
    static constexpr size_t kMaxIndexedPages = 1u << 20;

    OggParser(ParserOutput& output, std::optional<uint64_t> start);

    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;
    void setSeekIndexWanted(bool wanted) override;

private:
    struct PagePacket {
        size_t offset = 0;  // in pageBytes_
        uint32_t size = 0;
        uint32_t duration = 0;
        bool config = false;  // not audio: a chained link's configuration, a skip mark
    };
    struct IndexEntry {
        uint64_t nextPage = 0;  // file offset
        uint64_t granule = 0;   // where the next page's packets start
    };

    ParseStep run(const uint8_t* data, size_t size) override;
    void takePage(const OggPage& page, std::optional<uint64_t> pageOffset);
    bool startLogicalStream(const OggPage& page);
    void takeSegments(const OggPage& page);
    void takePacket(const uint8_t* packet, size_t size);
    void addAudioPacket(const uint8_t* packet, size_t size, uint32_t duration, bool config);
    void endPage(const OggPage& page, std::optional<uint64_t> pageOffset);
    void placeAndLand(const OggPage& page);
    // Tells the decoder, ahead of the packet, to drop what comes before a seek's target.
    void markSkip(size_t beforePacket, uint64_t samples);
    // On the last page of a stream: tells the decoder to play no more of the page's packets
    // than its granule position says, cutting the padding of the last packet.
    void markEnd(const OggPage& page);
    void insertMark(size_t beforePacket, const std::vector<uint8_t>& mark);
    void emit();
    void forgetPartialPacket();

    // The logical stream played, once one has begun.
    std::optional<uint32_t> serial_;
    std::unique_ptr<OggCodec> codec_;
    bool audioStarted_ = false;  // of the current link
    // The granule position of the last page of the current link that carried audio packets,
    // since it began or since the last jump.
    std::optional<int64_t> lastAudioGranule_;
    unsigned link_ = 0;  // 0: the first link of a chain
    std::optional<uint32_t> nextSequence_;
    bool described_ = false;
    StreamDescription description_;
    // Where the current page begins, when known; the data offset when the first audio comes.
    std::optional<uint64_t> pageStart_;

    // The packet being put together from segments, perhaps across pages.
    std::vector<uint8_t> packet_;
    size_t packetBytes_ = 0;  // may exceed what packet_ holds, for a packet too large to keep
    bool inPacket_ = false;
    bool skippingContinuation_ = false;

    // Packets completed on the current page, copied together.
    std::vector<uint8_t> pageBytes_;
    std::vector<PagePacket> pagePackets_;
    std::vector<AudioStreamPacketDescription> batch_;

    std::vector<IndexEntry> index_;
    bool indexWanted_ = true;
    bool indexInOrder_ = true;  // pages since the data start were all seen
    SeekLanding landing_;
    uint64_t junk_ = 0;
};

}  // namespace audio::parsing
