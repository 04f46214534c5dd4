#pragma once
// MP4/M4A files. Top-level boxes before the index ('moov') are skipped as they stream by; the
// index is collected whole (up to kMaxIndexBytes), and from then on the samples of the audio
// track are handed over as their bytes go by.
//
// Many encoders write the audio data ('mdat') first and the index last. Then the parser asks
// the reader for the bytes after the data (requestBytesFrom); a reader that can reposition
// fetches the index from there and, when asked next, the data from its start. A reader that
// cannot goes on in order: the data is kept in a temporary file (up to kMaxSpoolBytes; it is
// gone when the parser is) until the index has come, and the samples are handed over from it.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/Mp4Index.h"

namespace audio::parsing {

class Mp4Parser final : public ContainerParser {
public:
    static constexpr uint64_t kMaxSpoolBytes = 512u << 20;

    Mp4Parser(ParserOutput& output, std::optional<uint64_t> start);

    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;

private:
    enum class State { BoxHeader, Skip, Data, Movie, Packets, AwaitData, Lost };

    // Audio data kept aside while the index has not come: where it lies in the file and in
    // the spool file.
    struct SpooledData {
        uint64_t fileOffset = 0;
        uint64_t spoolOffset = 0;
        uint64_t bytes = 0;
    };
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    ParseStep run(const uint8_t* data, size_t size) override;
    void dataBox(uint64_t bodyStart, uint64_t body);
    void spool(const uint8_t* data, size_t size, uint64_t fileOffset);
    OSStatus finishMovie(uint64_t positionAfter);
    OSStatus deliverSpooled();
    void request(uint64_t offset, State next);

    State state_ = State::BoxHeader;
    uint64_t movieBytes_ = 0;
    std::vector<uint8_t> movie_;
    std::optional<Mp4Track> track_;

    // The offset asked of the reader, and the state its bytes are read in.
    std::optional<std::pair<uint64_t, State>> requested_;
    bool readerRepositioned_ = false;
    std::unique_ptr<std::FILE, FileCloser> spool_;
    std::vector<SpooledData> spooled_;
    uint64_t spooledBytes_ = 0;
    bool spoolOverflowed_ = false;
};

}  // namespace audio::parsing
