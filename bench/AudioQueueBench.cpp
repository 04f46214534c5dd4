// The output queue's cost, printed as figures:
//   1. decode-to-capture throughput: seconds of audio per CPU second through the queue (decode,
//      conversion, sink) into a capture sink that consumes at once, next to the ffmpeg command
//      line decoding the same file to its null muxer, in the same run;
//   2. real-time playback to the silent sink: the process's CPU share of one core, and its
//      context switches per second (the queue's wake-ups dominate them).
//
// usage: audio_queue_bench [FILE] [REALTIME_SECONDS] [--realtime-only]
//   FILE defaults to the fixture script's long-10min-128k.mp3; REALTIME_SECONDS to 10.
//   --realtime-only skips the throughput runs (for profiling the real-time case alone).

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "AudioMaterial.h"
#include "ParsedStream.h"
#include "QueueTestClient.h"
#include "platform/audio/sink/SilentAudioSink.h"

using namespace audio;
using namespace queuetest;

namespace {

constexpr int kRuns = 3;

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

long contextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Voluntary context switches (sleeps) of each thread of this process, by thread name.
std::map<std::string, long> sleepsByThread() {
    std::map<std::string, long> sleeps;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                sleeps[name] += std::atol(line.c_str() + 24);
            }
        }
    }
    return sleeps;
}

struct QueueRun {
    double audioSeconds = 0;
    double cpuSeconds = 0;
};

// Feeds the buffers as the engine does, starting when the ring is full, and plays to the end.
QueueRun playOnce(const ParsedStream& parsed, const std::vector<BufferLoad>& loads,
                  CaptureOptions options) {
    CaptureAudioSinkFactory captures(options);
    ScopedAudioSinkFactory scoped(captures.factory());
    const double cpuBefore = processCpuSeconds();
    QueueTestClient client(parsed.format, parsed.bufferSize);
    if (!parsed.cookie.empty()) {
        AudioQueueSetProperty(client.queue(), kAudioQueueProperty_MagicCookie, parsed.cookie.data(),
                              uint32_t(parsed.cookie.size()));
    }
    bool started = false;
    for (const auto& load : loads) {
        if (client.freeBuffers() == 0) {
            if (!started) AudioQueueStart(client.queue(), nullptr);
            started = true;
            client.waitForFreeBuffer(std::chrono::seconds(60));
        }
        client.enqueue(load.bytes, load.descs);
    }
    if (!started) AudioQueueStart(client.queue(), nullptr);
    AudioQueueStop(client.queue(), false);
    client.waitForIsRunningCalls(2, std::chrono::seconds(600));
    client.disposeAndJoin();
    QueueRun run;
    run.cpuSeconds = processCpuSeconds() - cpuBefore;
    const auto sink = captures.last();
    run.audioSeconds = double(sink->frameCount()) / sink->format().sampleRate;
    return run;
}

// CPU seconds of `ffmpeg -i FILE -f null -`, or a negative value when it could not run.
double ffmpegCpuSeconds(const std::string& path) {
    const double before = childrenCpuSeconds();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-v", "error", "-i", path.c_str(), "-f", "null", "-",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return childrenCpuSeconds() - before;
}

void realTimeSilent(const ParsedStream& parsed, const std::vector<BufferLoad>& loads,
                    double seconds) {
    ScopedAudioSinkFactory silent([] { return std::make_shared<SilentAudioSink>(); });
    QueueTestClient client(parsed.format, parsed.bufferSize);
    if (!parsed.cookie.empty()) {
        AudioQueueSetProperty(client.queue(), kAudioQueueProperty_MagicCookie, parsed.cookie.data(),
                              uint32_t(parsed.cookie.size()));
    }
    size_t next = 0;
    while (next < loads.size() && client.freeBuffers() > 1) {
        client.enqueue(loads[next].bytes, loads[next].descs);
        ++next;
    }
    const auto sleepsBefore = sleepsByThread();
    const double cpuBefore = processCpuSeconds();
    const long switchesBefore = contextSwitches();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    AudioQueueStart(client.queue(), nullptr);
    // The feeding thread sleeps on the buffer condition, as the engine's streaming thread does.
    while (std::chrono::steady_clock::now() < end && next < loads.size()) {
        if (!client.waitForFreeBuffer(std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now()))) {
            break;
        }
        client.enqueue(loads[next].bytes, loads[next].descs);
        ++next;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    const long switches = contextSwitches() - switchesBefore;
    const double played = client.sampleTime() / parsed.format.mSampleRate;
    const auto sleepsAfter = sleepsByThread();
    client.disposeAndJoin();
    std::printf(
        "real-time to the silent sink: %.1f s played in %.1f s wall, CPU %.3f s = %.3f%% "
        "of one core, %.1f context switches/s\n",
        played, wall, cpu, 100.0 * cpu / wall, double(switches) / wall);
    for (const auto& [name, count] : sleepsAfter) {
        const auto before = sleepsBefore.find(name);
        const long base = before == sleepsBefore.end() ? 0 : before->second;
        std::printf("  thread %-16s %.1f wake-ups/s\n", name.c_str(), double(count - base) / wall);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 && argv[1][0]
                                 ? argv[1]
                                 : std::string(OSTRA_BENCH_FIXTURES) + "/long-10min-128k.mp3";
    const bool realTimeOnly = argc > 3 && std::string(argv[3]) == "--realtime-only";
    const double realTimeSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const auto file = readFileBytes(path);
    if (file.empty()) {
        std::fprintf(stderr, "cannot read %s (build the 'fixtures' target)\n", path.c_str());
        return 1;
    }

    const double parseBefore = processCpuSeconds();
    const ParsedStream parsed = parseWithFileStream(file, hintForPath(path));
    const double parseCpu = processCpuSeconds() - parseBefore;
    const auto loads = fillLikeTheEngine(parsed);
    if (parsed.status != noErr || loads.empty()) {
        std::fprintf(stderr, "the parser found no audio in %s\n", path.c_str());
        return 1;
    }
    std::printf("file: %s (%zu bytes, %zu buffers of up to %u bytes)\n", path.c_str(), file.size(),
                loads.size(), parsed.bufferSize);

    CaptureOptions instant;
    instant.keepSamples = false;
    QueueRun best{0, 1e30};
    double bestFfmpeg = 1e30;
    for (int i = 0; i < kRuns && !realTimeOnly; ++i) {
        const QueueRun run = playOnce(parsed, loads, instant);
        if (run.cpuSeconds < best.cpuSeconds) best = run;
        const double ffmpeg = ffmpegCpuSeconds(path);
        if (ffmpeg > 0) bestFfmpeg = std::min(bestFfmpeg, ffmpeg);
    }
    if (realTimeOnly) {
        realTimeSilent(parsed, loads, realTimeSeconds);
        return 0;
    }
    const double ours = best.audioSeconds / best.cpuSeconds;
    std::printf("parser: %.3f CPU s for the whole file\n", parseCpu);
    std::printf(
        "queue decode-to-capture: %.1f s of audio in %.3f CPU s = %.0f s audio per CPU s "
        "(best of %d)\n",
        best.audioSeconds, best.cpuSeconds, ours, kRuns);
    if (bestFfmpeg < 1e30) {
        const double theirs = best.audioSeconds / bestFfmpeg;
        std::printf("ffmpeg -i FILE -f null -: %.3f CPU s = %.0f s audio per CPU s (best of %d)\n",
                    bestFfmpeg, theirs, kRuns);
        std::printf("queue / ffmpeg: %.0f%%\n", 100.0 * ours / theirs);
    } else {
        std::printf("ffmpeg: not available\n");
    }
    if (realTimeSeconds > 0) realTimeSilent(parsed, loads, realTimeSeconds);
    return 0;
}
