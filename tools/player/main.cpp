// ostra-play: plays one URL with the streaming engine, printing every state change and, once a
// second, progress, duration and bit rate.
//
//   ostra-play [options] URL
//     --silent           play to the silent real-time sink instead of the audio device
//     --speed X          play to a capture sink at X times real time (0: as fast as it decodes)
//     --wav FILE         also write the decoded PCM to FILE (32-bit float WAV)
//     --seek SECONDS     seek there once playing
//     --seek-delay S     play S seconds before that seek (default 0)
//     --stop-after S     stop after S seconds of playing
//     --first-sample     exit as soon as the first PCM sample reaches the sink (start-up timing)
//     --quiet            no per-second line
//
// Keys (on a terminal): space or p pause/resume, f and b seek 10 s forward and back, q stop.
// Signals: INT and TERM stop, USR1 pause/resume, USR2 seek 10 s forward.
//
// Exit status: 0 when playback ended normally (end of the resource or a stop), the engine's
// error code (1 to 21) when it ended with an error, 64 for a usage error.

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/LoopMainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/audio/sink/CaptureAudioSink.h"
#include "platform/audio/sink/FallbackAudioSink.h"
#include "platform/audio/sink/SilentAudioSink.h"
#include "streaming/AudioStreamer.h"
#include "tools/player/TeeAudioSink.h"
#include "tools/player/WavWriter.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point gProcessStart = Clock::now();

double secondsSinceStart() {
    return std::chrono::duration<double>(Clock::now() - gProcessStart).count();
}

struct Options {
    std::string url;
    enum class Sink { Device, Silent, Capture } sink = Sink::Device;
    double speed = 0;
    std::string wavPath;
    std::optional<double> seekTo;
    double seekDelay = 0;
    std::optional<double> stopAfter;
    bool exitAtFirstSample = false;
    bool quiet = false;
};

int usage(const char* message) {
    if (message) std::fprintf(stderr, "ostra-play: %s\n", message);
    std::fprintf(
        stderr,
        "usage: ostra-play [--silent | --speed X] [--wav FILE] [--seek S] [--seek-delay S]\n"
        "                  [--stop-after S] [--first-sample] [--quiet] URL\n");
    return 64;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        auto number = [&]() -> std::optional<double> {
            auto text = value();
            if (!text) return std::nullopt;
            char* end = nullptr;
            const double v = std::strtod(text->c_str(), &end);
            if (end == text->c_str() || *end != '\0' || v < 0) return std::nullopt;
            return v;
        };
        if (arg == "--silent") {
            options.sink = Options::Sink::Silent;
        } else if (arg == "--speed") {
            auto v = number();
            if (!v) return std::nullopt;
            options.sink = Options::Sink::Capture;
            options.speed = *v;
        } else if (arg == "--wav") {
            auto v = value();
            if (!v) return std::nullopt;
            options.wavPath = *v;
        } else if (arg == "--seek") {
            if (!(options.seekTo = number())) return std::nullopt;
        } else if (arg == "--seek-delay") {
            auto v = number();
            if (!v) return std::nullopt;
            options.seekDelay = *v;
        } else if (arg == "--stop-after") {
            if (!(options.stopAfter = number())) return std::nullopt;
        } else if (arg == "--first-sample") {
            options.exitAtFirstSample = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return std::nullopt;
        } else if (options.url.empty()) {
            options.url = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.url.empty()) return std::nullopt;
    return options;
}

// Single key presses from a terminal, restored on exit.
class RawTerminal {
public:
    RawTerminal() {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawTerminal() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    bool active() const { return active_; }

private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = parseOptions(argc, argv);
    if (!parsed) return usage(nullptr);
    const Options options = *parsed;

    // Signals are taken by one thread with sigwait; every other thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto mainQueue = std::make_shared<platform::LoopMainQueue>();
    platform::MainQueue::setMain(mainQueue);

    // The sink: every queue's PCM also goes to the WAV file and marks the first sample.
    std::unique_ptr<player::WavWriter> wav;
    if (!options.wavPath.empty()) {
        wav = std::make_unique<player::WavWriter>(options.wavPath);
        if (!wav->isOpen()) return usage("cannot write the WAV file");
    }
    std::atomic<bool> firstSampleSeen{false};
    std::atomic<double> firstSampleAt{0};
    player::WavWriter* wavWriter = wav.get();
    const bool exitAtFirstSample = options.exitAtFirstSample;
    audio::AudioSinkSetFactory([&, wavWriter,
                                exitAtFirstSample]() -> std::shared_ptr<audio::AudioSink> {
        std::shared_ptr<audio::AudioSink> inner;
        switch (options.sink) {
            case Options::Sink::Device: inner = audio::makeDeviceAudioSink(); break;
            case Options::Sink::Silent: inner = std::make_shared<audio::SilentAudioSink>(); break;
            case Options::Sink::Capture: {
                audio::CaptureOptions capture;
                capture.speed = options.speed;
                capture.keepSamples = false;
                inner = std::make_shared<audio::CaptureAudioSink>(capture);
                break;
            }
        }
        return std::make_shared<player::TeeAudioSink>(
            inner, [&, wavWriter, exitAtFirstSample](const audio::AudioSinkFormat& format,
                                                     const float* samples, size_t frames) {
                if (!firstSampleSeen.exchange(true)) {
                    firstSampleAt = secondsSinceStart();
                    if (exitAtFirstSample) {
                        std::printf("first sample after %.1f ms\n", firstSampleAt.load() * 1000);
                        std::fflush(stdout);
                        std::_Exit(0);
                    }
                }
                if (wavWriter)
                    wavWriter->append(format.sampleRate, format.channels, samples, frames);
            });
    });

    auto streamer = AudioStreamer::create(options.url);
    bool started = false;
    bool seekDone = !options.seekTo.has_value();
    std::optional<double> playingAt;
    double startCalledAt = 0;
    std::optional<double> seekRequestedAt;
    std::optional<double> seekPlayingAt;
    bool seekLeftPlaying = false;
    double seekTarget = 0;
    std::shared_ptr<platform::Timer> seekTimer;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, streamer.get(), [&](const platform::Notification&) {
            const AudioStreamerState state = streamer->state();
            std::printf("%8.3f s  state %s\n", secondsSinceStart(),
                        AudioStreamer::stateName(state));
            if (state == AS_STATE_PLAYING) {
                if (!playingAt) playingAt = secondsSinceStart();
                // The notification carries no state, so a seek that is back to PLAYING before
                // the main thread hears of its first change is never seen to leave PLAYING;
                // the position it reports then tells that it was carried out.
                const bool seekCarriedOut =
                    seekLeftPlaying || streamer->progress() >= seekTarget - 1.0;
                if (seekRequestedAt && seekCarriedOut && !seekPlayingAt) {
                    seekPlayingAt = secondsSinceStart();
                }
                if (!seekDone) {
                    seekDone = true;
                    // Not inside the notification's own setState: the observer runs under the
                    // streamer lock, and a seek request only records itself anyway.
                    seekTimer =
                        mainQueue->scheduleTimer(options.seekDelay, false, [&](platform::Timer&) {
                            seekRequestedAt = secondsSinceStart();
                            seekTarget = *options.seekTo;
                            streamer->seekToTime(seekTarget);
                        });
                }
            }
            // A seek counts as done at the first PLAYING after it has left PLAYING.
            if (seekRequestedAt && state != AS_STATE_PLAYING) seekLeftPlaying = true;
            if (state == AS_STATE_IDLE && started) mainQueue->quit();
        });

    // No timer at all when quiet: a wake-up a second would show in the real-time CPU figure.
    std::shared_ptr<platform::Timer> report;
    if (!options.quiet) {
        report = mainQueue->scheduleTimer(1.0, true, [&](platform::Timer&) {
            std::printf("%8.3f s  progress %.2f s  duration %.2f s  bit rate %.0f bit/s\n",
                        secondsSinceStart(), streamer->progress(), streamer->duration(),
                        streamer->calculatedBitRate());
        });
    }
    std::shared_ptr<platform::Timer> stopTimer;

    // stop waits for the streaming thread; its duration is the stop latency.
    auto timedStop = [&] {
        const double before = secondsSinceStart();
        streamer->stop();
        std::printf("stop took %.1f ms\n", (secondsSinceStart() - before) * 1000);
    };

    auto seekBy = [&](double delta) {
        const double target = std::max(0.0, streamer->progress() + delta);
        seekRequestedAt = secondsSinceStart();
        seekPlayingAt.reset();
        seekLeftPlaying = false;
        seekTarget = target;
        streamer->seekToTime(target);
    };

    // Signals and keys arrive on threads of their own and are carried out on the main thread.
    std::atomic<bool> finished{false};
    std::thread signalThread([&] {
        int signal = 0;
        while (sigwait(&signals, &signal) == 0) {
            if (finished) return;
            if (signal == SIGUSR1) mainQueue->post([&] { streamer->pause(); });
            if (signal == SIGUSR2) mainQueue->post([&] { seekBy(10); });
            if (signal == SIGINT || signal == SIGTERM) mainQueue->post([&] { timedStop(); });
        }
    });
    RawTerminal terminal;
    std::thread keyThread([&] {
        if (!terminal.active()) return;
        while (!finished) {
            pollfd in{STDIN_FILENO, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0) continue;
            char key = 0;
            if (::read(STDIN_FILENO, &key, 1) != 1) return;
            if (key == ' ' || key == 'p') mainQueue->post([&] { streamer->pause(); });
            if (key == 'f') mainQueue->post([&] { seekBy(10); });
            if (key == 'b') mainQueue->post([&] { seekBy(-10); });
            if (key == 'q') mainQueue->post([&] { timedStop(); });
        }
    });

    mainQueue->post([&] {
        started = true;
        startCalledAt = secondsSinceStart();
        streamer->start();
        if (options.stopAfter) {
            stopTimer = mainQueue->scheduleTimer(*options.stopAfter, false,
                                                 [&](platform::Timer&) { timedStop(); });
        }
    });
    mainQueue->run();
    // The observer quits on the idle state as soon as it reads it, which can be while the
    // error's alert is still queued behind an earlier state change: run what is queued.
    mainQueue->drainPosted();

    // Tear down in order: the input threads, the streaming thread, then the main queue.
    finished = true;
    ::kill(::getpid(), SIGUSR1);
    signalThread.join();
    keyThread.join();
    if (report) report->invalidate();
    if (stopTimer) stopTimer->invalidate();
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    AudioStreamer::waitForStreamingThreads(10);

    const AudioStreamerErrorCode error = streamer->errorCode();
    std::printf(
        "ended %s after %.3f s\n",
        error == AS_NO_ERROR ? "normally" : AudioStreamer::stringForErrorCode(error).c_str(),
        secondsSinceStart());
    if (playingAt) std::printf("start to PLAYING: %.1f ms\n", (*playingAt - startCalledAt) * 1000);
    if (firstSampleSeen) std::printf("first sample: %.1f ms\n", firstSampleAt.load() * 1000);
    if (seekRequestedAt && seekPlayingAt) {
        std::printf("seek to PLAYING: %.1f ms\n", (*seekPlayingAt - *seekRequestedAt) * 1000);
    }
    std::printf("underruns: %llu\n", (unsigned long long)audio::AudioSinkUnderrunCount());
    if (wav) {
        std::printf("wrote %llu frames to %s\n", (unsigned long long)wav->framesWritten(),
                    options.wavPath.c_str());
        wav->finish();
    }
    std::fflush(stdout);
    streamer.reset();
    audio::AudioSinkSetFactory(nullptr);
    return error == AS_NO_ERROR ? 0 : int(error);
}
