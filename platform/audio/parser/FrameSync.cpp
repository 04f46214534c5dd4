#include "platform/audio/parser/FrameSync.h"

namespace audio::parsing {

SyncResult confirmSync(const FrameSyntax& syntax, const uint8_t* data, size_t size,
                       const FrameHeader* expected, FrameHeader& first, size_t& need) {
    const size_t headerBytes = syntax.headerBytes();
    size_t at = 0;
    for (int frame = 0; frame < kSyncConfirmFrames; ++frame) {
        if (at > size || size - at < headerBytes) {
            need = at + headerBytes;
            return SyncResult::NeedMore;
        }
        FrameHeader header;
        if (!syntax.read(data + at, header)) return SyncResult::Rejected;
        if (frame == 0) {
            if (expected && header.streamKey != expected->streamKey) return SyncResult::Rejected;
            first = header;
        } else if (header.streamKey != first.streamKey) {
            return SyncResult::Rejected;
        }
        at += header.frameLength;
        // The last frame must be whole too, so that a caller can use it at once.
        if (frame == kSyncConfirmFrames - 1 && size < at) {
            need = at;
            return SyncResult::NeedMore;
        }
    }
    return SyncResult::Confirmed;
}

}  // namespace audio::parsing
