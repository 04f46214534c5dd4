// How the read stream and its RunLoop behave over time: back-pressure, the stall bound,
// wake-ups, and the event rules the streaming engine relies on.

#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "platform/http/ReadStream.h"
#include "tests/http/AllocationCounter.h"
#include "tests/http/StreamReader.h"
#include "tests/support/TestHttpServer.h"

using namespace platform::http;
using namespace std::chrono_literals;
using testsupport::Response;
using testsupport::StreamReader;
using testsupport::TestHttpServer;
using Clock = std::chrono::steady_clock;

namespace {

std::string sampleBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(testsupport::patternByte(i));
    return body;
}

// True when `bytes` is the counting pattern from offset 0: no byte lost, repeated or moved.
bool isCountingPattern(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (static_cast<uint8_t>(bytes[i]) != testsupport::patternByte(i)) return false;
    }
    return true;
}

size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Polls the thread's scheduler state until it sleeps ('S'), for at most `timeout`.
bool waitUntilSleeping(pid_t thread, std::chrono::duration<double> timeout) {
    const std::string path = "/proc/self/task/" + std::to_string(thread) + "/stat";
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        std::ifstream stat(path);
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');  // the name in parentheses may contain spaces
        if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S') {
            return true;
        }
        std::this_thread::yield();
    }
    return false;
}

}  // namespace

// A loop with no stream says so at once; a scheduled stream keeps it running until closed.
TEST(RunLoop, ReportsFalseWithoutStreams) {
    auto loop = RunLoop::current();
    EXPECT_EQ(loop, RunLoop::current());  // one loop per thread
    EXPECT_FALSE(loop->runOnce(5.0));

    TestHttpServer server;
    server.serve("/slow", Response::bytes("x").stallBeforeHeaders(60s));
    auto stream = ReadStream::create(server.url("/slow"));
    ASSERT_TRUE(stream->open());
    EXPECT_FALSE(loop->runOnce(5.0));  // opened but not scheduled: not on this loop
    stream->scheduleWithRunLoop(loop);
    EXPECT_TRUE(loop->runOnce(0.05));  // nothing happens: the slice runs out
    stream->close();
    EXPECT_FALSE(loop->runOnce(5.0));

    std::thread([&] { EXPECT_NE(RunLoop::current(), loop); }).join();
}

// wakeUp from another thread makes a waiting run return within a few milliseconds.
TEST(RunLoop, WakeUpReturnsWaitingRunEarly) {
    TestHttpServer server;
    server.serve("/silent", Response::bytes("x").stallBeforeHeaders(60s));
    StreamReader reader(server.url("/silent"));
    ASSERT_TRUE(reader.open());
    // The connection is made by the loop: run it until the request is in.
    reader.run(10s, [&] { return server.requests().size() == 1; });
    ASSERT_EQ(server.requests().size(), 1u);
    auto loop = reader.loop();

    const pid_t runner = gettid();
    std::atomic<bool> running{false};
    Clock::time_point wokenAt;
    bool sawWait = false;
    std::thread waker([&] {
        // Wake the run only once it sleeps in the kernel: a wake-up that came before the
        // wait would not show that the wait is interrupted.
        while (!running.load()) std::this_thread::yield();
        sawWait = waitUntilSleeping(runner, 5s);
        wokenAt = Clock::now();
        loop->wakeUp();
    });
    const auto began = Clock::now();
    running = true;
    EXPECT_TRUE(loop->runOnce(5.0));
    const auto returned = Clock::now();
    waker.join();
    EXPECT_TRUE(sawWait);
    const double latencyMs = std::chrono::duration<double, std::milli>(returned - wokenAt).count();
    std::printf("wake-up latency: %.3f ms (run lasted %.1f ms)\n", latencyMs,
                std::chrono::duration<double, std::milli>(returned - began).count());
    EXPECT_LT(latencyMs, 200.0);
    EXPECT_TRUE(reader.events.empty());
}

// Events come only from inside runOnce, and bytes-available comes again on a later run while
// unread bytes remain, since the engine reads only 2048 bytes per event.
TEST(RunLoop, BytesAvailableRepeatsWhileUnreadBytesRemain) {
    TestHttpServer server;
    const std::string body = sampleBody(10'000);
    server.serve("/song.mp3", Response::bytes(body));
    StreamReader reader(server.url("/song.mp3"));
    ASSERT_TRUE(reader.open());
    EXPECT_TRUE(reader.events.empty());
    ASSERT_TRUE(reader.run(10s, [&] { return !reader.body.empty(); }));
    EXPECT_EQ(reader.events.size(), 1u);  // one event per run
    EXPECT_LE(reader.body.size(), 2048u);
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.body == body);
    // At least five reads of at most 2048 bytes, each its own event, then the end.
    EXPECT_GE(reader.events.size(), 6u);
}

// A client that does not read is not called again for the same bytes; reading resumes the
// events and the data continues where it stopped.
TEST(RunLoop, ClientThatDoesNotReadIsNotCalledAgainAndAgain) {
    TestHttpServer server;
    const std::string body = sampleBody(3000);
    server.serve("/song.mp3", Response::bytes(body).closeDelimited());
    StreamReader reader(server.url("/song.mp3"));
    reader.reading = false;
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run(
        10s, [&] { return !reader.events.empty() && server.waitForConnectionsClosed(0s); }));
    EXPECT_TRUE(reader.stream().hasBytesAvailable());
    // Once every byte has arrived, further runs have nothing new to say.
    for (int i = 0; i < 3; ++i) reader.loop()->runOnce(0.02);
    const size_t seen = reader.events.size();
    for (int i = 0; i < 3; ++i) reader.loop()->runOnce(0.02);
    EXPECT_EQ(reader.events.size(), seen);
    EXPECT_EQ(reader.terminalEvents, 0);
    reader.reading = true;
    uint8_t buffer[100];
    ASSERT_EQ(reader.stream().read(buffer, sizeof buffer), 100);
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.ended());
    EXPECT_TRUE(body.compare(100, std::string::npos, reader.body) == 0);
}

// close() from inside the callback is safe, and a closed stream delivers nothing more.
TEST(RunLoop, CloseInsideCallbackStopsEverything) {
    TestHttpServer server;
    server.serve("/live", Response::live(testsupport::counting()));
    StreamReader reader(server.url("/live"));
    reader.onEvent = [&](int) { reader.stream().close(); };
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run(10s, [&] { return !reader.events.empty(); }));
    EXPECT_FALSE(reader.loop()->runOnce(1.0));  // no stream left on the loop
    EXPECT_EQ(reader.events.size(), 1u);
    EXPECT_FALSE(reader.stream().hasBytesAvailable());
    EXPECT_EQ(reader.stream().read(nullptr, 0), -1);
    EXPECT_TRUE(server.waitForConnectionsClosed());
}

// A reader that stops reading for 2 s against an endless fast stream keeps memory flat and
// the server's sent byte count bounded: for the first second the loop keeps running but the
// client takes no bytes (the transfer pauses), for the next the thread does not run the loop
// at all (as when the engine waits for a free buffer). The paused time does not count as a
// stall, and once reading resumes the data goes on without a byte lost or repeated.
TEST(ReadStreamBackPressure, BlockedReaderThrottlesTheServer) {
    TestHttpServer server;
    server.serve("/live", Response::live(testsupport::counting()));
    ReadStreamOptions options;
    options.stallTimeoutSeconds = 0.5;
    StreamReader reader(server.url("/live"), options);
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run(10s, [&] { return reader.body.size() >= 1'000'000; }));

    // Elapsed time is the point here; both phases wait on conditions with a deadline.
    reader.reading = false;
    const size_t residentBefore = residentBytes();
    const auto loopPhaseEnd = Clock::now() + 1s;
    reader.run(2s, [&] { return Clock::now() >= loopPhaseEnd; });
    const uint64_t sentAfterLoopPhase = server.totalBodyBytesSent();
    // The server must not get 16 MB further while nobody reads: this wait should time out.
    EXPECT_FALSE(server.waitForBodyBytes(sentAfterLoopPhase + 16'000'000, 1s));
    const uint64_t sentAfterIdlePhase = server.totalBodyBytesSent();
    const size_t residentAfter = residentBytes();
    std::printf(
        "while blocked: server sent %llu bytes beyond the %zu read; %llu more while "
        "the loop was idle; resident memory grew %lld bytes\n",
        static_cast<unsigned long long>(sentAfterLoopPhase - reader.body.size()),
        reader.body.size(),
        static_cast<unsigned long long>(sentAfterIdlePhase - sentAfterLoopPhase),
        static_cast<long long>(residentAfter) - static_cast<long long>(residentBefore));
    EXPECT_EQ(reader.terminalEvents, 0) << reader.stream().errorDescription();
    // Socket buffers on loopback hold a few megabytes; the stream itself holds 64 KiB.
    EXPECT_LT(sentAfterLoopPhase, reader.body.size() + 16'000'000u);
    EXPECT_LT(sentAfterIdlePhase - sentAfterLoopPhase, 512u * 1024u);
    EXPECT_LT(residentAfter, residentBefore + 4u * 1024u * 1024u);

    // A client that declined bytes takes them up again with a read of its own.
    reader.reading = true;
    uint8_t buffer[StreamReader::kReadSize];
    const long n = reader.stream().read(buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    reader.body.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    const size_t target = reader.body.size() + 3'000'000;
    ASSERT_TRUE(reader.run(10s, [&] { return reader.body.size() >= target; }));
    EXPECT_EQ(reader.terminalEvents, 0);
    EXPECT_TRUE(isCountingPattern(reader.body));
}

// Steady reading allocates nothing per read.
TEST(ReadStreamBackPressure, SteadyReadingDoesNotAllocate) {
    TestHttpServer server;
    server.serve("/song.mp3", Response::generated(8'000'000, testsupport::counting()));
    StreamReader reader(server.url("/song.mp3"));
    reader.body.reserve(8'000'000);
    reader.events.reserve(8'000);
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run(10s, [&] { return reader.body.size() >= 1'000'000; }));
    testsupport::startCountingAllocations();
    ASSERT_TRUE(reader.run(10s, [&] { return reader.body.size() >= 7'000'000; }));
    const size_t allocations = testsupport::stopCountingAllocations();
    const size_t reads = reader.events.size();
    std::printf("%zu operator new calls during about %zu reads\n", allocations, reads);
    EXPECT_LT(allocations, 10u);
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.ended());
    EXPECT_EQ(reader.body.size(), 8'000'000u);
}

// A connection that goes silent for longer than the bound gives the error event, whether it
// never answers or stops in the middle of the body.
TEST(ReadStreamStall, SilenceBeyondTheBoundGivesError) {
    TestHttpServer server;
    const std::string body = sampleBody(100'000);
    server.serve("/silent.mp3", Response::bytes(body).stallBeforeHeaders(60s));
    server.serve("/halfway.mp3", Response::bytes(body).stallAfter(50'000, 60s));
    ReadStreamOptions options;
    options.stallTimeoutSeconds = 0.3;
    for (const char* path : {"/silent.mp3", "/halfway.mp3"}) {
        SCOPED_TRACE(path);
        StreamReader reader(server.url(path), options);
        ASSERT_TRUE(reader.open());
        const auto began = Clock::now();
        ASSERT_TRUE(reader.run(10s));
        const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        std::printf("%s: error after %.3f s\n", path, seconds);
        EXPECT_TRUE(reader.failed());
        EXPECT_GE(seconds, 0.3);
        EXPECT_TRUE(body.compare(0, reader.body.size(), reader.body) == 0);
    }
}

// Bytes that come slowly but within the bound are no stall; nor is a pause shorter than it.
TEST(ReadStreamStall, SlowButSteadyIsNoError) {
    TestHttpServer server;
    const std::string body = sampleBody(30'000);
    server.serve("/trickle.mp3", Response::bytes(body.substr(0, 12)).trickle(50ms));
    server.serve("/gap.mp3", Response::bytes(body).pauseAfter(10'000, "gap"));
    ReadStreamOptions options;
    options.stallTimeoutSeconds = 0.4;
    {
        StreamReader reader(server.url("/trickle.mp3"), options);
        ASSERT_TRUE(reader.open());
        ASSERT_TRUE(reader.run());
        EXPECT_TRUE(reader.ended()) << reader.stream().errorDescription();
        EXPECT_EQ(reader.body, body.substr(0, 12));
    }
    {
        // The server pauses mid-file, then continues: the reader sees the whole file.
        options.stallTimeoutSeconds = 20;
        StreamReader reader(server.url("/gap.mp3"), options);
        ASSERT_TRUE(reader.open());
        ASSERT_TRUE(reader.run(10s, [&] { return reader.body.size() >= 10'000; }));
        ASSERT_TRUE(server.waitForPause("gap"));
        reader.loop()->runOnce(0.05);
        EXPECT_EQ(reader.body.size(), 10'000u);
        server.release("gap");
        ASSERT_TRUE(reader.run());
        EXPECT_TRUE(reader.ended());
        EXPECT_TRUE(reader.body == body);
    }
}

// A server that trickles a byte now and then keeps the connection open but brings nothing a
// listener could use: it ends in the same error as a silent one, within about the bound.
TEST(ReadStreamStall, TrickleBelowTheFloorGivesError) {
    TestHttpServer server;
    server.serve("/trickle.mp3", Response::bytes(sampleBody(1000)).trickle(200ms));
    ReadStreamOptions options;
    options.stallTimeoutSeconds = 1.0;  // 10 bytes wanted per second; 5 come
    StreamReader reader(server.url("/trickle.mp3"), options);
    ASSERT_TRUE(reader.open());
    const auto began = Clock::now();
    ASSERT_TRUE(reader.run(10s));
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    EXPECT_TRUE(reader.failed());
    EXPECT_GE(seconds, 1.0);
    EXPECT_LT(reader.body.size(), 100u);
}
