#include "platform/audio/parser/Mp4Index.h"

#include <algorithm>
#include <vector>

#include "platform/audio/parser/AacConfig.h"
#include "platform/audio/parser/AlacConfig.h"
#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"
#include "platform/audio/parser/EsDescriptor.h"

namespace audio::parsing {

namespace {

struct Box {
    uint32_t type = 0;
    const uint8_t* start = nullptr;  // the header
    const uint8_t* body = nullptr;
    size_t size = 0;  // of the body
};

// Iterates the boxes inside a box's body.
class Boxes {
public:
    Boxes(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}

    bool next(Box& box) {
        const size_t left = size_t(end_ - at_);
        if (left < 8) return false;
        uint64_t size = be32(at_);
        size_t header = 8;
        if (size == 1) {
            if (left < 16) return false;
            size = be64(at_ + 8);
            header = 16;
        } else if (size == 0) {
            size = left;  // to the end of the parent
        }
        if (size < header || size > left) return false;
        box = {be32(at_ + 4), at_, at_ + header, size_t(size) - header};
        at_ += size;
        return true;
    }

    bool find(uint32_t type, Box& box) {
        while (next(box)) {
            if (box.type == type) return true;
        }
        return false;
    }

private:
    const uint8_t* at_;
    const uint8_t* end_;
};

bool child(const Box& parent, uint32_t type, Box& box) {
    return Boxes(parent.body, parent.size).find(type, box);
}

bool path(Box box, std::initializer_list<uint32_t> types, Box& found) {
    for (uint32_t type : types) {
        if (!child(box, type, box)) return false;
    }
    found = box;
    return true;
}

constexpr uint32_t kTrak = fourCC("trak");
constexpr uint32_t kMdia = fourCC("mdia");
constexpr uint32_t kHdlr = fourCC("hdlr");
constexpr uint32_t kMinf = fourCC("minf");
constexpr uint32_t kStbl = fourCC("stbl");
constexpr uint32_t kStsd = fourCC("stsd");

// The sample entry's codec: description and cookie. UnsupportedDataFormat for codecs we do
// not play.
OSStatus readSampleEntry(const Box& entry, StreamDescription& d) {
    // SampleEntry (8 bytes), then the sound description; version 1 and 2 add fields.
    if (entry.size < 28) return kAudioFileStreamError_InvalidFile;
    const uint32_t version = be16(entry.body + 8);
    size_t children = version == 1 ? 44 : version == 2 ? 64 : 28;
    if (entry.size < children) return kAudioFileStreamError_InvalidFile;
    const Box inner{entry.type, entry.start, entry.body + children, entry.size - children};
    if (entry.type == fourCC("mp4a")) {
        Box esds;
        // QuickTime files keep it inside a 'wave' box.
        if (!child(inner, fourCC("esds"), esds) &&
            !path(inner, {fourCC("wave"), fourCC("esds")}, esds)) {
            return kAudioFileStreamError_UnsupportedDataFormat;
        }
        const auto es = parseEsDescriptor(esds.body, esds.size);
        if (!es) return kAudioFileStreamError_InvalidFile;
        const uint8_t oti = es->objectTypeIndication;
        if (oti != 0x40 && oti != 0x66 && oti != 0x67 && oti != 0x68) {
            return kAudioFileStreamError_UnsupportedDataFormat;
        }
        const auto& asc = es->decoderSpecificInfo;
        const auto config = parseAudioSpecificConfig(asc.data(), asc.size());
        if (!config) return kAudioFileStreamError_UnsupportedDataFormat;
        describeAac(*config, asc, d);
        if (es->averageBitRate > 0) d.bitRate = es->averageBitRate;
        return noErr;
    }
    if (entry.type == fourCC("alac")) {
        Box alac;
        if (!child(inner, fourCC("alac"), alac)) return kAudioFileStreamError_UnsupportedDataFormat;
        const auto config = parseAlacCookie(alac.start, size_t(alac.body + alac.size - alac.start));
        if (!config) return kAudioFileStreamError_UnsupportedDataFormat;
        describeAlac(*config, d);
        return noErr;
    }
    return kAudioFileStreamError_UnsupportedDataFormat;
}

// Packet sizes: one per sample, or a constant size and a count.
OSStatus readSampleSizes(const Box& stbl, std::vector<uint32_t>& sizes, uint32_t& constant,
                         uint64_t& count) {
    Box box;
    if (child(stbl, fourCC("stsz"), box)) {
        if (box.size < 12) return kAudioFileStreamError_InvalidFile;
        constant = be32(box.body + 4);
        count = be32(box.body + 8);
        if (constant != 0) return noErr;
        if (count > (box.size - 12) / 4) return kAudioFileStreamError_InvalidFile;
        sizes.resize(size_t(count));
        for (size_t i = 0; i < sizes.size(); ++i) sizes[i] = be32(box.body + 12 + 4 * i);
        return noErr;
    }
    if (child(stbl, fourCC("stz2"), box)) {
        if (box.size < 12) return kAudioFileStreamError_InvalidFile;
        const uint32_t bits = box.body[7];
        count = be32(box.body + 8);
        if (bits != 4 && bits != 8 && bits != 16) return kAudioFileStreamError_InvalidFile;
        if (count > (uint64_t(box.size) - 12) * 8 / bits) return kAudioFileStreamError_InvalidFile;
        sizes.resize(size_t(count));
        const uint8_t* p = box.body + 12;
        for (size_t i = 0; i < sizes.size(); ++i) {
            if (bits == 16)
                sizes[i] = be16(p + 2 * i);
            else if (bits == 8)
                sizes[i] = p[i];
            else
                sizes[i] = (i % 2 == 0) ? p[i / 2] >> 4 : p[i / 2] & 0xF;
        }
        constant = 0;
        return noErr;
    }
    return kAudioFileStreamError_InvalidFile;
}

OSStatus readChunkOffsets(const Box& stbl, std::vector<uint64_t>& offsets) {
    Box box;
    const bool wide = !child(stbl, fourCC("stco"), box);
    if (wide && !child(stbl, fourCC("co64"), box)) return kAudioFileStreamError_InvalidFile;
    if (box.size < 8) return kAudioFileStreamError_InvalidFile;
    const uint64_t count = be32(box.body + 4);
    const size_t entry = wide ? 8 : 4;
    if (count > (box.size - 8) / entry) return kAudioFileStreamError_InvalidFile;
    offsets.resize(size_t(count));
    for (size_t i = 0; i < offsets.size(); ++i) {
        const uint8_t* p = box.body + 8 + entry * i;
        offsets[i] = wide ? be64(p) : be32(p);
    }
    return noErr;
}

// Samples in each chunk, from the sample-to-chunk runs.
OSStatus readSamplesPerChunk(const Box& stbl, size_t chunkCount, std::vector<uint32_t>& perChunk) {
    Box box;
    if (!child(stbl, fourCC("stsc"), box) || box.size < 8) return kAudioFileStreamError_InvalidFile;
    const uint64_t runs = be32(box.body + 4);
    if (runs > (box.size - 8) / 12) return kAudioFileStreamError_InvalidFile;
    perChunk.assign(chunkCount, 0);
    for (uint64_t r = 0; r < runs; ++r) {
        const uint8_t* p = box.body + 8 + 12 * r;
        const uint64_t first = be32(p);
        const uint64_t last = r + 1 < runs ? uint64_t(be32(p + 12)) : uint64_t(chunkCount) + 1;
        // Runs start at chunk 1 and go forward.
        if (first == 0 || last < first) return kAudioFileStreamError_InvalidFile;
        for (uint64_t c = first; c < last && c <= chunkCount; ++c)
            perChunk[size_t(c - 1)] = be32(p + 4);
    }
    return noErr;
}

OSStatus readTrack(const Box& trak, std::optional<Mp4Track>& track) {
    Box mdia, hdlr, stbl, stsd;
    if (!child(trak, kMdia, mdia) || !child(mdia, kHdlr, hdlr) || hdlr.size < 12 ||
        be32(hdlr.body + 8) != fourCC("soun")) {
        return kAudioFileStreamError_UnsupportedDataFormat;  // not a sound track
    }
    if (!path(mdia, {kMinf, kStbl}, stbl) || !child(stbl, kStsd, stsd) || stsd.size < 8) {
        return kAudioFileStreamError_InvalidFile;
    }
    Box entry;
    if (be32(stsd.body + 4) == 0 || !Boxes(stsd.body + 8, stsd.size - 8).next(entry)) {
        return kAudioFileStreamError_InvalidFile;
    }
    StreamDescription d;
    if (const OSStatus status = readSampleEntry(entry, d); status != noErr) return status;

    std::vector<uint32_t> sizes;
    uint32_t constant = 0;
    uint64_t count = 0;
    std::vector<uint64_t> offsets;
    std::vector<uint32_t> perChunk;
    if (OSStatus s = readSampleSizes(stbl, sizes, constant, count); s != noErr) return s;
    if (OSStatus s = readChunkOffsets(stbl, offsets); s != noErr) return s;
    if (OSStatus s = readSamplesPerChunk(stbl, offsets.size(), perChunk); s != noErr) return s;

    // Chunks may claim more samples than the size table has: the sizes decide.
    std::vector<PacketTable::Chunk> chunks;
    uint64_t placed = 0;
    for (size_t c = 0; c < offsets.size() && placed < count; ++c) {
        const uint32_t n = uint32_t(std::min<uint64_t>(perChunk[c], count - placed));
        chunks.push_back({offsets[c], n});
        placed += n;
    }
    if (!sizes.empty()) sizes.resize(size_t(placed));
    if (placed == 0) return kAudioFileStreamError_UnsupportedDataFormat;  // e.g. fragmented
    auto table = PacketTable::build(std::move(chunks), std::move(sizes), constant, {});
    if (!table) return kAudioFileStreamError_InvalidFile;
    d.dataOffset = int64_t(table->firstOffset());
    d.audioDataByteCount = table->endOffset() - table->firstOffset();
    d.audioDataPacketCount = table->packetCount();
    d.packetSizeUpperBound = table->maxPacketSize();
    d.maximumPacketSize = table->maxPacketSize();
    track = Mp4Track{std::move(d), std::move(*table)};
    return noErr;
}

}  // namespace

OSStatus readMp4Movie(const uint8_t* movie, size_t size, std::optional<Mp4Track>& track) {
    Boxes boxes(movie, size);
    Box trak;
    OSStatus status = kAudioFileStreamError_UnsupportedDataFormat;
    while (boxes.find(kTrak, trak)) {
        status = readTrack(trak, track);
        if (status == noErr) return noErr;
        // A track that is not sound, or not a codec we play: look at the next one.
        if (status != kAudioFileStreamError_UnsupportedDataFormat) return status;
    }
    return status;
}

}  // namespace audio::parsing
