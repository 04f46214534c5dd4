// Whole runs of the engine against the loopback server: the real read stream, parser and queue,
// the capture sink, and the deterministic main queue.

#include <chrono>
#include <fstream>

#include "platform/audio/AudioSession.h"
#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

constexpr double kPacketSeconds = 1152.0 / 44100.0;

class PlaybackTest : public StreamerTest {
protected:
    // Plays to the end, polling progress as a screen would, and returns the last value.
    double playToEnd(AudioStreamer& streamer) {
        streamer.start();
        double lastSeen = 0;
        EXPECT_TRUE(runUntil(
            [&] {
                if (streamer.isPlaying()) lastSeen = streamer.progress();
                return streamer.isIdle();
            },
            60));
        return lastSeen;
    }
};

}  // namespace

// A file plays from start to end through the documented states, one notification each, all
// on the main thread, and the sink receives exactly ffmpeg's decode.
TEST_F(PlaybackTest, FilePlaysFromStartToEnd) {
    const std::string file = fixturePath("cbr128.mp3");
    server->serve("/song.mp3", Response::file(file));
    useCapture(20);
    auto streamer = makeStreamer("/song.mp3");
    StateHistory history(*mainQueue, streamer);

    const double finalProgress = playToEnd(*streamer);
    mainQueue->drain();

    const std::vector<AudioStreamerState> expected = {AS_STATE_IDLE,
                                                      AS_STATE_STARTING_THREAD,
                                                      AS_STATE_WAITING_FOR_DATA,
                                                      AS_STATE_WAITING_FOR_QUEUE_TO_START,
                                                      AS_STATE_PLAYING,
                                                      AS_STATE_STOPPING,
                                                      AS_STATE_STOPPED,
                                                      AS_STATE_IDLE};
    EXPECT_EQ(history.states(), expected) << history.describe();
    EXPECT_EQ(history.notificationCount(), int(expected.size()) - 1);
    EXPECT_TRUE(history.allNotificationsOnMainThread());
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    EXPECT_TRUE(Access::handlesAreNone(*streamer));
    EXPECT_EQ(alerts->count(), 0u);

    auto sink = lastSink();
    ASSERT_TRUE(sink);
    const Pcm capture = captured(*sink);
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    EXPECT_TRUE(sameAudio(capture, reference));

    // The length comes from the average packet in whole bytes (417 for 417.96), so it is long
    // by up to 0.25 % on 44.1 kHz files; beyond that it must agree with the file.
    const double fileSeconds = double(packetList("cbr128.mp3").size()) * kPacketSeconds;
    EXPECT_NEAR(streamer->duration(), fileSeconds, fileSeconds * 0.0025 + kPacketSeconds);
    // Progress stops where the download ended; what was queued then plays out afterwards.
    EXPECT_LE(finalProgress, fileSeconds + kPacketSeconds);
    EXPECT_GE(finalProgress, fileSeconds - 2.0);
    std::printf("duration %.3f s, final progress %.3f s, file %.3f s\n", streamer->duration(),
                finalProgress, fileSeconds);
}

// A file shorter than the start threshold only starts at the end of the download, through
// AS_STATE_FLUSHING_EOF, and still plays every frame.
TEST_F(PlaybackTest, ShortFilePlaysThroughFlushingEof) {
    // The first 40 frames of a tag-less file: a few buffers, far below the threshold.
    const auto packets = packetList("cbr128-noxing.mp3");
    ASSERT_GT(packets.size(), 40u);
    const std::string whole = readFile(fixturePath("cbr128-noxing.mp3"));
    const std::string shortFile = whole.substr(0, size_t(packets[40].first));
    const std::string shortPath = std::string(OSTRA_BINARY_DIR) + "/streaming-short.mp3";
    {
        std::ofstream out(shortPath, std::ios::binary);
        out << shortFile;
    }
    server->serve("/short.mp3", Response::bytes(shortFile));
    useCapture(1);
    auto streamer = makeStreamer("/short.mp3");
    StateHistory history(*mainQueue, streamer);

    playToEnd(*streamer);

    const auto states = history.states();
    ASSERT_GE(states.size(), 4u) << history.describe();
    EXPECT_EQ(states[2], AS_STATE_WAITING_FOR_DATA);
    EXPECT_EQ(states[3], AS_STATE_FLUSHING_EOF);
    EXPECT_TRUE(history.contains(AS_STATE_WAITING_FOR_QUEUE_TO_START));
    EXPECT_EQ(states.back(), AS_STATE_IDLE);
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);

    auto sink = lastSink();
    ASSERT_TRUE(sink);
    const Pcm capture = captured(*sink);
    const Pcm reference = referenceDecode(shortPath, capture.sampleRate, capture.channels);
    // Every frame reached the sink and was played, none cut off by the clean-up.
    EXPECT_GE(capture.frames(), reference.frames());
    const auto d = findOffset(capture, reference, 4096, 4096, -4096, 4096);
    ASSERT_TRUE(d);
    EXPECT_LE(maxDifference(capture, reference, 4096,
                            reference.frames() - 4096 - 1152 - std::max(0L, *d), *d),
              1e-4f);
    EXPECT_EQ(sink->discardedCount(), 0u);
}

// An endless live stream without a length plays; it has no duration, no request ever carries a
// Range header, and stop returns quickly.
TEST_F(PlaybackTest, LiveStreamPlaysWithoutLengthAndStopsQuickly) {
    server->serve(
        "/",
        Response::live(testsupport::repeating(readFile(fixturePath("cbr128-noxing.mp3"))), 64000));
    useCapture(1);
    auto streamer = makeStreamer("/");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING))
        << history.describe() << " error " << streamer->errorCode() << " "
        << ::testing::PrintToString(logs->lines());
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 0.3; }));
    streamer->seekToTime(5);  // dropped: a stream without a length cannot seek
    // So its parser indexes nothing for seeks, however long it plays.
    EXPECT_EQ(Access::parserIndexesForSeeks(*streamer), std::optional(false));

    EXPECT_EQ(streamer->duration(), 0.0);
    EXPECT_EQ(Access::fileLength(*streamer), 0);
    auto headers = streamer->httpHeaders();
    ASSERT_TRUE(headers);

    const auto before = std::chrono::steady_clock::now();
    streamer->stop();
    const double stopSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    std::printf("stop took %.1f ms\n", stopSeconds * 1000);
    EXPECT_LT(stopSeconds, 1.0);  // the benchmark measures it; this only catches a lost wake-up

    EXPECT_TRUE(streamer->isIdle());
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    for (const auto& request : server->requests()) EXPECT_FALSE(request.hasHeader("Range"));
    EXPECT_EQ(server->requests().size(), 1u);
}

// A live stream paced like a real station (128 kbit/s is 16 kB/s, and twice that) arrives in
// small pieces from its first byte on; the format is still recognised and playback starts.
TEST_F(PlaybackTest, SlowlyPacedLiveStreamsReachPlaying) {
    const std::string frames = readFile(fixturePath("cbr128-noxing.mp3"));
    useCapture(1);
    for (const double rate : {16000.0, 32000.0}) {
        SCOPED_TRACE(rate);
        const std::string path = "/live" + std::to_string(int(rate));
        server->serve(path, Response::live(testsupport::repeating(frames), rate));
        auto streamer = makeStreamer(path);
        StateHistory history(*mainQueue, streamer);
        streamer->start();
        ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING))
            << history.describe() << " error " << streamer->errorCode() << " "
            << ::testing::PrintToString(logs->lines());
        ASSERT_TRUE(runUntil([&] { return streamer->progress() > 0.2; }));
        EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
        streamer->stop();
        EXPECT_TRUE(waitForIdle(*streamer));
        EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    }
}

// An AAC live stream starts on the head start a station sends, as MP3 does: the buffers are
// sized from AAC's own packet bound, so three seconds of 128 kbit/s fill them all.
TEST_F(PlaybackTest, AdtsLiveStreamStartsOnAFewSecondsOfAudio) {
    const std::string frames = readFile(fixturePath("adts-lc.aac"));
    server->serve("/live.aac",
                  Response::live(testsupport::repeating(frames)).pauseAfter(3 * 16000, "held"));
    useCapture(1);
    auto streamer = makeStreamer("/live.aac");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(server->waitForPause("held"));
    EXPECT_TRUE(waitForState(*streamer, AS_STATE_PLAYING))
        << history.describe() << " error " << streamer->errorCode();
    server->release("held");
    streamer->stop();
    EXPECT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// A buffer is handed over when its description array is full, so the data can end with
// nothing left in the partial buffer and fewer buffers queued than the start threshold: what
// is queued is still played. Here one large packet sizes the buffers, and ten real frames plus
// 502 one-byte packets (which do not decode) fill the second buffer's 512 descriptions.
TEST_F(PlaybackTest, EndRightAfterAFullDescriptionArrayPlaysWhatIsQueued) {
    const std::vector<std::string> frames = fixturePackets("cbr128-noxing.mp3");
    std::vector<std::string> packets;
    packets.push_back(frames[0] + std::string(8000 - frames[0].size(), '\0'));
    for (size_t i = 1; i <= 10; ++i) packets.push_back(frames[i]);
    for (size_t i = 0; i < 502; ++i) packets.push_back(std::string(1, '\0'));
    server->serve("/tiny.caf", Response::bytes(mp3Caf(packets)));
    useCapture(0);
    auto streamer = makeStreamer("/tiny.caf");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR) << history.describe();
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    auto sink = lastSink();
    ASSERT_TRUE(sink);
    EXPECT_GE(captured(*sink).frames(), 10 * 1152);
}

// The download may end while the streamer is paused (a programme's last second fits in the
// ring). Pausing stays paused: the end is kept until the user resumes, and then everything
// queued is played and the run ends normally.
TEST_F(PlaybackTest, EndOfDataWhilePausedWaitsForResume) {
    const std::vector<std::string> frames = fixturePackets("cbr128-noxing.mp3");
    std::string file;
    size_t heldAt = 0;
    for (size_t i = 0; i < 80; ++i) {
        if (i == 60) heldAt = file.size();
        file += frames[i];
    }
    server->serve("/short.mp3", Response::bytes(file).pauseAfter(heldAt, "end"));
    useCapture(1);
    auto streamer = makeStreamer("/short.mp3");
    streamer->start();
    ASSERT_TRUE(server->waitForPause("end"));
    // Paused with room in the ring for the rest, so the download can reach its end.
    ASSERT_TRUE(runUntil([&] {
        return streamer->state() == AS_STATE_PLAYING && Access::buffersUsed(*streamer) <= 6;
    }));
    streamer->pause();
    ASSERT_EQ(streamer->state(), AS_STATE_PAUSED);
    server->release("end");
    ASSERT_TRUE(runUntil([&] {
        return Access::endOfStreamWhilePaused(*streamer) || streamer->state() != AS_STATE_PAUSED;
    }));
    mainQueue->drain();
    EXPECT_EQ(streamer->state(), AS_STATE_PAUSED);

    streamer->start();  // resumes, as the play button does
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    auto sink = lastSink();
    ASSERT_TRUE(sink);
    EXPECT_GE(sink->consumedCount() - sink->discardedCount(), 79u * 1152);
}

// An MP4 written with its index after the data plays whole: where the server takes ranges the
// index is fetched from the end first and then the data from its start, each once; without a
// length the data is kept aside until the index has come. A seek in it lands on the packet.
TEST_F(PlaybackTest, Mp4WithTheIndexAfterTheDataPlays) {
    const std::string path = fixturePath("aac-moov-at-end.m4a");
    const auto packets = packetList("aac-moov-at-end.m4a");
    const int64_t dataStart = packets.front().first;
    const int64_t dataEnd = packets.back().first + packets.back().second;
    server->serve("/ranged.m4a", Response::file(path));
    server->serve("/unsized.m4a", Response::file(path).closeDelimited());
    useCapture(0);
    for (const std::string name : {"/ranged.m4a", "/unsized.m4a"}) {
        SCOPED_TRACE(name);
        const size_t requestsBefore = server->requests().size();
        auto streamer = makeStreamer(name);
        streamer->start();
        ASSERT_TRUE(waitForIdle(*streamer));
        EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
        EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
        const auto requests = server->requests();
        std::vector<std::string> ranges;
        for (size_t i = requestsBefore; i < requests.size(); ++i)
            ranges.push_back(requests[i].header("Range"));
        if (name == "/ranged.m4a") {
            ASSERT_EQ(ranges.size(), 3u);
            EXPECT_EQ(ranges[0], "");
            EXPECT_GE(std::strtoll(ranges[1].c_str() + 6, nullptr, 10), dataEnd) << ranges[1];
            EXPECT_EQ(std::strtoll(ranges[2].c_str() + 6, nullptr, 10), dataStart) << ranges[2];
        } else {
            EXPECT_EQ(ranges, std::vector<std::string>{""});
        }
        auto sink = lastSink();
        ASSERT_TRUE(sink);
        const Pcm capture = captured(*sink);
        const Pcm reference = referenceDecode(path, capture.sampleRate, capture.channels);
        EXPECT_NEAR(double(capture.frames()), double(reference.frames()), 2048);
        const auto d = findOffset(capture, reference, 44100, 4096, -4096, 4096);
        ASSERT_TRUE(d);
        EXPECT_LE(maxDifference(capture, reference, 44100, 15 * 44100, *d), 1e-4f);
    }

    useCapture(4);
    auto streamer = makeStreamer("/ranged.m4a");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 1.0; }));
    EXPECT_NEAR(streamer->duration(), 20.0, 0.5);
    streamer->seekToTime(12.0);
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 12.5; }));
    EXPECT_LT(streamer->progress(), 14.0);
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// Pause halts playback where it is, progress stays with what was played, and resuming loses
// and repeats nothing.
TEST_F(PlaybackTest, PauseAndResumeKeepEveryFrame) {
    const std::string file = fixturePath("cbr128.mp3");
    server->serve("/song.mp3", Response::file(file));
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 2.0; }));

    // A file with a length can seek, so its parser keeps the index.
    EXPECT_EQ(Access::parserIndexesForSeeks(*streamer), std::optional(true));
    streamer->pause();
    EXPECT_EQ(streamer->state(), AS_STATE_PAUSED);
    auto sink = lastSink();
    const uint64_t consumed = sink->consumedCount();
    // Nothing more is played while paused (a bounded wait that must run out).
    EXPECT_FALSE(runUntil([&] { return sink->consumedCount() != consumed; }, 0.3));
    EXPECT_NEAR(streamer->progress(), double(consumed) / sink->format().sampleRate, kPacketSeconds);

    streamer->pause();  // resumes
    EXPECT_EQ(streamer->state(), AS_STATE_PLAYING);
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 4.0; }));
    EXPECT_GE(streamer->progress(), double(consumed) / sink->format().sampleRate);

    // start on a paused streamer resumes it too.
    streamer->pause();
    streamer->start();
    EXPECT_EQ(streamer->state(), AS_STATE_PLAYING);

    ASSERT_TRUE(waitForIdle(*streamer, 60));
    const Pcm capture = captured(*sink);
    EXPECT_TRUE(sameAudio(capture, referenceDecode(file, capture.sampleRate, capture.channels)));
}

// An audio interruption pauses a playing streamer and its end resumes it. Once the streamer
// is gone an interruption reaches nobody (AddressSanitizer would report a call into it).
TEST_F(PlaybackTest, InterruptionPausesAndItsEndResumes) {
    server->serve("/song.mp3", Response::file(fixturePath("cbr128.mp3")));
    useCapture(4);
    auto streamer = AudioStreamer::create(server->url("/song.mp3"));
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    audio::AudioSessionSimulateInterruption(audio::kAudioSessionBeginInterruption);
    EXPECT_EQ(streamer->state(), AS_STATE_PAUSED);
    audio::AudioSessionSimulateInterruption(audio::kAudioSessionEndInterruption);
    EXPECT_EQ(streamer->state(), AS_STATE_PLAYING);

    streamer->stop();
    ASSERT_TRUE(streamer->isIdle());
    streamer.reset();
    audio::AudioSessionSimulateInterruption(audio::kAudioSessionBeginInterruption);
    audio::AudioSessionSimulateInterruption(audio::kAudioSessionEndInterruption);
}

// After a normal stop the streamer starts again and plays from byte 0, reading the length anew.
TEST_F(PlaybackTest, RestartAfterStopPlaysFromByteZero) {
    const std::string file = fixturePath("cbr128.mp3");
    server->serve("/song.mp3", Response::file(file));
    useCapture(20);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 3.0; }));
    streamer->stop();
    EXPECT_TRUE(streamer->isIdle());
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_USER);

    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    ASSERT_EQ(server->requests().size(), 2u);
    EXPECT_FALSE(server->requests()[1].hasHeader("Range"));
    EXPECT_EQ(Access::fileLength(*streamer), int32_t(readFile(file).size()));

    const auto sinks = captureFactory->sinks();
    ASSERT_EQ(sinks.size(), 2u);
    const Pcm second = captured(*sinks[1]);
    EXPECT_TRUE(sameAudio(second, referenceDecode(file, second.sampleRate, second.channels)));
}

// A second start while the first run goes on changes nothing: one streaming thread, one
// request, and the run plays to its end as if started once.
TEST_F(PlaybackTest, StartTwiceIsOneRun) {
    server->serve("/once.mp3", Response::file(fixturePath("cbr128.mp3")));
    useCapture(0);
    auto streamer = makeStreamer("/once.mp3");
    streamer->start();
    streamer->start();
    EXPECT_EQ(AudioStreamer::liveStreamingThreads(), 1);
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    EXPECT_EQ(server->requests().size(), 1u);
}

namespace {

// `audio` as an Icecast server sends it to a listener that asked for metadata: a block after
// every `interval` bytes, a new title now and then (about every 16 kB of audio) and empty
// blocks between.
std::string interleaveMetadata(const std::string& audio, size_t interval,
                               std::vector<std::string>* titles) {
    auto block = [](const std::string& text) {
        const size_t padded = (text.size() + 15) / 16 * 16;
        std::string bytes(1, static_cast<char>(padded / 16));
        return bytes + text + std::string(padded - text.size(), '\0');
    };
    const size_t everyBlocks = std::max<size_t>(1, 16000 / interval);
    std::string stream;
    size_t boundary = 0;
    for (size_t at = 0; at + interval <= audio.size(); at += interval, ++boundary) {
        stream.append(audio, at, interval);
        if (boundary % everyBlocks == 0) {
            titles->push_back("Segment " + std::to_string(titles->size() + 1));
            stream += block("StreamTitle='" + titles->back() + "';StreamUrl='';");
        } else {
            stream += block("");
        }
    }
    return stream + audio.substr(audio.size() / interval * interval);
}

}  // namespace

// A station that interleaves its titles: with the interval at every place relative to the
// streamer's 2,048-byte reads, the PCM is exactly the file's own decode (no metadata byte
// reaches the parser), the request asked for metadata, and the titles are announced on the
// main thread in the order they came.
TEST_F(PlaybackTest, InterleavedMetadataNeverReachesTheAudio) {
    const std::string file = fixturePath("cbr128.mp3");
    const std::string audio = readFile(file);
    for (size_t interval : {1, 2047, 2048, 2049, 16000}) {
        SCOPED_TRACE("icy-metaint " + std::to_string(interval));
        std::vector<std::string> titles;
        const std::string path = "/icy" + std::to_string(interval);
        server->serve(path, Response::bytes(interleaveMetadata(audio, interval, &titles))
                                .icy()
                                .header("icy-metaint", std::to_string(interval)));
        useCapture(20);
        auto streamer = makeStreamer(path);
        std::vector<std::string> announced;
        const auto token = platform::NotificationCenter::defaultCenter().addObserver(
            ASStreamTitleChangedNotification, streamer.get(), [&](const platform::Notification&) {
                EXPECT_TRUE(mainQueue->isMainThread());
                announced.push_back(streamer->streamTitle());
            });
        streamer->start();
        ASSERT_TRUE(runUntil([&] { return streamer->isIdle(); }, 60));
        mainQueue->drain();
        platform::NotificationCenter::defaultCenter().removeObserver(token);

        EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
        const Pcm capture = captured(*lastSink());
        EXPECT_TRUE(
            sameAudio(capture, referenceDecode(file, capture.sampleRate, capture.channels)));
        EXPECT_EQ(server->requests().back().header("icy-metadata"), "1");
        EXPECT_EQ(streamer->stationName(), "Ostra Test Radio");
        EXPECT_EQ(streamer->streamTitle(), titles.back());
        // No announcement names an older title than the one before (when several changes
        // come between two turns of the main queue, each reads the newest).
        ASSERT_FALSE(announced.empty());
        for (size_t i = 1; i < announced.size(); ++i) {
            EXPECT_LE(std::stoi(announced[i - 1].substr(8)), std::stoi(announced[i].substr(8)));
        }
        EXPECT_EQ(announced.back(), titles.back());
    }
}

// A server that announces an interval but sends no blocks plays as before; one whose blocks stop
// making sense part-way ends with the data error, after clean audio only.
TEST_F(PlaybackTest, AnnouncedMetadataWithoutBlocksOrWithBrokenOnes) {
    const std::string file = fixturePath("cbr128.mp3");
    const std::string audio = readFile(file);
    server->serve("/noblocks", Response::bytes(audio).icy().header("icy-metaint", "16000"));
    useCapture(20);
    auto plain = makeStreamer("/noblocks");
    plain->start();
    ASSERT_TRUE(runUntil([&] { return plain->isIdle(); }, 60));
    EXPECT_EQ(plain->errorCode(), AS_NO_ERROR);
    Pcm capture = captured(*lastSink());
    EXPECT_TRUE(sameAudio(capture, referenceDecode(file, capture.sampleRate, capture.channels)));
    EXPECT_TRUE(plain->streamTitle().empty());

    // A title at the first boundary; at the second a length byte and 32 bytes of binary.
    std::string title = "StreamTitle='Segment 1';";
    title.append(32 - title.size(), '\0');
    const std::string corrupt = audio.substr(0, 16000) + std::string(1, '\x02') + title +
                                audio.substr(16000, 16000) + std::string(1, '\x02') +
                                std::string(32, '\x07') + audio.substr(32000);
    server->serve("/broken", Response::bytes(corrupt).icy().header("icy-metaint", "16000"));
    useCapture(20);
    auto failing = makeStreamer("/broken");
    failing->start();
    ASSERT_TRUE(runUntil([&] { return failing->isIdle(); }, 60));
    EXPECT_EQ(failing->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_EQ(failing->streamTitle(), "Segment 1");
    // What played is the file's first two seconds or less, sample for sample.
    capture = captured(*lastSink());
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    EXPECT_LE(capture.frames(), size_t(2 * 44100 + 4096));
    if (capture.frames() > 8192) {
        const auto d = findOffset(capture, reference, 2048, 2048, -4096, 4096);
        ASSERT_TRUE(d);
        EXPECT_LE(maxDifference(capture, reference, 2048, capture.frames() - 2048 - 1152, *d),
                  1e-4f);
    }
}

// A station's playlist address: the playlist is read whole and its entry plays, in the same
// run, exactly as the file would; with an M3U whose first entry is gone, the second plays; an
// HLS playlist is no list of streams: its segment is read, and one that is gone ends the run as
// any resource without audio does.
TEST_F(PlaybackTest, PlaylistsPlayTheirEntries) {
    const std::string file = fixturePath("cbr128.mp3");
    server->serve("/song.mp3", Response::file(file));
    server->serve("/station.pls",
                  Response::bytes("[playlist]\nNumberOfEntries=1\nFile1=" +
                                  server->url("/song.mp3") + "\nTitle1=Ostra Radio\n")
                      .header("Content-Type", "audio/x-scpls"));
    server->serve("/gone.mp3", Response::notFound());
    server->serve("/lists/station.m3u",
                  Response::bytes("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:-1,Ostra Radio\r\n/gone.mp3\r\n"
                                  "../song.mp3\r\n")
                      .header("Content-Type", "text/plain"));
    server->serve("/live.m3u8", Response::bytes("#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\n"
                                                "segment0.aac\n")
                                    .header("Content-Type", "application/vnd.apple.mpegurl"));

    for (const char* path : {"/station.pls", "/lists/station.m3u"}) {
        SCOPED_TRACE(path);
        useCapture(20);
        auto streamer = makeStreamer(path);
        playToEnd(*streamer);
        EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
        EXPECT_EQ(streamer->urlString(), server->url(path));
        const Pcm capture = captured(*lastSink());
        EXPECT_TRUE(
            sameAudio(capture, referenceDecode(file, capture.sampleRate, capture.channels)));
    }
    std::vector<std::string> paths;
    for (const auto& request : server->requests()) paths.push_back(request.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"/station.pls", "/song.mp3", "/lists/station.m3u",
                                               "/gone.mp3", "/song.mp3"}));
    EXPECT_EQ(alerts->count(), 0u);

    auto hls = makeStreamer("/live.m3u8");
    hls->start();
    ASSERT_TRUE(waitForIdle(*hls));
    EXPECT_EQ(hls->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    ASSERT_EQ(server->requests().size(), paths.size() + 2);
    EXPECT_EQ(server->requests().back().path, "/segment0.aac");
}
