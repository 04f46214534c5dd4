#pragma once
// Helpers for the end-to-end checks: the demo station as a child process on free loopback
// ports, and programs of ours run to their end with their output kept. Every wait has a
// deadline and a child left running is killed, so no check can hang the run.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace demotest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A running ostra-station serving the build folder's station audio (made by the station at
// its first start, which takes about a minute). Stopped with SIGTERM when destroyed.
class StationChild {
public:
    StationChild();
    ~StationChild();
    StationChild(const StationChild&) = delete;
    StationChild& operator=(const StationChild&) = delete;

    // Waits for the station's "ready" line; false if it ended or took longer than `timeout`.
    bool waitReady(Clock::duration timeout = 300s);

    std::string liveURL() const;
    // A path on the web port, e.g. "/dev/feed/".
    std::string webURL(const std::string& path) const;
    // The station's log so far: one line per request.
    std::string log() const;

    unsigned livePort = 0;
    unsigned webPort = 0;

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::filesystem::path logPath_;
};

// A private X server (Xvfb) on a display number it chooses itself, for a window to appear on.
// Stopped when destroyed.
class XvfbChild {
public:
    XvfbChild();
    ~XvfbChild();
    XvfbChild(const XvfbChild&) = delete;
    XvfbChild& operator=(const XvfbChild&) = delete;

    // Waits until the server takes connections; false if it could not start.
    bool waitReady(Clock::duration timeout = 20s);
    // ":N", for DISPLAY.
    std::string display() const { return ":" + std::to_string(number_); }

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    unsigned number_ = 0;
};

struct ProgramRun {
    std::optional<int> exitStatus;  // nothing when it had to be killed at the deadline
    std::string output;             // stdout and stderr together, in order
};

// Runs `program` with `args` and extra environment entries ("NAME=value") to its end, or kills
// it after `timeout`.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                      Clock::duration timeout,
                      const std::vector<std::string>& extraEnvironment = {});

// The programmes' enclosure URLs, in the order of the station's feed.
std::vector<std::string> enclosureURLs(const std::string& feed);
// A whole resource over loopback ("" on failure).
std::string fetch(const std::string& url);

// A fresh folder under the temporary directory, removed when the object goes.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace demotest
