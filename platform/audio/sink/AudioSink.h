#pragma once
// Where an output queue's decoded audio goes. A sink takes interleaved 32-bit float PCM and
// consumes it: the device plays it, the silent sink lets it pass in real time, the capture sink
// keeps it for tests and benchmarks.
//
// Data is pushed: the queue writes frames and asks how many have been consumed. A sink never
// calls back into a queue; it tells the queue how long until a given frame will have been
// consumed (timeUntilConsumed), and the queue's thread sleeps until then. So a sink's own
// threads (SDL's) never take a queue's lock, and a queue wakes only when something is due.
//
// Threads: one queue drives one sink and serialises every call to it. The calls come from the
// queue's thread or from a thread inside a queue call, always under that queue's mutex, so an
// implementation needs no lock for them. open() is the exception: the queue's thread calls it
// before the sink is shared with anyone. Test accessors (the capture sink's) lock on their own.
//
// Consumption counts frames that were played, plus those dropped by discard(): right after
// discard(), framesConsumed() == framesWritten().

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace audio {

// Samples are always 32-bit float, interleaved.
struct AudioSinkFormat {
    int sampleRate = 0;
    int channels = 0;
    bool operator==(const AudioSinkFormat&) const = default;
};

class AudioSink {
public:
    virtual ~AudioSink() = default;

    // Prepares for PCM in `wanted`. Returns the format the sink takes, which the queue then
    // converts to, or nullopt when it cannot play at all. Called once, before any other call.
    virtual std::optional<AudioSinkFormat> open(const AudioSinkFormat& wanted) = 0;

    // Copies up to `frames` frames of the open format; returns how many it took (fewer only
    // when its buffer is full).
    virtual size_t write(const float* samples, size_t frames) = 0;

    // Starts or halts consumption. A new sink is halted; frames written stay while halted.
    virtual void setPlaying(bool playing) = 0;

    // Drops every frame not yet consumed.
    virtual void discard() = 0;

    // Frames consumed (or discarded) since open.
    virtual uint64_t framesConsumed() = 0;

    // Frames written since open.
    virtual uint64_t framesWritten() const = 0;

    // The most frames the sink holds; the queue keeps at most this much ahead of playback.
    virtual size_t capacityFrames() const = 0;

    // How long until framesConsumed() reaches `frame` if nothing changes: zero when it already
    // has, nullopt when consumption is halted or will stop short of it.
    virtual std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) = 0;

    // Why open() failed, for the log line.
    virtual std::string lastError() const { return {}; }
};

// Underruns: a sink that was playing ran out of audio and the audio came on later, so the
// listener heard a gap (not the end of a stream, a pause or the gap of a seek). Every sink of
// the process counts into one figure, for tests and tools (ostra-play prints it). Any thread.
uint64_t AudioSinkUnderrunCount();
void AudioSinkNoteUnderrun();

// The process-wide choice of sink for new queues. The application, a tool or a test installs
// it (the application: makeDeviceAudioSink); with none installed a queue has no sink and drops
// what it decodes. Any thread; each new queue asks once.
using AudioSinkFactory = std::function<std::shared_ptr<AudioSink>()>;
void AudioSinkSetFactory(AudioSinkFactory factory);
std::shared_ptr<AudioSink> AudioSinkMake();

// Installs a factory for a scope and puts the previous one back (tests).
class ScopedAudioSinkFactory {
public:
    explicit ScopedAudioSinkFactory(AudioSinkFactory factory);
    ~ScopedAudioSinkFactory();
    ScopedAudioSinkFactory(const ScopedAudioSinkFactory&) = delete;
    ScopedAudioSinkFactory& operator=(const ScopedAudioSinkFactory&) = delete;

private:
    AudioSinkFactory previous_;
};

}  // namespace audio
