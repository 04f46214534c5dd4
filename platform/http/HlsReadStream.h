#pragma once
// An HLS stream read as one continuous body: the segments of its media playlist downloaded one
// after the other and handed to the client as if they were one response, so that the parser
// above sees a single byte stream (ADTS frames, or a transport stream, across segments).
//
// From a master playlist the variant within the bandwidth bound is taken and its media playlist
// fetched. On demand, the segments are read from the first (or the one holding a start time) to
// the last, and the end comes after the last one's bytes. Live, reading starts three segments
// from the end of the window, as the format asks; when the known segments are read the playlist
// is reloaded after its target duration (half of it when a reload brought nothing new), and new
// segments are read in sequence order, none twice. A failed reload is tried again a few times
// before the stream fails; a failed segment fails it.
//
// Threads: as every ReadStream, one thread, the one whose RunLoop drives the downloads and the
// waits between reloads (RunLoop timers).

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/http/HlsPlaylist.h"
#include "platform/http/ReadStream.h"

namespace platform::http {

class HlsReadStream final : public ReadStream {
public:
    // Variants above this are passed over while a leaner one is there.
    static constexpr uint64_t kMaxBandwidth = 320000;
    static constexpr size_t kMaxPlaylistBytes = 1u << 20;
    static constexpr int kReloadAttempts = 3;
    // A live list that has brought nothing new for this many target durations is stuck (its
    // packager has stopped): the stream fails, so that the player can tell and try again,
    // rather than wait in silence for good. The figure is the one ExoPlayer uses.
    static constexpr double kStuckTargetDurations = 3.5;

    // `playlistText`: what `url` answered, already read.
    HlsReadStream(std::string url, std::string playlistText, ReadStreamOptions options,
                  double startSeconds = 0);
    ~HlsReadStream() override;

    bool setShouldAutoredirect(bool) override { return true; }
    bool open() override;
    void setClient(int eventMask, ReadStreamClientCallback callback, void* clientInfo) override;
    void scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop) override;
    bool hasBytesAvailable() override;
    long read(uint8_t* buffer, long maxLength) override;
    std::map<std::string, std::string> responseHeaders() override;
    void close() override;
    std::string errorDescription() const override { return error_; }

    // The media playlist's length, on demand; 0 for a live one or before it is known.
    double duration() const;
    // Where the segment holding `seconds` begins, on demand (the start time a stream reading
    // from that segment is opened with); 0 before the playlist is known.
    double segmentStartAt(double seconds) const;
    // Segments read so far, for tests and logs.
    size_t segmentsRead() const { return segmentsRead_; }

private:
    enum class Download { None, Playlist, Segment };

    static void onInnerEvent(ReadStream* stream, int eventType, void* clientInfo);
    void innerEvent(int eventType);
    void takePlaylist(const std::string& text, const std::string& playlistUrl);
    void takeMedia(HlsMediaPlaylist media);
    void fetchPlaylist(const std::string& playlistUrl);
    void nextStep();
    void scheduleReload(double seconds);
    void reloadFailed();
    void fail(const std::string& why);
    void deliver(int eventType);
    void closeInner();
    void keepScheduled();

    std::string url_;
    std::string initialText_;
    ReadStreamOptions options_;
    double startSeconds_;
    std::shared_ptr<RunLoop> loop_;
    int eventMask_ = 0;
    ReadStreamClientCallback callback_ = nullptr;
    void* clientInfo_ = nullptr;

    std::string mediaUrl_;
    std::optional<HlsMediaPlaylist> media_;
    std::optional<uint64_t> lastRead_;  // sequence number of the last segment read
    std::optional<uint64_t> nextSequence_;
    size_t segmentsRead_ = 0;
    bool lastReloadBroughtNothing_ = false;
    std::chrono::steady_clock::time_point lastNewSegmentAt_;
    int reloadFailures_ = 0;

    std::unique_ptr<ReadStream> inner_;
    Download download_ = Download::None;
    std::string playlistBuffer_;
    std::string fetchingUrl_;
    bool reloading_ = false;
    std::optional<uint64_t> timer_;
    std::optional<uint64_t> keepAlive_;
    bool ended_ = false;
    bool failed_ = false;
    bool closed_ = false;
    std::string error_;
};

}  // namespace platform::http
