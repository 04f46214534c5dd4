// The station program as a user runs it: a child process that reports its ports, serves, and
// stops cleanly on SIGTERM or Ctrl-C (SIGINT).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "StationTestSupport.h"

extern char** environ;

using namespace stationtest;

namespace {

// A running ostra-station with its stdout on a pipe and its stderr in a file. Killed and
// reaped on destruction if a test leaves it running.
class StationProcess {
public:
    explicit StationProcess(std::vector<std::string> args) {
        logPath_ = std::filesystem::temp_directory_path() /
                   ("ostra-station-test-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter_++) + ".log");
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        stdout_.reset(out[0]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        std::string binary = OSTRA_STATION_BINARY;
        argv.push_back(binary.data());
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc =
            ::posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) throw std::runtime_error("cannot start " + binary);
    }
    ~StationProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove(logPath_);
    }

    // Reads the "ready live=N web=M" line; false if the program ended or took too long.
    bool waitReady(Clock::duration timeout) {
        std::string text;
        while (text.find('\n') == std::string::npos) {
            if (!readUntil(stdout_.get(), text, Clock::now() + timeout, text.size() + 1))
                return false;
            if (Clock::now() > startedAt_ + timeout) return false;
        }
        unsigned live = 0, web = 0;
        if (std::sscanf(text.c_str(), "ready live=%u web=%u", &live, &web) != 2) return false;
        livePort = static_cast<uint16_t>(live);
        webPort = static_cast<uint16_t>(web);
        return true;
    }

    // The exit status, or nothing if the program did not end within `timeout`.
    std::optional<int> waitExit(Clock::duration timeout) {
        station::UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
        struct pollfd p = {pidfd.get(), POLLIN, 0};
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count();
        if (!pidfd || ::poll(&p, 1, static_cast<int>(ms)) != 1) return std::nullopt;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void signal(int number) { ::kill(pid_, number); }
    std::string log() const { return testsupport::readFile(logPath_); }

    uint16_t livePort = 0;
    uint16_t webPort = 0;

private:
    static inline int counter_ = 0;
    pid_t pid_ = -1;
    station::UniqueFd stdout_;
    std::filesystem::path logPath_;
    Clock::time_point startedAt_ = Clock::now();
};

std::vector<std::string> freePorts() {
    return {"--live-port", "0", "--web-port", "0", "--audio-dir", audioDir().string()};
}

}  // namespace

// SIGTERM and SIGINT both end the program with status 0 while a listener and a download are
// connected; both see their connection close, and the log says the station stopped.
TEST(StationProcess, StopsCleanlyOnSigtermAndSigint) {
    for (int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(number));
        StationProcess station(freePorts());
        ASSERT_TRUE(station.waitReady(60s)) << station.log();

        auto listener = connectTo(station.livePort);
        const std::string request = "GET / HTTP/1.1\r\n\r\n";
        ::send(listener.get(), request.data(), request.size(), MSG_NOSIGNAL);
        std::string heard;
        readUntil(listener.get(), heard, Clock::now() + 5s, 20000);
        ASSERT_GE(heard.size(), 20000u);

        // A download the client is in no hurry to read stays open until the stop.
        auto download = connectTo(station.webPort);
        const std::string fileRequest = "GET /programmes/slow-lights.mp3 HTTP/1.1\r\n\r\n";
        ::send(download.get(), fileRequest.data(), fileRequest.size(), MSG_NOSIGNAL);
        std::string part;
        readUntil(download.get(), part, Clock::now() + 5s, 1000);

        station.signal(number);
        EXPECT_EQ(station.waitExit(10s), std::optional<int>(0));
        EXPECT_FALSE(readUntil(listener.get(), heard, Clock::now() + 5s)) << "listener still open";
        EXPECT_FALSE(readUntil(download.get(), part, Clock::now() + 5s)) << "download still open";
        EXPECT_NE(station.log().find("station: stopped"), std::string::npos) << station.log();
        EXPECT_NE(station.log().find("live from"), std::string::npos) << station.log();
    }
}

// The program refuses to start, with a message and a failure status, when its options are
// wrong or its port is taken; --help succeeds.
TEST(StationProcess, RefusesBadOptionsAndTakenPorts) {
    {
        StationProcess station({"--live-port", "99999"});
        EXPECT_EQ(station.waitExit(10s), std::optional<int>(2));
        EXPECT_NE(station.log().find("not a port: 99999"), std::string::npos) << station.log();
    }
    {
        StationProcess station({"--bogus"});
        EXPECT_EQ(station.waitExit(10s), std::optional<int>(2));
        EXPECT_NE(station.log().find("usage:"), std::string::npos);
    }
    {
        StationProcess station({"--help"});
        EXPECT_EQ(station.waitExit(10s), std::optional<int>(0));
    }
    {
        RunningStation first;
        auto args = freePorts();
        args[1] = std::to_string(first.livePort());
        StationProcess second(args);
        EXPECT_EQ(second.waitExit(30s), std::optional<int>(1));
        EXPECT_NE(
            second.log().find("cannot listen on 127.0.0.1:" + std::to_string(first.livePort())),
            std::string::npos)
            << second.log();
    }
}
