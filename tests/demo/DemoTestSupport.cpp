#include "DemoTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/http/URLLoader.h"

extern char** environ;

namespace demotest {

namespace {

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Appends what `fd` has until `deadline`; false once the writer closed it.
bool readSome(int fd, std::string& into, Clock::time_point deadline) {
    struct pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, millisecondsUntil(deadline)) <= 0) return true;
    char buffer[8192];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) into.append(buffer, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

// Waits for `pid` until `deadline`; its status, or nothing if it still runs.
std::optional<int> reap(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (Clock::now() >= deadline) return std::nullopt;
        // The child closed its output already; only its exit is left to see.
        struct pollfd none = {-1, 0, 0};
        ::poll(&none, 0, 10);
    }
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment, int stdoutFd, int stderrFd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> strings = {program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& s : environment) envp.push_back(s.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
    return pid;
}

// SIGTERM, then SIGKILL if it has not ended within ten seconds.
void stopChild(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    if (!reap(pid, Clock::now() + 10s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

// The first line a child writes on `fd`, read until `timeout`; nothing if it ended first.
std::optional<std::string> firstLine(int fd, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string text;
    while (text.find('\n') == std::string::npos) {
        if (!readSome(fd, text, deadline) || Clock::now() >= deadline) return std::nullopt;
    }
    return text;
}

std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

StationChild::StationChild() {
    static int counter = 0;
    logPath_ = std::filesystem::temp_directory_path() /
               ("ostra-demo-station-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++) + ".log");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    stdout_ = out[0];
    pid_ = spawn(OSTRA_STATION_BINARY,
                 {"--live-port", "0", "--web-port", "0", "--audio-dir", OSTRA_STATION_AUDIO_DIR},
                 {}, out[1], log);
    ::close(out[1]);
    ::close(log);
}

StationChild::~StationChild() {
    stopChild(pid_);
    ::close(stdout_);
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
}

bool StationChild::waitReady(Clock::duration timeout) {
    const std::optional<std::string> line = firstLine(stdout_, timeout);
    return line && std::sscanf(line->c_str(), "ready live=%u web=%u", &livePort, &webPort) == 2;
}

XvfbChild::XvfbChild() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    stdout_ = out[0];
    try {
        // -displayfd: the server picks a free display and writes its number once it listens.
        pid_ = spawn("/usr/bin/Xvfb",
                     {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"}, {},
                     out[1], quiet);
    } catch (const std::runtime_error&) {
        pid_ = -1;
    }
    ::close(out[1]);
    ::close(quiet);
}

XvfbChild::~XvfbChild() {
    stopChild(pid_);
    ::close(stdout_);
}

bool XvfbChild::waitReady(Clock::duration timeout) {
    if (pid_ <= 0) return false;
    const std::optional<std::string> line = firstLine(stdout_, timeout);
    return line && std::sscanf(line->c_str(), "%u", &number_) == 1;
}

std::string StationChild::liveURL() const {
    return "http://127.0.0.1:" + std::to_string(livePort) + "/";
}

std::string StationChild::webURL(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(webPort) + path;
}

std::string StationChild::log() const { return readWholeFile(logPath_); }

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                      Clock::duration timeout, const std::vector<std::string>& extraEnvironment) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = spawn(program, args, extraEnvironment, out[1], out[1]);
    ::close(out[1]);
    const auto deadline = Clock::now() + timeout;
    ProgramRun run;
    while (Clock::now() < deadline && readSome(out[0], run.output, deadline)) {
    }
    ::close(out[0]);
    run.exitStatus = reap(pid, deadline + 5s);
    if (!run.exitStatus) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return run;
}

std::vector<std::string> enclosureURLs(const std::string& feed) {
    std::vector<std::string> urls;
    const std::string marker = "<enclosure url=\"";
    for (size_t at = feed.find(marker); at != std::string::npos; at = feed.find(marker, at)) {
        at += marker.size();
        urls.push_back(feed.substr(at, feed.find('"', at) - at));
    }
    return urls;
}

std::string fetch(const std::string& url) { return platform::loadURL(url).bytes; }

TemporaryFolder::TemporaryFolder() {
    char folder[] = "/tmp/ostra-demo-XXXXXX";
    if (!::mkdtemp(folder)) throw std::runtime_error("mkdtemp failed");
    path_ = folder;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace demotest
