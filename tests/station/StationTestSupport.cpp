#include "StationTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tools/station/StationAudio.h"
#include "tools/station/StationCatalogue.h"

namespace stationtest {

const std::filesystem::path& audioDir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path path = OSTRA_STATION_TEST_AUDIO_DIR;
        station::StopSignal neverStopped;
        auto check = station::ensureStationAudio(path, OSTRA_STATION_GENERATOR,
                                                 station::stationAudioFiles(), neverStopped);
        if (!check.ready) throw std::runtime_error("station audio unavailable: " + check.error);
        return path;
    }();
    return dir;
}

RunningStation::RunningStation(station::StationConfig config) {
    config.address = "127.0.0.1";
    config.livePort = 0;
    config.webPort = 0;
    config.audioDir = audioDir();
    std::string error;
    auto loop = station::LiveLoop::load(config.audioDir / station::kLiveLoopFile, &error);
    if (!loop) throw std::runtime_error(error);
    server_ = std::make_unique<station::StationServer>(config, std::move(*loop), stop_);
    if (!server_->listen(&error)) throw std::runtime_error(error);
    thread_ = std::thread([this] { server_->run(); });
}

RunningStation::~RunningStation() {
    stop_.request();
    thread_.join();
}

station::UniqueFd connectTo(uint16_t port) {
    station::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
    }
    return fd;
}

bool readUntil(int fd, std::string& into, Clock::time_point deadline, size_t limit) {
    char buffer[16384];
    while (into.size() < limit) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return true;
        struct pollfd p = {fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const size_t want = std::min(sizeof buffer, limit - into.size());
        ssize_t n = ::read(fd, buffer, want);
        if (n == 0) return false;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        into.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

HttpResponse parseResponse(const std::string& raw) {
    HttpResponse response;
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return response;
    std::string head = raw.substr(0, end);
    response.body = raw.substr(end + 4);
    size_t lineEnd = head.find("\r\n");
    const std::string statusLine = head.substr(0, lineEnd);
    if (statusLine.size() >= 12) response.status = std::stoi(statusLine.substr(9, 3));
    while (lineEnd != std::string::npos) {
        const size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line =
            head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        response.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    return response;
}

HttpResponse roundTrip(uint16_t port, const std::string& request, Clock::duration timeout) {
    auto fd = connectTo(port);
    if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        throw std::runtime_error("send failed");
    }
    std::string raw;
    const bool open = readUntil(fd.get(), raw, Clock::now() + timeout);
    HttpResponse response = parseResponse(raw);
    response.complete = !open;
    return response;
}

HttpResponse get(uint16_t port, const std::string& path, const std::string& extraHeaders) {
    return roundTrip(port,
                     "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n");
}

}  // namespace stationtest
