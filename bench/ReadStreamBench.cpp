// Reads a 100 MB body over loopback from the test server through 2048-byte reads, the way
// the streaming engine does, and prints the throughput next to `curl -o /dev/null` of the
// same URL in the same run. Each client runs several rounds, alternating; the best round of
// each is compared, so that a noisy neighbour on the machine hurts both alike.
//
//   ReadStreamBench [megabytes=100] [rounds=5]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/http/ReadStream.h"
#include "tests/support/TestHttpServer.h"

using namespace platform::http;
using Clock = std::chrono::steady_clock;

namespace {

// A run's wall-clock time and the CPU time its client spent (user + system).
struct Timing {
    double seconds = -1;
    double cpuSeconds = -1;
};

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Transfer {
    uint64_t bytes = 0;
    uint64_t events = 0;
    bool ended = false;
    bool failed = false;
    ReadStream* stream = nullptr;
};

void onEvent(ReadStream* stream, int event, void* info) {
    auto* t = static_cast<Transfer*>(info);
    ++t->events;
    if (event == kReadStreamEventHasBytesAvailable) {
        uint8_t buffer[2048];  // the engine's read size, on the stack as in its handler
        const long n = stream->read(buffer, sizeof buffer);
        if (n > 0) t->bytes += static_cast<uint64_t>(n);
    } else if (event == kReadStreamEventEndEncountered) {
        t->ended = true;
    } else if (event == kReadStreamEventErrorOccurred) {
        t->failed = true;
    }
}

// Time to read the whole body through the read stream; negative on failure. The CPU time is
// the reading thread's: the server's threads run in this process too.
Timing readThroughStream(const std::string& url, uint64_t expected) {
    auto stream = ReadStream::create(url);
    Transfer transfer;
    stream->setShouldAutoredirect(true);
    if (!stream->open()) return {};
    stream->setClient(kReadStreamEventHasBytesAvailable | kReadStreamEventErrorOccurred |
                          kReadStreamEventEndEncountered,
                      &onEvent, &transfer);
    auto loop = RunLoop::current();
    const double cpuBefore = cpuSeconds(RUSAGE_THREAD);
    const auto began = Clock::now();
    stream->scheduleWithRunLoop(loop);
    while (!transfer.ended && !transfer.failed && loop->runOnce(0.25)) {
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const double cpu = cpuSeconds(RUSAGE_THREAD) - cpuBefore;
    stream->close();
    if (!transfer.ended || transfer.bytes != expected) {
        std::fprintf(stderr, "read stream: %llu of %llu bytes, %s\n",
                     static_cast<unsigned long long>(transfer.bytes),
                     static_cast<unsigned long long>(expected),
                     transfer.failed ? stream->errorDescription().c_str() : "no end");
        return {};
    }
    return {seconds, cpu};
}

// Seconds for the curl command line to fetch the body to /dev/null, as curl itself reports
// them (its time_total, so process start-up is not counted against it), or negative on
// failure. Its CPU time is that of the child processes.
Timing readThroughCurl(const std::string& url, uint64_t expected) {
    const std::string command =
        "curl -s -o /dev/null -w '%{size_download} %{time_total}' '" + url + "'";
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    char output[128] = {};
    const size_t n = std::fread(output, 1, sizeof output - 1, pipe);
    const int status = pclose(pipe);
    output[n] = '\0';
    char* rest = nullptr;
    const unsigned long long size = std::strtoull(output, &rest, 10);
    const double seconds = std::strtod(rest, nullptr);
    if (status != 0 || size != expected || seconds <= 0) {
        std::fprintf(stderr, "curl: status %d, output '%s'\n", status, output);
        return {};
    }
    return {seconds, cpuSeconds(RUSAGE_CHILDREN) - cpuBefore};
}

// The best and the median of the successful runs' figures.
std::pair<double, double> bestAndMedian(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v <= 0; }),
                 values.end());
    if (values.empty()) return {-1, -1};
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const uint64_t size = megabytes * 1000 * 1000;

    testsupport::TestHttpServer server;
    std::string pattern(1 << 20, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 31 + (i >> 9));
    server.serve("/big.mp3", testsupport::Response::generated(size, testsupport::repeating(pattern))
                                 .writeSize(256 * 1024));
    const std::string url = server.url("/big.mp3");

    std::vector<Timing> stream;
    std::vector<Timing> curl;
    for (int round = 0; round < rounds; ++round) {
        curl.push_back(readThroughCurl(url, size));
        stream.push_back(readThroughStream(url, size));
    }
    std::printf("body %llu MB over 127.0.0.1, %d rounds each, alternating\n",
                static_cast<unsigned long long>(megabytes), rounds);
    for (int round = 0; round < rounds; ++round) {
        std::printf("  round %d: curl %.3f s (cpu %.3f s), read stream %.3f s (cpu %.3f s)\n",
                    round + 1, curl[round].seconds, curl[round].cpuSeconds, stream[round].seconds,
                    stream[round].cpuSeconds);
    }
    auto figures = [&](const char* name, const std::vector<Timing>& runs) {
        std::vector<double> wall;
        std::vector<double> cpu;
        for (const Timing& t : runs) {
            wall.push_back(t.seconds);
            cpu.push_back(t.cpuSeconds);
        }
        const auto [bestWall, medianWall] = bestAndMedian(wall);
        const auto [bestCpu, medianCpu] = bestAndMedian(cpu);
        const double mb = static_cast<double>(size) / 1e6;
        std::printf("%-30s best %7.1f MB/s, median %7.1f MB/s; CPU %.2f ms per MB (median)\n", name,
                    mb / bestWall, mb / medianWall, 1000.0 * medianCpu / mb);
        return std::make_pair(mb / bestWall, mb / medianWall);
    };
    const auto [curlBest, curlMedian] = figures("curl -o /dev/null:", curl);
    const auto [streamBest, streamMedian] = figures("ReadStream, 2048-byte reads:", stream);
    if (curlBest <= 0 || streamBest <= 0) {
        std::printf("ReadStreamBench: a transfer failed\n");
        return 1;
    }
    std::printf("ReadStream / curl: %.0f%% (best), %.0f%% (median)\n",
                100.0 * streamBest / curlBest, 100.0 * streamMedian / curlMedian);
    return 0;
}
