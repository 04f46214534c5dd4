#pragma once
// The demo station's HTTP server: the live stream on one port, the web site (feed,
// advertisement list, programme files with byte ranges) on the other, loopback by default.
//
// Threads: listen() and the port accessors are called by the owner before run(); run() then
// serves on the calling thread until the StopSignal is raised (from any thread or a signal
// handler), and returns after closing every connection. The counters may be read from any
// thread. There is no lock: all connection state belongs to the thread inside run().

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/station/HttpRequest.h"
#include "tools/station/LiveBroadcast.h"
#include "tools/station/StationSite.h"
#include "tools/station/StopSignal.h"
#include "tools/station/UniqueFd.h"

namespace station {

struct StationConfig {
    std::string address = "127.0.0.1";
    uint16_t livePort = 8170;  // 0 picks a free port
    uint16_t webPort = 8171;
    std::string baseUrl;  // how clients reach the web port; empty: http://address:webPort
    std::filesystem::path audioDir;
    // A burst this long at connect lets a player fill its buffers without waiting.
    std::chrono::milliseconds headStart{2000};
    // A listener that falls this far behind (it stopped reading) is let go, so that no
    // listener can hold the station's resources for ever.
    std::chrono::milliseconds maxLag{60000};
    // The socket send buffer of a listener: 4 s at 128 kbit/s (the kernel doubles it).
    int listenerSendBuffer = 64 * 1024;
    // A client must send its request head within this time.
    std::chrono::milliseconds requestTimeout{10000};
    size_t maxConnections = 256;
    // Listeners that send "Icy-MetaData: 1" get a metadata block after this many bytes of
    // audio, with the title of the segment on air; the title changes every segment.
    size_t icyInterval = 16000;
    std::chrono::seconds segmentLength{180};
    // Every this long (0: never) the station drops every listener, as a network or a
    // restarting server would, for the demo and for tests of reconnecting.
    std::chrono::milliseconds dropEvery{0};
    bool logRequests = true;
};

class StationServer {
public:
    StationServer(StationConfig config, LiveLoop loop, StopSignal& stop);
    ~StationServer();
    StationServer(const StationServer&) = delete;
    StationServer& operator=(const StationServer&) = delete;

    // Binds both ports and builds the web site. Returns false with `error` set on failure.
    bool listen(std::string* error);
    uint16_t livePort() const { return livePort_; }
    uint16_t webPort() const { return webPort_; }
    const std::string& baseUrl() const { return baseUrl_; }
    const LiveBroadcast& broadcast() const { return *broadcast_; }

    void run();

    size_t listenerCount() const { return listeners_.load(); }
    uint64_t requestCount() const { return requests_.load(); }

private:
    struct Connection;
    struct Response;

    void acceptAll(int listenFd, bool live, Clock::time_point now);
    void service(Connection& c, short revents, Clock::time_point now);
    void readHead(Connection& c, Clock::time_point now);
    void handleRequest(Connection& c, const std::optional<HttpRequest>& request,
                       Clock::time_point now);
    void respondLive(Connection& c, const HttpRequest& request, Clock::time_point now);
    // Which interval of StationConfig::dropEvery `now` lies in (0 when listeners stay).
    int64_t dropRound(Clock::time_point now) const;
    void respondWeb(Connection& c, const HttpRequest& request);
    void respondError(Connection& c, int status, const std::string& extraHeaders = {});
    void startSending(Connection& c, Response response);
    void writeSome(Connection& c, Clock::time_point now);
    void pumpListener(Connection& c, Clock::time_point now);
    void finish(Connection& c);
    int pollTimeout(Clock::time_point now) const;
    void logRequest(const Connection& c, int status, const std::string& detail);

    StationConfig config_;
    StopSignal& stop_;
    std::unique_ptr<LiveBroadcast> broadcast_;
    std::unique_ptr<StationSite> site_;
    std::string baseUrl_;
    UniqueFd liveListen_;
    UniqueFd webListen_;
    uint16_t livePort_ = 0;
    uint16_t webPort_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<char> scratch_;  // file reads and discarded input pass through here
    std::atomic<size_t> listeners_{0};
    std::atomic<uint64_t> requests_{0};
};

}  // namespace station
