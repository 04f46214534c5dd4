#pragma once
// The first parser of every stream: it recognises the format from the first bytes and then
// hands everything to the parser of that format.
//
// Containers announce themselves (RIFF/WAVE, FORM/AIFF, caff, MP4 boxes, OggS, fLaC; an MPEG
// transport stream by its sync bytes). Frame streams
// do not, and a live stream's address often says nothing true of its format, so MP3 and ADTS are
// recognised by consecutive frame headers; the file-type hint only decides which of the two
// is tried first at each position, and lets an MP4 start with an unusual box. ID3v2 tags
// ahead of everything are skipped as they stream by.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/audio/parser/FormatParser.h"

namespace audio::parsing {

class FormatSniffer final : public FormatParser {
public:
    // Junk tolerated ahead of the first frame of a frame stream.
    static constexpr uint64_t kMaxJunkBeforeSync = 64u << 10;

    FormatSniffer(ParserOutput& output, uint32_t fileTypeHint);

    ParseStep parse(const uint8_t* data, size_t size) override;
    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;
    void setSeekIndexWanted(bool wanted) override;
    void endOfData(const uint8_t* data, size_t size) override;

private:
    std::unique_ptr<FormatParser> containerAt(const uint8_t* p,
                                              std::optional<uint64_t> start) const;
    ParseStep handOver(std::unique_ptr<FormatParser> parser, const uint8_t* data, size_t size,
                       size_t at);

    ParserOutput& output_;
    uint32_t hint_;
    std::unique_ptr<FormatParser> chosen_;
    bool seekIndexWanted_ = true;
    // File offset of data[0] in the current call, when known.
    std::optional<uint64_t> position_ = 0;
    // True until something other than a tag went by: containers only start there.
    bool atStart_ = true;
    uint64_t junk_ = 0;
};

}  // namespace audio::parsing
