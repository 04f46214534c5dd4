// The streaming engine end to end, next to the usual players, on the same URL of a loopback
// server that honours Range. Each player runs as a child process, so CPU time and peak memory
// are the process's own (start-up included), and the server's work is not counted.
//
//   streamer_bench [seconds-of-real-time-playing]   (default 20)
//
// Prints, side by side where the peer is installed:
//   throughput    seconds of audio decoded per CPU second, faster than real time
//   real time     CPU use while playing in real time to a silent output
//   first sample  wall time from process start to the first decoded PCM sample
//   start, seek   start to PLAYING, and seek to PLAYING at the new position (ostra-play)
//   stop          latency of stop (ostra-play)
//   peak RSS      of each process

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestHttpServer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct RunResult {
    bool ran = false;
    int status = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakRssKb = 0;
    std::string output;
    // CPU time of the process's threads at `sampledAtSeconds` (when asked for): what comes
    // after it is playing alone, without the start-up.
    std::optional<double> cpuAtSample;
    double sampledAtSeconds = 0;
};

// CPU time so far of every thread of a running process, from the scheduler's nanosecond
// counters (rusage only has it once the process has ended).
std::optional<double> threadCpuSeconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (!dir) return std::nullopt;
    double total = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        double runNanoseconds = 0;
        if (stat >> runNanoseconds) total += runNanoseconds / 1e9;
    }
    ::closedir(dir);
    return total;
}

bool installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs argv with stdout captured (and, when `paceBytesPerSecond` > 0, read no faster than that,
// as an audio device would); stderr is discarded.
RunResult run(const std::vector<std::string>& argv, double paceBytesPerSecond = 0,
              double paceForSeconds = 0, const std::vector<std::string>& extraEnv = {},
              double sampleCpuAtSeconds = 0) {
    RunResult result;
    int out[2];
    if (::pipe(out) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    for (const auto& e : extraEnv) envStrings.push_back(e);
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);

    const auto started = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return result;
    }

    std::thread sampler;
    if (sampleCpuAtSeconds > 0) {
        sampler = std::thread([&result, pid, started, sampleCpuAtSeconds] {
            std::this_thread::sleep_until(started +
                                          std::chrono::duration<double>(sampleCpuAtSeconds));
            result.cpuAtSample = threadCpuSeconds(pid);
            result.sampledAtSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        });
    }

    char buffer[65536];
    double readBytes = 0;
    for (;;) {
        size_t want = sizeof buffer;
        if (paceBytesPerSecond > 0) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
            if (elapsed > paceForSeconds) break;
            const double allowed = elapsed * paceBytesPerSecond - readBytes;
            if (allowed < 4096) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            want = std::min(want, size_t(allowed));
        }
        const ssize_t n = ::read(out[0], buffer, want);
        if (n <= 0) break;
        readBytes += double(n);
        if (paceBytesPerSecond == 0) result.output.append(buffer, size_t(n));
    }
    ::close(out[0]);
    if (paceBytesPerSecond > 0) ::kill(pid, SIGTERM);

    // Joined before the wait, while the process (and its /proc entry) still exists.
    if (sampler.joinable()) sampler.join();
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    result.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.peakRssKb = usage.ru_maxrss;
    result.status = status;
    result.ran = true;
    return result;
}

std::optional<double> figure(const std::string& output, const std::string& label) {
    const size_t at = output.rfind(label);
    if (at == std::string::npos) return std::nullopt;
    return std::strtod(output.c_str() + at + label.size(), nullptr);
}

void row(const char* what, const char* who, const std::string& value) {
    std::printf("%-22s %-34s %s\n", what, who, value.c_str());
}

std::string format(const char* fmt, double value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const double realTimeSeconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const std::string file = std::string(OSTRA_FIXTURES_DIR) + "/long-10min-128k.mp3";
    if (!std::ifstream(file)) {
        std::fprintf(stderr, "missing %s: build the 'fixtures' target first\n", file.c_str());
        return 1;
    }
    const double audioSeconds = 600.0;
    testsupport::TestHttpServer server;
    server.serve("/long.mp3", testsupport::Response::file(file));
    const std::string url = server.url("/long.mp3");
    const std::string play = OSTRA_PLAY;
    // Every player reads the same URL; mpg123 speaks HTTP/1.0 and reads to the connection's end.
    const std::string mpg123Url = installed("mpg123") ? url : std::string();
    const bool haveFfmpeg = installed("ffmpeg"), haveMpg123 = !mpg123Url.empty(),
               haveFfplay = installed("ffplay"), haveMpv = installed("mpv");
    std::printf("URL %s (10 min, 128 kbit/s MP3), real-time runs of %.0f s\n\n", url.c_str(),
                realTimeSeconds);

    // ---- Throughput: decode everything as fast as possible. ----
    std::printf("Throughput (seconds of audio per CPU second; wall time; peak RSS)\n");
    auto throughput = [&](const char* who, const std::vector<std::string>& argv) {
        const RunResult r = run(argv);
        if (!r.ran) return row("throughput", who, "did not run");
        row("throughput", who,
            format("%.0f s/CPU s", audioSeconds / r.cpuSeconds) +
                format("  (%.2f s CPU", r.cpuSeconds) + format(", %.2f s wall", r.wallSeconds) +
                format(", %.0f MB RSS)", r.peakRssKb / 1024.0));
    };
    throughput("ostra-play --speed 0", {play, "--speed", "0", "--quiet", url});
    if (haveFfmpeg)
        throughput("ffmpeg -i URL -f null -", {"ffmpeg", "-nostdin", "-i", url, "-f", "null", "-"});
    if (haveMpg123) throughput("mpg123 -t URL", {"mpg123", "-q", "-t", mpg123Url});

    // ---- Real time: CPU use while playing to a silent output. ----
    std::printf("\nReal-time playing for %.0f s (CPU as %% of one core; peak RSS)\n",
                realTimeSeconds);
    // The whole process, start-up included; then from the fifth second on, playing alone.
    auto realTime = [&](const char* who, const RunResult& r) {
        if (!r.ran) return row("real-time CPU", who, "did not run");
        std::string steady = "";
        if (r.cpuAtSample && r.wallSeconds > r.sampledAtSeconds + 1) {
            steady = format(";  after start-up %.3f %%", 100.0 * (r.cpuSeconds - *r.cpuAtSample) /
                                                             (r.wallSeconds - r.sampledAtSeconds));
        }
        row("real-time CPU", who,
            format("%.3f %%", 100.0 * r.cpuSeconds / r.wallSeconds) +
                format("  (%.3f s CPU", r.cpuSeconds) + format(" in %.1f s", r.wallSeconds) +
                format(", %.0f MB RSS)", r.peakRssKb / 1024.0) + steady);
    };
    const double sampleAt = realTimeSeconds > 10 ? 5.0 : 0.0;
    const std::string limit = format("%.0f", realTimeSeconds);
    realTime("ostra-play --silent",
             run({play, "--silent", "--quiet", "--stop-after", limit, url}, 0, 0, {}, sampleAt));
    if (haveFfmpeg) {
        realTime("ffmpeg -re -f null",
                 run({"ffmpeg", "-nostdin", "-re", "-i", url, "-t", limit, "-f", "null", "-"}, 0, 0,
                     {}, sampleAt));
    }
    if (haveFfplay) {
        realTime("ffplay (SDL dummy audio)",
                 run({"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", "-t", limit, url}, 0,
                     0, {"SDL_AUDIODRIVER=dummy"}, sampleAt));
    }
    if (haveMpg123) {
        realTime("mpg123 -s | real-time reader", run({"mpg123", "-q", "-s", mpg123Url}, 44100.0 * 4,
                                                     realTimeSeconds, {}, sampleAt));
    }

    // ---- Start-up: process start to the first decoded sample. ----
    std::printf(
        "\nFirst PCM sample after process start (wall time to exit right after it; "
        "median of 5 runs)\n");
    auto firstSample = [&](const char* who, const std::vector<std::string>& argv,
                           const std::vector<std::string>& env = {}) {
        std::vector<double> walls, owns;
        long peakRssKb = 0;
        for (int i = 0; i < 5; ++i) {
            const RunResult r = run(argv, 0, 0, env);
            if (!r.ran) return row("first sample", who, "did not run");
            walls.push_back(r.wallSeconds * 1000);
            peakRssKb = std::max(peakRssKb, r.peakRssKb);
            // ostra-play also says when its first sample came, from its own start.
            if (const auto own = figure(r.output, "first sample after ")) owns.push_back(*own);
        }
        const auto median = [](std::vector<double> values) {
            std::sort(values.begin(), values.end());
            return values[values.size() / 2];
        };
        row("first sample", who,
            format("%.1f ms", median(walls)) +
                format(" (%.1f", *std::min_element(walls.begin(), walls.end())) +
                format(" to %.1f)", *std::max_element(walls.begin(), walls.end())) +
                format("  (%.0f MB RSS", peakRssKb / 1024.0) +
                (owns.empty() ? std::string(")")
                              : format("; its own figure %.1f ms)", median(owns))));
    };
    firstSample("ostra-play --first-sample", {play, "--speed", "0", "--first-sample", url});
    if (haveFfmpeg)
        firstSample("ffmpeg -frames:a 1 -f null",
                    {"ffmpeg", "-nostdin", "-i", url, "-frames:a", "1", "-f", "null", "-"});
    if (haveMpg123) firstSample("mpg123 -n 1", {"mpg123", "-q", "-n", "1", "-t", mpg123Url});
    if (haveFfplay) {
        firstSample("ffplay -t 0.001 (SDL dummy)",
                    {"ffplay", "-nodisp", "-autoexit", "-loglevel", "quiet", "-t", "0.001", url},
                    {"SDL_AUDIODRIVER=dummy"});
    }
    if (haveMpv)
        firstSample("mpv --length=0.001",
                    {"mpv", "--no-video", "--ao=null", "--length=0.001", url});

    // ---- The engine's own latencies, from ostra-play's report. ----
    std::printf("\nEngine latencies (ostra-play to the silent sink; 5 runs)\n");
    std::vector<double> starts, seeks, stops;
    for (int i = 0; i < 5; ++i) {
        const RunResult r = run({play, "--silent", "--quiet", "--seek", "300", "--seek-delay", "1",
                                 "--stop-after", "3", url});
        if (auto v = figure(r.output, "start to PLAYING: ")) starts.push_back(*v);
        if (auto v = figure(r.output, "seek to PLAYING: ")) seeks.push_back(*v);
        if (auto v = figure(r.output, "stop took ")) stops.push_back(*v);
    }
    auto summary = [](std::vector<double> values) {
        if (values.empty()) return std::string("no figure");
        std::sort(values.begin(), values.end());
        return format("median %.1f ms", values[values.size() / 2]) +
               format(", max %.1f ms", values.back());
    };
    row("start to PLAYING", "ostra-play", summary(starts));
    row("seek to PLAYING", "ostra-play (at 1 s, to 300 s)", summary(seeks));
    row("stop", "ostra-play", summary(stops));
    return 0;
}
