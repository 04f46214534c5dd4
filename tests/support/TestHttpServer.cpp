#include "tests/support/TestHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "tests/support/TestCertificates.h"

namespace testsupport {

using Clock = std::chrono::steady_clock;

// One accepted connection. `fd` and the counters are guarded by the server's mutex; the
// connection's own thread is the only one that closes `fd`, and shutdownAll only calls
// shutdown() on it, so the number can never be reused under a foreign thread's feet.
struct TestHttpServer::Connection {
    ConnectionStats stats;
    int fd = -1;
    std::thread thread;
};

// Plain or TLS byte transport over a connected socket, used by the connection's thread only.
class TestHttpServer::Transport {
public:
    Transport(int fd, SSL_CTX* context) : fd_(fd) {
        if (context) ssl_ = SSL_new(context);
    }
    ~Transport() {
        if (ssl_) SSL_free(ssl_);
    }
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    bool handshake() {
        if (!ssl_) return true;
        SSL_set_fd(ssl_, fd_);
        const bool ok = SSL_accept(ssl_) == 1;
        ERR_clear_error();  // a client that refuses the certificate is an expected outcome
        return ok;
    }

    // Bytes received, 0 at the peer's close, -1 on error.
    long receive(char* buffer, size_t length) {
        if (ssl_) {
            const int n = SSL_read(ssl_, buffer, static_cast<int>(length));
            if (n <= 0) ERR_clear_error();
            return n > 0 ? n : (n == 0 ? 0 : -1);
        }
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, length, 0);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }

    // Bytes written (at least 1), or -1 once the connection is gone.
    long send(const char* data, size_t length) {
        if (ssl_) {
            const int n = SSL_write(ssl_, data, static_cast<int>(length));
            if (n <= 0) ERR_clear_error();
            return n > 0 ? n : -1;
        }
        for (;;) {
            const ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            return n > 0 ? n : -1;
        }
    }

    // An orderly end: TLS close_notify, then the socket's FIN when the fd is closed.
    void finish() {
        if (ssl_) SSL_shutdown(ssl_);
        ERR_clear_error();
    }

private:
    int fd_;
    SSL* ssl_ = nullptr;
};

namespace {

struct SslContextDeleter {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool parseRequestHead(const std::string& head, RecordedRequest& request) {
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) return false;
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    request.version = requestLine.substr(sp2 + 1);
    request.path = request.target.substr(0, request.target.find('?'));
    size_t at = lineEnd + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string::npos) end = head.size();
        const std::string line = head.substr(at, end - at);
        at = end + 2;
        const size_t colon = line.find(':');
        if (line.empty() || colon == std::string::npos) continue;
        request.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return true;
}

bool parseNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// A single "bytes=first-last" range resolved against `total`; nullopt when the header is
// absent or not a form we serve (multiple ranges), in which case the whole body is sent.
// `unsatisfiable` is set for a range that starts at or past the end.
struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;
};
std::optional<ByteRange> parseRange(const std::string& value, uint64_t total, bool& unsatisfiable) {
    unsatisfiable = false;
    if (value.rfind("bytes=", 0) != 0 || value.find(',') != std::string::npos) return {};
    const std::string spec = trim(value.substr(6));
    const size_t dash = spec.find('-');
    if (dash == std::string::npos) return {};
    const std::string a = spec.substr(0, dash);
    const std::string b = spec.substr(dash + 1);
    uint64_t first = 0;
    uint64_t last = 0;
    if (a.empty()) {  // suffix range: the last b bytes
        if (!parseNumber(b, last) || last == 0) return {};
        if (total == 0) {
            unsatisfiable = true;
            return {};
        }
        return ByteRange{total - std::min(last, total), total - 1};
    }
    if (!parseNumber(a, first)) return {};
    if (b.empty()) {
        last = total == 0 ? 0 : total - 1;
    } else if (!parseNumber(b, last) || last < first) {
        return {};
    }
    if (first >= total) {
        unsatisfiable = true;
        return {};
    }
    return ByteRange{first, std::min(last, total - 1)};
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

TestHttpServer::TestHttpServer(Scheme scheme, const std::string& certificateNames)
    : scheme_(scheme) {
    // A client that goes away mid-write must not kill the test process (TLS writes go
    // through write(), which has no MSG_NOSIGNAL).
    std::signal(SIGPIPE, SIG_IGN);

    if (scheme_ == Tls) {
        certificates_ = std::make_unique<TestCertificates>(certificateNames);
        std::unique_ptr<SSL_CTX, SslContextDeleter> context(SSL_CTX_new(TLS_server_method()));
        if (!context ||
            SSL_CTX_use_certificate_file(context.get(), certificates_->certificateFile().c_str(),
                                         SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(context.get(), certificates_->keyFile().c_str(),
                                        SSL_FILETYPE_PEM) != 1) {
            throw std::runtime_error("TestHttpServer: cannot set up TLS");
        }
        SSL_CTX_set_mode(context.get(), SSL_MODE_AUTO_RETRY);
        sslContext_ = context.release();
    }

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("TestHttpServer: cannot listen on 127.0.0.1");
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    shutdownAll();
    if (acceptThread_.joinable()) acceptThread_.join();
    // No new connection can appear once the accept thread has ended.
    for (auto& connection : connections_) {
        if (connection->thread.joinable()) connection->thread.join();
    }
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : wakePipe_) {
        if (fd >= 0) ::close(fd);
    }
    SSL_CTX_free(static_cast<SSL_CTX*>(sslContext_));
}

void TestHttpServer::shutdownAll() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (auto& connection : connections_) {
        if (connection->fd >= 0) ::shutdown(connection->fd, SHUT_RDWR);
    }
    const char byte = 0;
    [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &byte, 1);
    changed_.notify_all();
}

uint16_t TestHttpServer::closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FdCloser closer{fd};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("TestHttpServer: cannot find a free port");
    }
    return ntohs(address.sin_port);
}

std::string TestHttpServer::url(const std::string& path) const {
    return std::string(scheme_ == Tls ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TestHttpServer::caFile() const {
    return certificates_ ? certificates_->caFile() : std::string();
}

void TestHttpServer::serve(const std::string& path, Response response) {
    serve(path,
          Handler([response = std::move(response)](const RecordedRequest&) { return response; }));
}

void TestHttpServer::serve(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

std::vector<RecordedRequest> TestHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<ConnectionStats> TestHttpServer::connections() const {
    std::lock_guard lock(mutex_);
    std::vector<ConnectionStats> result;
    for (const auto& connection : connections_) result.push_back(connection->stats);
    return result;
}

uint64_t TestHttpServer::totalBytesSent() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto& connection : connections_) total += connection->stats.bytesSent;
    return total;
}

uint64_t TestHttpServer::totalBodyBytesSent() const {
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto& connection : connections_) total += connection->stats.bodyBytesSent;
    return total;
}

bool TestHttpServer::waitFor(const std::function<bool()>& done, Seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, done);
}

bool TestHttpServer::waitForRequests(size_t count, Seconds timeout) {
    return waitFor([&] { return requests_.size() >= count; }, timeout);
}

bool TestHttpServer::waitForBodyBytes(uint64_t bytes, Seconds timeout) {
    return waitFor(
        [&] {
            uint64_t total = 0;
            for (const auto& connection : connections_) total += connection->stats.bodyBytesSent;
            return total >= bytes;
        },
        timeout);
}

bool TestHttpServer::waitForConnectionsClosed(Seconds timeout) {
    return waitFor(
        [&] {
            return std::none_of(connections_.begin(), connections_.end(),
                                [](const auto& c) { return c->stats.open; });
        },
        timeout);
}

bool TestHttpServer::waitForPause(const std::string& gate, Seconds timeout) {
    return waitFor([&] { return gatesReached_[gate] > 0; }, timeout);
}

void TestHttpServer::release(const std::string& gate) {
    std::lock_guard lock(mutex_);
    gatesOpen_[gate] = true;
    changed_.notify_all();
}

bool TestHttpServer::sleepUntil(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, deadline, [&] { return stopping_; });
}

void TestHttpServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->stats.id = static_cast<int>(connections_.size()) + 1;
        Connection& c = *connection;
        connections_.push_back(std::move(connection));
        c.thread = std::thread([this, &c] { serveConnection(c); });
        changed_.notify_all();
    }
}

void TestHttpServer::serveConnection(Connection& connection) {
    int fd;
    {
        std::lock_guard lock(mutex_);
        fd = connection.fd;
    }
    bool abortive = false;
    {
        Transport transport(fd, static_cast<SSL_CTX*>(sslContext_));
        bool keepAlive = transport.handshake();
        std::string pending;
        char buffer[4096];
        while (keepAlive) {
            // Read one request head; a request body (none expected from a GET) is dropped.
            size_t headEnd;
            while ((headEnd = pending.find("\r\n\r\n")) == std::string::npos) {
                const long n = transport.receive(buffer, sizeof buffer);
                if (n <= 0 || pending.size() > 64 * 1024) break;
                pending.append(buffer, static_cast<size_t>(n));
            }
            if (headEnd == std::string::npos) break;
            RecordedRequest request;
            request.connection = connection.stats.id;
            if (!parseRequestHead(pending.substr(0, headEnd), request)) break;
            pending.erase(0, headEnd + 4);
            uint64_t bodyLength = 0;
            if (parseNumber(request.header("Content-Length"), bodyLength)) {
                pending.erase(0, std::min<uint64_t>(bodyLength, pending.size()));
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                ++connection.stats.requests;
                changed_.notify_all();
            }
            keepAlive = answer(connection, transport, request);
            const std::string connectionHeader = lowercase(request.header("Connection"));
            if (connectionHeader == "close") keepAlive = false;
            // An HTTP/1.0 client reads to the end of the connection unless it asked to keep it.
            if (request.version == "HTTP/1.0" && connectionHeader != "keep-alive")
                keepAlive = false;
        }
        std::lock_guard lock(mutex_);
        abortive = connection.fd < 0;  // answer() already reset it
        if (!abortive && !stopping_) transport.finish();
    }
    std::lock_guard lock(mutex_);
    if (!abortive) {
        ::close(connection.fd);
        connection.fd = -1;
    }
    connection.stats.open = false;
    changed_.notify_all();
}

Response TestHttpServer::scriptFor(const RecordedRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        auto it = handlers_.find(request.path);
        if (it != handlers_.end()) handler = it->second;
    }
    return handler ? handler(request) : Response::notFound();
}

bool TestHttpServer::sendAll(Connection& connection, Transport& transport, const char* data,
                             size_t length, bool body) {
    while (length > 0) {
        const long n = transport.send(data, length);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<size_t>(n);
        std::lock_guard lock(mutex_);
        connection.stats.bytesSent += static_cast<uint64_t>(n);
        if (body) connection.stats.bodyBytesSent += static_cast<uint64_t>(n);
        changed_.notify_all();
    }
    return true;
}

// Sends one scripted response; returns whether the connection may carry another request.
bool TestHttpServer::answer(Connection& connection, Transport& transport,
                            const RecordedRequest& request) {
    Response script = scriptFor(request);
    if (script.headerStall > Seconds(0) &&
        !sleepUntil(Clock::now() +
                    std::chrono::duration_cast<Clock::duration>(script.headerStall))) {
        return false;
    }

    // Where the body comes from and how long it is (none: endless).
    FdCloser file{-1};
    std::optional<uint64_t> total;
    switch (script.source) {
        case Response::Source::Bytes: total = script.body.size(); break;
        case Response::Source::Generator: total = script.generatedLength; break;
        case Response::Source::File: {
            file.fd = ::open(script.filePath.c_str(), O_RDONLY | O_CLOEXEC);
            struct stat info {};
            if (file.fd < 0 || ::fstat(file.fd, &info) != 0) {
                script = Response::status(500, "cannot read " + script.filePath + "\n");
                total = script.body.size();
            } else {
                total = static_cast<uint64_t>(info.st_size);
            }
            break;
        }
    }

    // Range: 206 with the part asked for, or 416 past the end.
    uint64_t start = 0;
    std::optional<uint64_t> length = total;
    std::string statusLine = script.statusLineText;
    std::vector<std::pair<std::string, std::string>> headers = script.headers;
    const std::string range = request.header("Range");
    if (!range.empty() && script.rangeable && script.honourRange && total) {
        bool unsatisfiable = false;
        if (auto part = parseRange(range, *total, unsatisfiable)) {
            statusLine = "HTTP/1.1 206 Partial Content";
            headers.emplace_back("Content-Range", "bytes " + std::to_string(part->first) + "-" +
                                                      std::to_string(part->last) + "/" +
                                                      std::to_string(*total));
            start = part->first;
            length = part->last - part->first + 1;
        } else if (unsatisfiable) {
            statusLine = "HTTP/1.1 416 Range Not Satisfiable";
            headers.emplace_back("Content-Range", "bytes */" + std::to_string(*total));
            length = 0;
        }
    }

    Response::Framing framing = script.framing;
    if (framing == Response::Framing::ContentLength && !length && !script.claimedLength) {
        framing = Response::Framing::CloseDelimited;
    }
    switch (framing) {
        case Response::Framing::ContentLength:
            headers.emplace_back("Content-Length",
                                 std::to_string(script.claimedLength.value_or(*length)));
            break;
        case Response::Framing::Chunked:
            headers.emplace_back("Transfer-Encoding", "chunked");
            break;
        case Response::Framing::CloseDelimited: headers.emplace_back("Connection", "close"); break;
    }
    std::string head = statusLine + "\r\n";
    for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
    head += "\r\n";

    if (script.socketSendBuffer > 0) {
        ::setsockopt(connection.fd, SOL_SOCKET, SO_SNDBUF, &script.socketSendBuffer,
                     sizeof script.socketSendBuffer);
    }
    if (!sendAll(connection, transport, head.data(), head.size(), false)) return false;
    if (request.method == "HEAD") return framing != Response::Framing::CloseDelimited;

    // The body, piece by piece. No piece crosses a byte count where a fault is due.
    const bool chunked = framing == Response::Framing::Chunked;
    std::vector<char> piece(script.maxWrite + 32);
    const Clock::time_point began = Clock::now();
    bool stalled = false;
    bool paused = false;
    uint64_t sent = 0;
    while (!length || sent < *length) {
        if (script.resetAt && sent == *script.resetAt) {
            // SO_LINGER with a zero timeout turns close() into an RST.
            std::lock_guard lock(mutex_);
            linger abortive{1, 0};
            ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            ::close(connection.fd);
            connection.fd = -1;
            return false;
        }
        if (script.closeAt && sent == *script.closeAt) return false;
        if (script.stall && !stalled && sent == script.stall->first) {
            stalled = true;
            const auto duration = std::chrono::duration_cast<Clock::duration>(script.stall->second);
            if (!sleepUntil(Clock::now() + duration)) return false;
        }
        if (script.pause && !paused && sent == script.pause->first) {
            paused = true;
            std::unique_lock lock(mutex_);
            ++gatesReached_[script.pause->second];
            changed_.notify_all();
            changed_.wait(lock, [&] { return stopping_ || gatesOpen_[script.pause->second]; });
            if (stopping_) return false;
        }

        size_t n = script.maxWrite;
        if (length) n = static_cast<size_t>(std::min<uint64_t>(n, *length - sent));
        for (const auto& at :
             {script.resetAt, script.closeAt,
              script.stall && !stalled ? std::optional(script.stall->first) : std::nullopt,
              script.pause && !paused ? std::optional(script.pause->first) : std::nullopt}) {
            if (at && *at > sent) n = static_cast<size_t>(std::min<uint64_t>(n, *at - sent));
        }
        if (script.trickleInterval > Seconds(0)) {
            n = 1;
            const auto interval =
                std::chrono::duration_cast<Clock::duration>(script.trickleInterval);
            if (!sleepUntil(Clock::now() + interval)) return false;
        } else if (script.bytesPerSecond > 0) {
            // Bursts at about 50 per second keep the rate steady without a write per byte.
            n = std::min(n, std::max<size_t>(1, static_cast<size_t>(script.bytesPerSecond / 50)));
            const auto due = began + std::chrono::duration_cast<Clock::duration>(Seconds(
                                         static_cast<double>(sent) / script.bytesPerSecond));
            if (!sleepUntil(due)) return false;
        }

        size_t prefix = 0;
        if (chunked) prefix = static_cast<size_t>(std::snprintf(piece.data(), 32, "%zx\r\n", n));
        char* data = piece.data() + prefix;
        const uint64_t offset = start + sent;
        switch (script.source) {
            case Response::Source::Bytes: std::memcpy(data, script.body.data() + offset, n); break;
            case Response::Source::File:
                if (::pread(file.fd, data, n, static_cast<off_t>(offset)) !=
                    static_cast<ssize_t>(n)) {
                    return false;
                }
                break;
            case Response::Source::Generator:
                script.generator(offset, reinterpret_cast<uint8_t*>(data), n);
                break;
        }
        if (chunked) {
            // The body counter counts payload only, so send the framing separately.
            if (!sendAll(connection, transport, piece.data(), prefix, false) ||
                !sendAll(connection, transport, data, n, true) ||
                !sendAll(connection, transport, "\r\n", 2, false)) {
                return false;
            }
        } else if (!sendAll(connection, transport, data, n, true)) {
            return false;
        }
        sent += n;
    }
    if (chunked && !sendAll(connection, transport, "0\r\n\r\n", 5, false)) return false;
    // A wrong Content-Length leaves the connection out of step: close it.
    const bool lengthTrue = !script.claimedLength || (length && *script.claimedLength == *length);
    return framing != Response::Framing::CloseDelimited && lengthTrue;
}

}  // namespace testsupport
