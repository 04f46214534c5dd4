#include "tests/streaming/StreamerTestSupport.h"

#include <dirent.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/MainQueue.h"

namespace streamertest {

namespace {

void appendBigEndian(std::string& out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(char(value >> shift));
}

void appendChunk(std::string& out, const char* type, const std::string& body) {
    out.append(type, 4);
    appendBigEndian(out, body.size(), 8);
    out += body;
}

}  // namespace

void RecordingMainQueue::post(std::function<void()> task) {
    {
        // Held while the hook runs, so that removing the hook waits for a call in progress.
        std::lock_guard lock(hookMutex_);
        if (hook_) hook_();
    }
    DeterministicMainQueue::post(std::move(task));
}

void RecordingMainQueue::setPostHook(std::function<void()> hook) {
    std::lock_guard lock(hookMutex_);
    hook_ = std::move(hook);
}

StateHistory::StateHistory(RecordingMainQueue& queue, std::shared_ptr<AudioStreamer> streamer)
    : queue_(queue), streamer_(std::move(streamer)) {
    changes_.emplace_back(streamer_->state(), AudioStreamerTestAccess::buffersUsed(*streamer_));
    // Changes made off the main thread: seen at the moment setState posts.
    queue_.setPostHook([this] { record(); });
    // Changes made on the main thread: seen in the notification, which runs inside setState.
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, streamer_.get(), [this](const platform::Notification&) {
            if (!queue_.isMainThread()) allOnMain_ = false;
            ++notifications_;
            record();
        });
}

StateHistory::~StateHistory() {
    queue_.setPostHook(nullptr);
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
}

void StateHistory::record() {
    const AudioStreamerState state = streamer_->state();
    const int32_t buffers = AudioStreamerTestAccess::buffersUsed(*streamer_);
    std::lock_guard lock(mutex_);
    // Posts that are not state changes (alerts) repeat the current state: kept once.
    if (changes_.empty() || changes_.back().first != state) changes_.emplace_back(state, buffers);
}

std::vector<AudioStreamerState> StateHistory::states() const {
    std::lock_guard lock(mutex_);
    std::vector<AudioStreamerState> result;
    for (const auto& change : changes_) result.push_back(change.first);
    return result;
}

std::optional<int32_t> StateHistory::buffersAt(AudioStreamerState state, int occurrence) const {
    std::lock_guard lock(mutex_);
    for (const auto& change : changes_) {
        if (change.first == state && occurrence-- == 0) return change.second;
    }
    return std::nullopt;
}

bool StateHistory::contains(AudioStreamerState state) const {
    const auto all = states();
    return std::find(all.begin(), all.end(), state) != all.end();
}

std::string StateHistory::describe() const {
    std::ostringstream text;
    for (AudioStreamerState state : states()) text << int(state) << ' ';
    text << "(" << notificationCount() << " notifications)";
    return text.str();
}

Pcm captured(const audio::CaptureAudioSink& sink) {
    Pcm pcm;
    pcm.samples = sink.samples();
    pcm.channels = sink.format().channels;
    pcm.sampleRate = sink.format().sampleRate;
    return pcm;
}

::testing::AssertionResult sameAudio(const Pcm& capture, const Pcm& reference, float tolerance,
                                     long endPadding) {
    if (capture.frames() < 20000) {
        return ::testing::AssertionFailure() << "only " << capture.frames() << " frames captured";
    }
    const auto d = findOffset(capture, reference, 8192, 4096, -4096, 4096, tolerance);
    if (!d) return ::testing::AssertionFailure() << "no alignment with the reference found";
    const long first = std::max(0L, -*d);
    const long last = std::min(long(capture.frames()), long(reference.frames()) - *d);
    const float worst = maxDifference(capture, reference, size_t(first), size_t(last - first), *d);
    if (worst > tolerance) {
        return ::testing::AssertionFailure() << "differs by " << worst << " at offset " << *d;
    }
    if (last + *d + endPadding < long(reference.frames()) || first + *d > 0) {
        return ::testing::AssertionFailure() << "covers reference frames " << first + *d << " to "
                                             << last + *d << " of " << reference.frames();
    }
    return ::testing::AssertionSuccess() << "offset " << *d << ", max difference " << worst;
}

std::optional<double> resumedAt(const Pcm& capture, const Pcm& reference, float tolerance) {
    const long step = 256;
    const size_t tailStart = capture.frames() - size_t(capture.sampleRate) / 4;
    const auto d = findOffset(capture, reference, tailStart, 4096, -long(capture.frames()),
                              long(reference.frames()), tolerance);
    if (!d) return std::nullopt;
    size_t first = tailStart;
    while (first >= size_t(step) &&
           maxDifference(capture, reference, first - size_t(step), size_t(step), *d) <= tolerance) {
        first -= size_t(step);
    }
    return double(long(first) + *d) / capture.sampleRate;
}

::testing::AssertionResult landedWithinAPacket(double target, double resumed, double progress,
                                               double packetSeconds) {
    if (resumed < target - packetSeconds - 0.01 || resumed > target + 2 * packetSeconds + 0.01) {
        return ::testing::AssertionFailure()
               << "resumed at " << resumed << " s for a seek to " << target << " s";
    }
    if (progress < resumed - packetSeconds || progress > resumed + 2.0) {
        return ::testing::AssertionFailure()
               << "progress " << progress << " s after resuming at " << resumed << " s";
    }
    return ::testing::AssertionSuccess();
}

std::string mp3Caf(const std::vector<std::string>& packets) {
    std::string desc;
    const double rate = 44100;
    uint64_t rateBits = 0;
    std::memcpy(&rateBits, &rate, sizeof rate);
    appendBigEndian(desc, rateBits, 8);
    desc += ".mp3";
    for (uint32_t field : {0u, 0u, 1152u, 2u, 0u}) appendBigEndian(desc, field, 4);
    std::string pakt;
    appendBigEndian(pakt, packets.size(), 8);
    appendBigEndian(pakt, packets.size() * 1152, 8);
    appendBigEndian(pakt, 0, 8);  // priming and remainder frames
    std::string data(4, '\0');    // edit count
    for (const std::string& packet : packets) {
        std::string size;
        for (uint32_t v = uint32_t(packet.size()); v; v >>= 7)
            size.insert(size.begin(), char(v & 0x7f));
        for (size_t i = 0; i + 1 < size.size(); ++i) size[i] = char(size[i] | 0x80);
        pakt += size;
        data += packet;
    }
    std::string file("caff\0\1\0\0", 8);
    appendChunk(file, "desc", desc);
    appendChunk(file, "pakt", pakt);
    appendChunk(file, "data", data);
    return file;
}

std::vector<std::pair<int64_t, int64_t>> packetList(const std::string& fixture) {
    std::ifstream in(fixturePath(fixture) + ".packets");
    std::vector<std::pair<int64_t, int64_t>> packets;
    int64_t position, size;
    while (in >> position >> size) packets.emplace_back(position, size);
    return packets;
}

std::vector<std::string> fixturePackets(const std::string& fixture) {
    const std::string bytes = readFile(fixturePath(fixture));
    std::vector<std::string> packets;
    for (const auto& [position, size] : packetList(fixture))
        packets.push_back(bytes.substr(size_t(position), size_t(size)));
    return packets;
}

int openFileDescriptors() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) ++count;
        ::closedir(dir);
    }
    return count;
}

void StreamerTest::SetUp() {
    fdsAtStart = openFileDescriptors();
    mainQueue = std::make_shared<RecordingMainQueue>();
    platform::MainQueue::setMain(mainQueue);
    alerts = std::make_shared<platform::RecordingAlertPresenter>();
    platform::AlertPresenter::setCurrent(alerts);
    logs = std::make_unique<platform::LogCapture>();
    server = std::make_unique<testsupport::TestHttpServer>();
    useCapture(0);
}

void StreamerTest::TearDown() {
    for (auto& streamer : streamers) {
        if (!streamer->isIdle()) streamer->stop();
    }
    streamers.clear();
    EXPECT_TRUE(AudioStreamer::waitForStreamingThreads(10)) << "a streaming thread is left";
    mainQueue->drain();
    server.reset();
    scopedFactory.reset();
    captureFactory.reset();
    logs.reset();
    platform::AlertPresenter::setCurrent(nullptr);
    mainQueue->drain();
    platform::MainQueue::setMain(nullptr);
}

void StreamerTest::useCapture(double speed, double capacitySeconds) {
    scopedFactory.reset();
    audio::CaptureOptions options;
    options.speed = speed;
    options.capacitySeconds = capacitySeconds;
    captureFactory = std::make_unique<audio::CaptureAudioSinkFactory>(options);
    scopedFactory = std::make_unique<audio::ScopedAudioSinkFactory>(captureFactory->factory());
}

std::shared_ptr<audio::CaptureAudioSink> StreamerTest::lastSink() const {
    return captureFactory->last();
}

std::shared_ptr<AudioStreamer> StreamerTest::makeStreamer(const std::string& path) {
    streamers.push_back(AudioStreamer::create(server->url(path)));
    return streamers.back();
}

bool StreamerTest::runUntil(const std::function<bool()>& done, double seconds) {
    // Polls every millisecond, so conditions that no post announces (progress) are seen too.
    return mainQueue->runUntilAdvancing(done, 0.001,
                                        std::chrono::milliseconds(long(seconds * 1000)));
}

bool StreamerTest::waitForState(AudioStreamer& s, AudioStreamerState state, double seconds) {
    return runUntil([&] { return s.state() == state; }, seconds);
}

}  // namespace streamertest
