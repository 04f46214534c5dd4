#pragma once
// Stands in for the streaming engine between the file-stream parser and the output queue: a
// whole file goes through the real parser in 2048-byte reads, and the packets are packed into
// buffers the way the engine packs them (buffer size from 'pkub', then 'psze', then 2048;
// whole packets with descriptions, at most 512 per buffer; constant-size bytes cut to fill).

#include <string>
#include <vector>

#include "AudioMaterial.h"
#include "platform/audio/parser/AudioFileStream.h"

namespace queuetest {

struct ParsedStream {
    audio::OSStatus status = 0;  // first failing parse call, or 0
    audio::AudioStreamBasicDescription format{};
    std::vector<uint8_t> cookie;
    uint32_t bufferSize = 2048;
    std::vector<uint8_t> bytes;                              // the packets, back to back
    std::vector<audio::AudioStreamPacketDescription> descs;  // none for constant-size packets
};

// The file-type hint the engine gives for the path's extension.
audio::AudioFileTypeID hintForPath(const std::string& path);

ParsedStream parseWithFileStream(const std::vector<uint8_t>& file, audio::AudioFileTypeID hint);

std::vector<BufferLoad> fillLikeTheEngine(const ParsedStream& stream);

}  // namespace queuetest
