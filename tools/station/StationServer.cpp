#include "tools/station/StationServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/Log.h"
#include "tools/station/ByteRange.h"
#include "tools/station/StationTitles.h"

namespace station {

namespace {

constexpr size_t kScratchSize = 64 * 1024;

const char* reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 416: return "Range Not Satisfiable";
        case 431: return "Request Header Fields Too Large";
        case 503: return "Service Unavailable";
        default: return "Internal Server Error";
    }
}

std::string peerName(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string timeOfDay() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis));
    return text;
}

std::string minutesAndSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%04.1f", static_cast<int>(seconds / 60),
                  std::fmod(seconds, 60.0));
    return text;
}

UniqueFd listenOn(const std::string& address, uint16_t port, uint16_t* boundPort,
                  std::string* error) {
    const std::string where = address + ":" + std::to_string(port);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        *error = "not an IPv4 address: " + address;
        return {};
    }
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    if (!fd || ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd.get(), 128) != 0) {
        *error = "cannot listen on " + where + ": " + std::strerror(errno);
        return {};
    }
    socklen_t length = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &length);
    *boundPort = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

// One client connection. The phases go ReadingHead -> Sending -> (Streaming, for a live
// listener) and end with `done`, after which the loop closes and forgets the connection.
struct StationServer::Connection {
    enum class Phase { ReadingHead, Sending, Streaming };

    UniqueFd fd;
    std::string peer;
    bool live = false;  // accepted on the live port
    Phase phase = Phase::ReadingHead;
    Clock::time_point accepted;
    bool done = false;

    std::string in;  // the request head as it arrives

    std::string head;  // response head, then one of the bodies below
    size_t headSent = 0;
    std::shared_ptr<const std::string> memory;
    size_t memoryNext = 0, memoryEnd = 0;
    UniqueFd file;
    uint64_t fileNext = 0, fileEnd = 0;

    bool listener = false;  // streams the live loop once the head has gone
    ListenerCursor cursor;
    // A listener that asked for metadata: audio bytes until the next block, the block being
    // sent, and the title it has.
    bool icy = false;
    size_t untilBlock = 0;
    std::string block;
    size_t blockSent = 0;
    std::string title;
    // The drop round the listener joined in (see StationConfig::dropEvery).
    int64_t dropRound = 0;
    bool blocked = false;  // the last send filled the socket; wait for POLLOUT
};

// What a handler decides to send: the head's status and fields, and one body, if any.
struct StationServer::Response {
    int status = 200;
    std::string headers;  // extra header lines, each ending in CRLF
    std::optional<uint64_t> contentLength;
    std::shared_ptr<const std::string> memory;
    size_t memoryFirst = 0;
    UniqueFd file;
    uint64_t fileFirst = 0;
    bool bodyless = false;  // HEAD: the head only
    bool listener = false;
};

StationServer::StationServer(StationConfig config, LiveLoop loop, StopSignal& stop)
    : config_(std::move(config)),
      stop_(stop),
      broadcast_(std::make_unique<LiveBroadcast>(std::move(loop), Clock::now(), config_.headStart)),
      scratch_(kScratchSize) {}

StationServer::~StationServer() = default;

bool StationServer::listen(std::string* error) {
    liveListen_ = listenOn(config_.address, config_.livePort, &livePort_, error);
    if (!liveListen_) return false;
    webListen_ = listenOn(config_.address, config_.webPort, &webPort_, error);
    if (!webListen_) return false;
    baseUrl_ = config_.baseUrl;
    if (baseUrl_.empty()) {
        const std::string host = config_.address == "0.0.0.0" ? "127.0.0.1" : config_.address;
        baseUrl_ = "http://" + host + ":" + std::to_string(webPort_);
    }
    while (!baseUrl_.empty() && baseUrl_.back() == '/') baseUrl_.pop_back();
    site_ = std::make_unique<StationSite>(baseUrl_, config_.audioDir);
    return true;
}

void StationServer::run() {
    std::vector<pollfd> fds;
    while (!stop_.requested()) {
        fds.clear();
        fds.push_back({stop_.fd(), POLLIN, 0});
        fds.push_back({liveListen_.get(), POLLIN, 0});
        fds.push_back({webListen_.get(), POLLIN, 0});
        for (const auto& c : connections_) {
            short events = 0;
            switch (c->phase) {
                case Connection::Phase::ReadingHead: events = POLLIN; break;
                case Connection::Phase::Sending: events = POLLOUT; break;
                // Reading shows when a listener hangs up; clients send nothing more.
                case Connection::Phase::Streaming:
                    events = POLLIN | (c->blocked ? POLLOUT : 0);
                    break;
            }
            fds.push_back({c->fd.get(), events, 0});
        }
        if (::poll(fds.data(), fds.size(), pollTimeout(Clock::now())) < 0 && errno != EINTR) {
            platform::logf("station: poll failed: %s", std::strerror(errno));
            break;
        }
        if (stop_.requested()) break;
        const auto now = Clock::now();

        // Connections accepted below are appended, so the indexes of these stay valid.
        const size_t polled = connections_.size();
        for (size_t i = 0; i < polled; ++i) service(*connections_[i], fds[3 + i].revents, now);
        if (fds[1].revents & POLLIN) acceptAll(liveListen_.get(), true, now);
        if (fds[2].revents & POLLIN) acceptAll(webListen_.get(), false, now);

        for (auto& c : connections_) {
            if (c->done) continue;
            if (c->phase == Connection::Phase::Streaming) pumpListener(*c, now);
            if (c->phase == Connection::Phase::ReadingHead &&
                now - c->accepted > config_.requestTimeout) {
                logRequest(*c, 408, "no request");
                c->done = true;
            }
        }
        std::erase_if(connections_, [this](const std::unique_ptr<Connection>& c) {
            if (c->done) finish(*c);
            return c->done;
        });
    }
    for (auto& c : connections_) finish(*c);
    connections_.clear();
    liveListen_.reset();
    webListen_.reset();
}

// Wakes for the next head deadline, for the next frame going on air while any listener is
// waiting for it, and now and then for blocked listeners. Rounded up, so that a wake never
// comes just before its moment and spins.
int StationServer::pollTimeout(Clock::time_point now) const {
    std::optional<Clock::time_point> wake;
    auto consider = [&](Clock::time_point t) {
        if (!wake || t < *wake) wake = t;
    };
    for (const auto& c : connections_) {
        if (c->phase == Connection::Phase::ReadingHead)
            consider(c->accepted + config_.requestTimeout);
        if (c->phase == Connection::Phase::Streaming) {
            // A blocked listener is looked at once a second, so that one that never reads
            // again is still let go when it falls too far behind.
            consider(c->blocked ? now + std::chrono::seconds(1)
                                : broadcast_->airTime(broadcast_->frameOnAir(now) + 1));
        }
    }
    if (!wake) return -1;
    if (*wake <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
    return static_cast<int>(std::min<int64_t>(wait, 60'000));
}

void StationServer::acceptAll(int listenFd, bool live, Clock::time_point now) {
    while (true) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        UniqueFd fd(::accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd) return;  // EAGAIN, or an error that the next connection may not have
        auto c = std::make_unique<Connection>();
        c->fd = std::move(fd);
        c->peer = peerName(address);
        c->live = live;
        c->accepted = now;
        if (connections_.size() >= config_.maxConnections) {
            // Refused with a best-effort answer; a full socket buffer just loses it.
            static const char kBusy[] =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: "
                "close\r\n\r\n";
            ssize_t ignored =
                ::send(c->fd.get(), kBusy, sizeof kBusy - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
            (void)ignored;
            logRequest(*c, 503, "too many connections");
            continue;
        }
        connections_.push_back(std::move(c));
    }
}

void StationServer::service(Connection& c, short revents, Clock::time_point now) {
    if (c.done || revents == 0) return;
    if (revents & (POLLERR | POLLNVAL)) {
        c.done = true;
        return;
    }
    switch (c.phase) {
        case Connection::Phase::ReadingHead: readHead(c, now); break;
        case Connection::Phase::Sending:
            if (revents & POLLHUP) {
                c.done = true;
            } else {
                writeSome(c, now);
            }
            break;
        case Connection::Phase::Streaming:
            if (revents & (POLLIN | POLLHUP)) {
                // Whatever a listener sends is dropped; the end of its input is its leaving.
                ssize_t n = ::recv(c.fd.get(), scratch_.data(), scratch_.size(), MSG_DONTWAIT);
                if (n == 0 ||
                    (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    c.done = true;
                    return;
                }
            }
            if (revents & POLLOUT) c.blocked = false;
            break;
    }
}

void StationServer::readHead(Connection& c, Clock::time_point now) {
    bool closed = false;
    while (c.in.size() <= kMaxRequestHead) {
        ssize_t n = ::recv(c.fd.get(), scratch_.data(), scratch_.size(), MSG_DONTWAIT);
        if (n > 0) {
            c.in.append(scratch_.data(), static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // A client may shut down its sending side right after the request and still read.
        closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    const auto end = findRequestHeadEnd(c.in);
    if (end && *end <= kMaxRequestHead) {
        handleRequest(c, parseRequestHead(std::string_view(c.in).substr(0, *end)), now);
    } else if (c.in.size() > kMaxRequestHead) {
        ++requests_;
        logRequest(c, 431,
                   "request head longer than " + std::to_string(kMaxRequestHead) + " bytes");
        respondError(c, 431);
    } else {
        if (closed) c.done = true;  // gone before a whole request came
        return;
    }
    c.in.clear();
    c.in.shrink_to_fit();
    writeSome(c, now);
}

void StationServer::handleRequest(Connection& c, const std::optional<HttpRequest>& request,
                                  Clock::time_point now) {
    ++requests_;
    if (!request) {
        logRequest(c, 400, "malformed request");
        respondError(c, 400);
        return;
    }
    const std::string quoted =
        "\"" + request->method + " " + request->target + " " + request->version + "\"";
    if (request->method != "GET" && request->method != "HEAD") {
        logRequest(c, 405, quoted);
        respondError(c, 405, "Allow: GET, HEAD\r\n");
        return;
    }
    if (c.live) {
        respondLive(c, *request, now);
    } else {
        respondWeb(c, *request);
    }
}

void StationServer::respondLive(Connection& c, const HttpRequest& request, Clock::time_point now) {
    const std::string quoted =
        "\"" + request.method + " " + request.target + " " + request.version + "\"";
    if (request.path != "/") {
        logRequest(c, 404, quoted);
        respondError(c, 404);
        return;
    }
    const LiveLoop& loop = broadcast_->loop();
    Response response;
    // No Content-Length: the stream has no end, and the body ends when the connection does.
    response.headers =
        "Content-Type: audio/mpeg\r\nCache-Control: no-cache, no-store\r\n"
        "icy-name: " +
        std::string(kStationName) + "\r\nicy-br: " + std::to_string(loop.bitrateKbps()) + "\r\n";
    const auto metadata = request.header("Icy-MetaData");
    if (metadata && *metadata == "1" && config_.icyInterval > 0) {
        c.icy = true;
        c.untilBlock = config_.icyInterval;
        response.headers += "icy-metaint: " + std::to_string(config_.icyInterval) + "\r\n";
    }
    response.bodyless = request.method == "HEAD";
    response.listener = !response.bodyless;
    if (response.listener) {
        c.cursor = broadcast_->startListener(now);
        c.dropRound = dropRound(now);
        const double intoLoop = static_cast<double>(broadcast_->loopFrame(c.cursor.nextFrame)) *
                                loop.samplesPerFrame() / loop.sampleRate();
        logRequest(c, 200, quoted + " live from " + minutesAndSeconds(intoLoop) + " into the loop");
    } else {
        logRequest(c, 200, quoted);
    }
    startSending(c, std::move(response));
}

void StationServer::respondWeb(Connection& c, const HttpRequest& request) {
    const std::string quoted =
        "\"" + request.method + " " + request.target + " " + request.version + "\"";
    const SiteResource* resource = site_->find(request.path);
    Response response;
    uint64_t length = 0;
    if (resource && resource->bytes) {
        response.memory = resource->bytes;
        length = resource->bytes->size();
        response.headers = "Cache-Control: no-cache\r\n";
    } else if (resource) {
        response.file.reset(::open(resource->file.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (!response.file || ::fstat(response.file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            logRequest(c, 404, quoted + " (" + resource->file.string() + " cannot be read)");
            respondError(c, 404);
            return;
        }
        length = static_cast<uint64_t>(info.st_size);
    } else {
        logRequest(c, 404, quoted);
        respondError(c, 404);
        return;
    }
    response.headers += "Content-Type: " + resource->mimeType + "\r\nAccept-Ranges: bytes\r\n";
    response.bodyless = request.method == "HEAD";

    const ByteRange range = resolveByteRange(request.header("Range"), length);
    const std::string total = std::to_string(length);
    switch (range.kind) {
        case ByteRange::Kind::Whole:
            response.contentLength = length;
            logRequest(c, 200, quoted + " " + total + " bytes");
            break;
        case ByteRange::Kind::Partial: {
            response.status = 206;
            response.contentLength = range.last - range.first + 1;
            response.memoryFirst = range.first;
            response.fileFirst = range.first;
            const std::string span =
                std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + total;
            response.headers += "Content-Range: bytes " + span + "\r\n";
            logRequest(c, 206, quoted + " bytes " + span);
            break;
        }
        case ByteRange::Kind::Unsatisfiable:
            logRequest(c, 416,
                       quoted + " " + std::string(*request.header("Range")) + " of " + total);
            respondError(c, 416, "Content-Range: bytes */" + total + "\r\n");
            return;
    }
    startSending(c, std::move(response));
}

void StationServer::respondError(Connection& c, int status, const std::string& extraHeaders) {
    Response response;
    response.status = status;
    response.headers = "Content-Type: text/plain; charset=utf-8\r\n" + extraHeaders;
    response.memory = std::make_shared<const std::string>(std::to_string(status) + " " +
                                                          reasonPhrase(status) + "\n");
    response.contentLength = response.memory->size();
    startSending(c, std::move(response));
}

void StationServer::startSending(Connection& c, Response response) {
    c.head = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonPhrase(response.status) +
             "\r\n";
    c.head += "Server: ostra-station\r\n";
    c.head += response.headers;
    if (response.contentLength)
        c.head += "Content-Length: " + std::to_string(*response.contentLength) + "\r\n";
    // One request per connection keeps the server simple; clients reconnect for the next.
    c.head += "Connection: close\r\n\r\n";
    c.headSent = 0;
    c.phase = Connection::Phase::Sending;
    c.listener = response.listener;
    if (response.bodyless) return;
    const uint64_t length = response.contentLength.value_or(0);
    if (response.memory) {
        c.memory = response.memory;
        c.memoryNext = response.memoryFirst;
        c.memoryEnd = response.memoryFirst + length;
    } else if (response.file) {
        c.file = std::move(response.file);
        c.fileNext = response.fileFirst;
        c.fileEnd = response.fileFirst + length;
    }
}

void StationServer::writeSome(Connection& c, Clock::time_point now) {
    if (c.done || c.phase != Connection::Phase::Sending) return;
    auto sendChunk = [&](const char* data, size_t size) -> ssize_t {
        while (true) {
            ssize_t n = ::send(c.fd.get(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) c.done = true;
            return -1;
        }
    };
    while (c.headSent < c.head.size()) {
        ssize_t n = sendChunk(c.head.data() + c.headSent, c.head.size() - c.headSent);
        if (n <= 0) return;
        c.headSent += static_cast<size_t>(n);
    }
    while (c.memory && c.memoryNext < c.memoryEnd) {
        ssize_t n = sendChunk(c.memory->data() + c.memoryNext, c.memoryEnd - c.memoryNext);
        if (n <= 0) return;
        c.memoryNext += static_cast<size_t>(n);
    }
    while (c.file && c.fileNext < c.fileEnd) {
        // Read what may fit and send it; what the socket does not take is read again later.
        const size_t want =
            static_cast<size_t>(std::min<uint64_t>(scratch_.size(), c.fileEnd - c.fileNext));
        ssize_t got = ::pread(c.file.get(), scratch_.data(), want, static_cast<off_t>(c.fileNext));
        if (got <= 0) {
            // The file shrank under us: the promised length cannot be kept, so the connection
            // must end early for the client to see the truncation.
            platform::logf("station: %s: file read failed at byte %llu", c.peer.c_str(),
                           static_cast<unsigned long long>(c.fileNext));
            c.done = true;
            return;
        }
        ssize_t n = sendChunk(scratch_.data(), static_cast<size_t>(got));
        if (n <= 0) return;
        c.fileNext += static_cast<uint64_t>(n);
    }
    if (c.listener) {
        // A listener's socket buffer is kept small. The stream comes at its bit rate, so a few
        // seconds of buffer lose nothing, while the kernel's own sizing could let each idle
        // listener pile up megabytes, minutes of audio, before it counted as behind.
        const int sendBuffer = config_.listenerSendBuffer;
        ::setsockopt(c.fd.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        c.phase = Connection::Phase::Streaming;
        c.blocked = false;
        ++listeners_;
        pumpListener(c, now);
        return;
    }
    c.done = true;
}

int64_t StationServer::dropRound(Clock::time_point now) const {
    if (config_.dropEvery.count() <= 0) return 0;
    return (now - broadcast_->airTime(0)) / config_.dropEvery;
}

void StationServer::pumpListener(Connection& c, Clock::time_point now) {
    if (dropRound(now) != c.dropRound) {
        platform::logf("[%s] station: %s dropped, as every listener is now and then",
                       timeOfDay().c_str(), c.peer.c_str());
        c.done = true;
        return;
    }
    while (!c.blocked) {
        // A block begun goes out whole before more audio.
        const bool inBlock = c.icy && c.blockSent < c.block.size();
        std::span<const uint8_t> bytes;
        if (inBlock) {
            bytes = {reinterpret_cast<const uint8_t*>(c.block.data()) + c.blockSent,
                     c.block.size() - c.blockSent};
        } else {
            bytes = broadcast_->due(c.cursor, now);
            if (bytes.empty()) break;
            if (c.icy) bytes = bytes.first(std::min(bytes.size(), c.untilBlock));
        }
        ssize_t n = ::send(c.fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                c.blocked = true;
                break;
            }
            c.done = true;
            return;
        }
        const auto sent = static_cast<size_t>(n);
        if (sent < bytes.size()) c.blocked = true;
        if (inBlock) {
            c.blockSent += sent;
            continue;
        }
        broadcast_->advance(c.cursor, sent);
        if (!c.icy) continue;
        c.untilBlock -= sent;
        if (c.untilBlock == 0) {
            // The title of what the listener hears next.
            const LiveLoop& loop = broadcast_->loop();
            const double onAir =
                double(c.cursor.nextFrame) * loop.samplesPerFrame() / loop.sampleRate();
            const std::string title = segmentTitle(onAir, double(config_.segmentLength.count()));
            c.block = metadataBlock(title, c.title);
            c.title = title;
            c.blockSent = 0;
            c.untilBlock = config_.icyInterval;
        }
    }
    const double lag = broadcast_->lagSeconds(c.cursor, now);
    if (lag * 1000.0 > static_cast<double>(config_.maxLag.count())) {
        platform::logf("[%s] station: %s let go: %.1f s behind the broadcast", timeOfDay().c_str(),
                       c.peer.c_str(), lag);
        c.done = true;
    }
}

void StationServer::finish(Connection& c) {
    if (c.phase == Connection::Phase::Streaming) --listeners_;
    // Read what the client may still have sent, so that the close sends a FIN and not a
    // reset that could destroy the end of the response before the client has read it.
    while (c.fd && ::recv(c.fd.get(), scratch_.data(), scratch_.size(), MSG_DONTWAIT) > 0) {
    }
    c.fd.reset();
}

void StationServer::logRequest(const Connection& c, int status, const std::string& detail) {
    if (!config_.logRequests) return;
    platform::log("[" + timeOfDay() + "] " + (c.live ? "live " : "web  ") + c.peer + " " +
                  std::to_string(status) + " " + detail);
}

}  // namespace station
