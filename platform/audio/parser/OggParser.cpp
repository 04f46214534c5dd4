#include "platform/audio/parser/OggParser.h"

#include <algorithm>
#include <cstring>

#include "platform/audio/InBandConfig.h"
#include "platform/audio/parser/AudioFileStream.h"

namespace audio::parsing {

namespace {

// The offset of the next "OggS" that can be told within the bytes, or of the last three,
// which may begin one.
size_t nextCapture(const uint8_t* p, size_t size) {
    size_t at = 1;
    while (at + 4 <= size) {
        const auto* found = static_cast<const uint8_t*>(std::memchr(p + at, 'O', size - at - 3));
        if (!found) return size - 3;
        at = size_t(found - p);
        if (std::memcmp(found, "OggS", 4) == 0) return at;
        ++at;
    }
    return std::min(at, size);
}

}  // namespace

OggParser::OggParser(ParserOutput& output, std::optional<uint64_t> start)
    : ContainerParser(output, start) {}

ParseStep OggParser::run(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (output_.open()) {
        if (const auto request = landing_.takeRequest()) output_.requestBytesFrom(*request);
        if (landing_.awaiting()) {
            // Asked for the bytes from elsewhere: these are of no use.
            if (landing_.ignore(size - at)) return needMore(size, 1);
            continue;
        }
        const size_t avail = size - at;
        if (junk_ > kMaxJunkBytes) {
            return failed(described_ ? kAudioFileStreamError_InvalidFile
                                     : kAudioFileStreamError_UnsupportedFileType);
        }
        if (avail < kOggHeaderBytes) return needMore(at, kOggHeaderBytes);
        if (std::memcmp(data + at, "OggS", 4) != 0) {
            const size_t skip = nextCapture(data + at, avail);
            at += skip;
            junk_ += skip;
            continue;
        }
        OggPage page;
        size_t need = 0;
        switch (readOggPage(data + at, avail, page, need)) {
            case OggPageResult::NeedMore: return needMore(at, need);
            case OggPageResult::NotAPage:
                ++at;
                ++junk_;
                continue;
            case OggPageResult::Page: break;
        }
        takePage(page, position_ ? std::optional(*position_ + at) : std::nullopt);
        at += page.pageBytes;
        junk_ = 0;
    }
    return needMore(at, 1);
}

void OggParser::takePage(const OggPage& page, std::optional<uint64_t> pageOffset) {
    pageStart_ = pageOffset;
    if (!serial_ || page.serial != *serial_) {
        // Another logical stream multiplexed with ours, or one whose beginning was missed.
        if (!(page.flags & kOggFirstPage)) return;
        // More streams beginning next to ours: the first one stays.
        if (serial_ && codec_ && !audioStarted_) return;
        if (!startLogicalStream(page)) return;
    }
    if (nextSequence_ && page.sequence != *nextSequence_) forgetPartialPacket();
    nextSequence_ = page.sequence + 1;
    takeSegments(page);
    endPage(page, pageOffset);
}

bool OggParser::startLogicalStream(const OggPage& page) {
    size_t first = 0;
    for (uint32_t i = 0; i < page.segments; ++i) {
        first += page.lacing[i];
        if (page.lacing[i] < 255) break;
    }
    std::unique_ptr<OggCodec> codec = OggCodec::identify(page.body, first);
    if (!codec) return false;
    // A link of a chain: the index places the first link only.
    if (serial_) ++link_;
    serial_ = page.serial;
    codec_ = std::move(codec);
    audioStarted_ = false;
    lastAudioGranule_.reset();
    forgetPartialPacket();
    nextSequence_.reset();
    return true;
}

void OggParser::forgetPartialPacket() {
    packet_.clear();
    packetBytes_ = 0;
    inPacket_ = false;
    skippingContinuation_ = false;
}

void OggParser::takeSegments(const OggPage& page) {
    const bool continued = page.flags & kOggContinued;
    if (continued && !inPacket_) skippingContinuation_ = true;  // its beginning was lost
    if (!continued && inPacket_) forgetPartialPacket();         // its end was lost
    size_t at = 0;
    for (uint32_t i = 0; i < page.segments; ++i) {
        const size_t length = page.lacing[i];
        const uint8_t* segment = page.body + at;
        at += length;
        if (skippingContinuation_) {
            if (length < 255) skippingContinuation_ = false;
            continue;
        }
        if (!inPacket_) {
            inPacket_ = true;
            packet_.clear();
            packetBytes_ = 0;
            if (!described_) description_.dataOffset = pageStart_ ? int64_t(*pageStart_) : 0;
        }
        // A packet larger than any we play is passed over, keeping only its first bytes.
        if (packet_.size() + length <= kMaxPacketBytes) {
            packet_.insert(packet_.end(), segment, segment + length);
        }
        packetBytes_ += length;
        if (length == 255) continue;
        inPacket_ = false;
        if (packetBytes_ == packet_.size()) {
            takePacket(packet_.data(), packet_.size());
        } else if (codec_ && !audioStarted_ && !codec_->isHeader(packet_.data(), packet_.size())) {
            codec_.reset();  // an audio packet before the stream's headers were whole
        }
    }
}

void OggParser::takePacket(const uint8_t* packet, size_t size) {
    if (!codec_) return;
    if (!audioStarted_) {
        if (codec_->isHeader(packet, size)) {
            if (!codec_->takeHeader(packet, size)) codec_.reset();
            return;
        }
        if (!codec_->ready()) return;  // audio before its headers cannot be decoded
        audioStarted_ = true;
        if (!described_) {
            const int64_t dataOffset = description_.dataOffset;
            codec_->describe(packet, size, description_);
            description_.dataOffset = dataOffset;
            described_ = true;
            if (pageStart_ && indexWanted_) index_.push_back({uint64_t(dataOffset), 0});
            output_.publish(description_);
        } else {
            const std::vector<uint8_t> config = codec_->config();
            if (config.size() <= description_.packetSizeUpperBound) {
                addAudioPacket(config.data(), config.size(), 0, true);
            } else {
                for (const std::vector<uint8_t>& fragment :
                     configFragments(config, description_.packetSizeUpperBound)) {
                    addAudioPacket(fragment.data(), fragment.size(), 0, true);
                }
            }
        }
    }
    addAudioPacket(packet, size, codec_->duration(packet, size), false);
}

void OggParser::addAudioPacket(const uint8_t* packet, size_t size, uint32_t duration, bool config) {
    pagePackets_.push_back({pageBytes_.size(), uint32_t(size), duration, config});
    pageBytes_.insert(pageBytes_.end(), packet, packet + size);
}

void OggParser::endPage(const OggPage& page, std::optional<uint64_t> pageOffset) {
    if (link_ == 0 && indexWanted_ && described_ && pageOffset && page.granule >= 0 &&
        index_.size() < kMaxIndexedPages) {
        const IndexEntry entry{*pageOffset + page.pageBytes, uint64_t(page.granule)};
        if (index_.empty() ||
            (entry.nextPage > index_.back().nextPage && entry.granule >= index_.back().granule)) {
            index_.push_back(entry);
        }
    }
    if (pagePackets_.empty()) return;
    placeAndLand(page);
    markEnd(page);
    const bool carriedAudio = std::any_of(pagePackets_.begin(), pagePackets_.end(),
                                          [](const PagePacket& p) { return !p.config; });
    emit();
    if (carriedAudio && page.granule >= 0) lastAudioGranule_ = page.granule;
}

void OggParser::placeAndLand(const OggPage& page) {
    if (!landing_.aiming()) return;
    const bool placed = page.granule >= 0 && codec_ && codec_->placesPackets();
    // Where each packet ends on the time line, from the page's granule backwards.
    std::vector<std::pair<uint64_t, uint64_t>> spans(pagePackets_.size());
    int64_t end = page.granule;
    for (size_t i = pagePackets_.size(); i-- > 0;) {
        const int64_t start = placed ? std::max<int64_t>(0, end - pagePackets_[i].duration) : 0;
        spans[i] = {uint64_t(start), uint64_t(std::max<int64_t>(0, end))};
        if (placed) end = start;
    }
    for (size_t i = 0; i < pagePackets_.size() && landing_.aiming(); ++i) {
        if (pagePackets_[i].config) continue;
        if (page.granule < 0) {
            pagePackets_[i].size = 0;  // cannot be placed
            continue;
        }
        switch (landing_.judge(spans[i].first, spans[i].second)) {
            case SeekLanding::Verdict::Keep:
                if (placed && codec_->trimsExactly() && landing_.samplesBeforeTarget() > 0) {
                    markSkip(i, landing_.samplesBeforeTarget());
                }
                break;
            case SeekLanding::Verdict::Drop: pagePackets_[i].size = 0; break;
            case SeekLanding::Verdict::Refetch:
                for (PagePacket& packet : pagePackets_) packet.size = 0;
                return;
        }
    }
}

void OggParser::markSkip(size_t beforePacket, uint64_t samples) {
    insertMark(beforePacket, skipMark(uint32_t(std::min<uint64_t>(samples, UINT32_MAX))));
}

void OggParser::markEnd(const OggPage& page) {
    // Only where the page before is known, so that the granule positions tell how much of
    // this page is sound; a stream that is a single page plays whole.
    if (!(page.flags & kOggLastPage) || page.granule < 0 || !lastAudioGranule_ ||
        page.granule < *lastAudioGranule_ || !codec_ || !codec_->placesPackets()) {
        return;
    }
    uint64_t kept = 0, dropped = 0;
    for (const PagePacket& packet : pagePackets_) {
        if (packet.config) continue;
        (packet.size > 0 ? kept : dropped) += packet.duration;
    }
    const uint64_t sound = uint64_t(page.granule - *lastAudioGranule_);
    if (kept == 0 || sound < dropped || sound - dropped >= kept) return;
    const uint64_t keep = sound - dropped;
    insertMark(0, keepMark(uint32_t(std::min<uint64_t>(keep, kKeepEverything - 1))));
    insertMark(pagePackets_.size(), keepMark(kKeepEverything));
}

void OggParser::insertMark(size_t beforePacket, const std::vector<uint8_t>& mark) {
    const PagePacket packet{pageBytes_.size(), uint32_t(mark.size()), 0, true};
    pageBytes_.insert(pageBytes_.end(), mark.begin(), mark.end());
    pagePackets_.insert(pagePackets_.begin() + int64_t(beforePacket), packet);
}

void OggParser::emit() {
    batch_.clear();
    for (const PagePacket& packet : pagePackets_) {
        if (packet.size == 0) continue;
        AudioStreamPacketDescription description{};
        description.mStartOffset = int64_t(packet.offset);
        description.mDataByteSize = packet.size;
        batch_.push_back(description);
    }
    if (!batch_.empty()) {
        output_.packets(pageBytes_.data(), uint32_t(pageBytes_.size()), uint32_t(batch_.size()),
                        batch_.data());
    }
    pageBytes_.clear();
    pagePackets_.clear();
}

void OggParser::discontinuity() {
    forgetPartialPacket();
    pageBytes_.clear();
    pagePackets_.clear();
    nextSequence_.reset();
    lastAudioGranule_.reset();
    junk_ = 0;
    if (codec_) codec_->restart();
    // The bytes the parser asked for, or bytes from a place it cannot tell.
    position_ = landing_.answered();
}

void OggParser::setSeekIndexWanted(bool wanted) {
    indexWanted_ = wanted;
    if (!wanted) index_ = {};
}

OSStatus OggParser::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (!described_ || !codec_) return kAudioFileStreamError_DataUnavailable;
    if (packet < 0) return kAudioFileStreamError_InvalidPacketOffset;
    forgetPartialPacket();
    pageBytes_.clear();
    pagePackets_.clear();
    nextSequence_.reset();
    junk_ = 0;
    codec_->restart();
    position_.reset();

    const uint64_t target =
        uint64_t(packet) * description_.format.mFramesPerPacket + codec_->startGranule();
    // The page to land on holds the pre-roll's first sample.
    const uint64_t preRoll = std::min(codec_->preRoll(), target);
    const auto after = std::upper_bound(
        index_.begin(), index_.end(), target - preRoll,
        [](uint64_t granule, const IndexEntry& entry) { return granule < entry.granule; });
    const IndexEntry before =
        after == index_.begin() ? IndexEntry{uint64_t(description_.dataOffset), 0} : *(after - 1);
    landing_.aim(target, before.nextPage, codec_->preRoll());
    // The index reaches past the target: its page is known.
    if (after != index_.end()) landing_.requestNow();

    double bytesPerGranule = 0;
    if (index_.size() >= 2 && index_.back().granule > index_.front().granule) {
        bytesPerGranule = double(index_.back().nextPage - index_.front().nextPage) /
                          double(index_.back().granule - index_.front().granule);
    }
    const double guess = double(before.nextPage) - double(description_.dataOffset) +
                         double(target - preRoll - before.granule) * bytesPerGranule;
    offset = int64_t(std::clamp(guess, 0.0, 9007199254740992.0));
    estimated = true;
    return noErr;
}

}  // namespace audio::parsing
