// station_bench: a bounded soak of the demo station. Runs ostra-station as a child on free
// loopback ports, keeps 50 listeners connecting and leaving at random for a minute (some also
// fetch a byte range of a programme or the feed), and prints the station's memory along the
// way, the data each listener got per second, and how fast the station stopped.
//
//   station_bench                 50 listeners, 60 s
//   OSTRA_STATION_SOAK_LISTENERS=N OSTRA_STATION_SOAK_SECONDS=S station_bench
//
// Loopback only; every loop here is bounded in time.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long envNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

struct ProcessMemory {
    long rssKb = 0;
    long peakKb = 0;
    int fds = 0;
    double cpuSeconds = 0;  // user + system
};

ProcessMemory memoryOf(pid_t pid) {
    ProcessMemory m;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) m.rssKb = std::strtol(line.c_str() + 6, nullptr, 10);
        if (line.rfind("VmHWM:", 0) == 0) m.peakKb = std::strtol(line.c_str() + 6, nullptr, 10);
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close != std::string::npos) {
        // After the command name: state is field 3, utime and stime are fields 14 and 15.
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i >= 14)
                m.cpuSeconds += std::strtod(field.c_str(), nullptr) /
                                static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
    }
    std::error_code error;
    for (auto it =
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        ++m.fds;
    }
    return m;
}

int connectLoopback(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One place among the listeners: connected to the live stream or fetching from the web side,
// until its time is up, then closed and opened again.
struct Slot {
    int fd = -1;
    bool live = true;
    bool requestSent = false;
    std::string request;
    Clock::time_point opened;
    Clock::time_point leaveAt;
    uint64_t bytes = 0;
};

struct Totals {
    uint64_t sessions = 0;
    uint64_t liveSessions = 0;
    uint64_t liveBytes = 0;
    double liveSeconds = 0;
    uint64_t webBytes = 0;
    uint64_t failedConnects = 0;
    uint64_t endedByStation = 0;
};

}  // namespace

int main() {
    const int listeners = static_cast<int>(envNumber("OSTRA_STATION_SOAK_LISTENERS", 50));
    const auto soak = std::chrono::seconds(envNumber("OSTRA_STATION_SOAK_SECONDS", 60));
    ::signal(SIGPIPE, SIG_IGN);

    // Start the station with its stdout on a pipe for the ready line.
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::string binary = OSTRA_STATION_BINARY;
    std::vector<std::string> args = {binary, "--live-port", "0", "--web-port", "0", "--quiet"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", binary.c_str());
        return 1;
    }
    ::close(out[1]);
    std::string ready;
    char c = 0;
    const auto readyDeadline = Clock::now() + 600s;  // the first start makes the audio
    while (ready.find('\n') == std::string::npos && Clock::now() < readyDeadline) {
        struct pollfd p = {out[0], POLLIN, 0};
        if (::poll(&p, 1, 1000) == 1 && ::read(out[0], &c, 1) == 1) ready += c;
        if (::waitpid(pid, nullptr, WNOHANG) == pid) break;
    }
    unsigned livePort = 0, webPort = 0;
    if (std::sscanf(ready.c_str(), "ready live=%u web=%u", &livePort, &webPort) != 2) {
        std::fprintf(stderr, "the station did not start\n");
        ::kill(pid, SIGKILL);
        return 1;
    }
    std::printf("station_bench: %d listeners connecting and leaving at random for %lld s\n",
                listeners, static_cast<long long>(soak.count()));

    std::mt19937 random(20250601);
    std::uniform_real_distribution<double> stay(0.05, 6.0);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> offset(0, 700000);
    const char* files[] = {"harbour-report.mp3", "morning-tide.mp3", "kitchen-table-sessions.aac"};

    std::vector<Slot> slots(listeners);
    Totals totals;
    auto open = [&](Slot& s, Clock::time_point now) {
        const int k = kind(random);
        s = Slot{};
        s.live = k < 8;  // mostly listeners; the rest fetch a range of a programme or the feed
        if (s.live) {
            s.request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        } else if (k == 8) {
            s.request = "GET /programmes/" + std::string(files[offset(random) % 3]) +
                        " HTTP/1.1\r\nRange: bytes=" + std::to_string(offset(random)) + "-\r\n\r\n";
        } else {
            s.request = "GET /dev/feed/ HTTP/1.1\r\n\r\n";
        }
        s.fd = connectLoopback(static_cast<uint16_t>(s.live ? livePort : webPort));
        if (s.fd < 0) ++totals.failedConnects;
        s.opened = now;
        s.leaveAt = now + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(stay(random)));
        ++totals.sessions;
    };
    auto close = [&](Slot& s, Clock::time_point now) {
        if (s.fd >= 0) ::close(s.fd);
        s.fd = -1;
        if (s.live) {
            ++totals.liveSessions;
            totals.liveBytes += s.bytes;
            totals.liveSeconds += seconds(now - s.opened);
        } else {
            totals.webBytes += s.bytes;
        }
    };

    const auto start = Clock::now();
    for (auto& s : slots) open(s, start);
    ProcessMemory warm{}, last{};
    bool warmTaken = false;
    auto nextReport = start + 10s;
    std::vector<char> buffer(65536);
    std::vector<pollfd> fds(slots.size());
    while (Clock::now() - start < soak) {
        for (size_t i = 0; i < slots.size(); ++i) {
            fds[i] = {slots[i].fd, static_cast<short>(slots[i].requestSent ? POLLIN : POLLOUT), 0};
        }
        ::poll(fds.data(), fds.size(), 50);
        const auto now = Clock::now();
        for (size_t i = 0; i < slots.size(); ++i) {
            Slot& s = slots[i];
            if (s.fd >= 0 && (fds[i].revents & POLLOUT) && !s.requestSent) {
                if (::send(s.fd, s.request.data(), s.request.size(), MSG_NOSIGNAL) > 0)
                    s.requestSent = true;
            }
            if (s.fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                ssize_t n = ::recv(s.fd, buffer.data(), buffer.size(), 0);
                if (n > 0) {
                    s.bytes += static_cast<uint64_t>(n);
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    if (s.live) ++totals.endedByStation;
                    close(s, now);
                    open(s, now);
                    continue;
                }
            }
            if (now >= s.leaveAt) {
                close(s, now);
                open(s, now);
            }
        }
        if (!warmTaken && now - start >= 5s) {
            warm = memoryOf(pid);
            warmTaken = true;
            std::printf("  t=%5.1f s  station RSS %ld kB (after warm-up), %d fds\n",
                        seconds(now - start), warm.rssKb, warm.fds);
        }
        if (now >= nextReport) {
            last = memoryOf(pid);
            std::printf(
                "  t=%5.1f s  station RSS %ld kB, peak %ld kB, %d fds, %llu sessions so far\n",
                seconds(now - start), last.rssKb, last.peakKb, last.fds,
                static_cast<unsigned long long>(totals.sessions));
            std::fflush(stdout);
            nextReport += 10s;
        }
    }
    const auto end = Clock::now();
    for (auto& s : slots) close(s, end);
    last = memoryOf(pid);
    const auto warmTime = start + 5s;

    // Stop the station the way run.sh does, and time it.
    const auto stopAt = Clock::now();
    ::kill(pid, SIGTERM);
    int status = -1;
    while (Clock::now() - stopAt < 10s && ::waitpid(pid, &status, WNOHANG) == 0) {
        struct pollfd none = {-1, 0, 0};
        ::poll(&none, 0, 5);
    }
    const double stopSeconds = seconds(Clock::now() - stopAt);
    if (status == -1) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);

    const double perSecond = totals.liveSeconds > 0 ? totals.liveBytes / totals.liveSeconds : 0;
    std::printf("station_bench results\n");
    std::printf("  sessions                 %llu (%llu live), %llu failed connects\n",
                static_cast<unsigned long long>(totals.sessions),
                static_cast<unsigned long long>(totals.liveSessions),
                static_cast<unsigned long long>(totals.failedConnects));
    std::printf(
        "  live data per listener   %.0f bytes/s averaged over sessions of 0.05-6 s "
        "(128 kbit/s is 16000, plus the 2 s head start at each connect)\n",
        perSecond);
    std::printf("  live sessions ended by the station: %llu\n",
                static_cast<unsigned long long>(totals.endedByStation));
    std::printf("  web bytes                %llu\n",
                static_cast<unsigned long long>(totals.webBytes));
    std::printf(
        "  station RSS              %ld kB after warm-up, %ld kB at the end (%+ld kB), peak %ld "
        "kB\n",
        warm.rssKb, last.rssKb, last.rssKb - warm.rssKb, last.peakKb);
    std::printf("  station fds              %d after warm-up, %d at the end\n", warm.fds, last.fds);
    std::printf("  station CPU              %.1f %% of one core after warm-up\n",
                100.0 * (last.cpuSeconds - warm.cpuSeconds) / seconds(end - warmTime));
    std::printf("  stop on SIGTERM          %.3f s, exit %s %d\n", stopSeconds,
                WIFEXITED(status) ? "status" : "signal",
                WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
