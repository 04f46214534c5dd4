#pragma once
// A scripted HTTP/1.1 server on 127.0.0.1 for tests, with faults on demand.
//
// It listens on an ephemeral port and serves each connection on a thread of its own, so
// several clients can be served at once. Responses are scripted per path; every request is
// recorded, and so are the bytes sent on each connection. The destructor closes the listener
// and every connection, interrupts every wait (stalls, pacing, pauses) and joins all threads,
// so a test never waits for a long stall to run out.
//
// Usage:
//
//     testsupport::TestHttpServer server;
//     server.serve("/song.mp3", Response::bytes(mp3).header("Content-Type", "audio/mpeg"));
//     server.serve("/old", Response::redirect("/song.mp3"));
//     server.serve("/live", Response::live(repeating(mp3Frames), 16'000).icy());  // endless
//     server.serve("/cut", Response::bytes(mp3).resetAfter(10'000));      // RST mid-body
//     server.serve("/slow", Response::bytes(mp3).pauseAfter(5000, "gap"));
//     ... client GETs server.url("/slow") ...
//     ASSERT_TRUE(server.waitForPause("gap"));
//     server.release("gap");
//     ASSERT_TRUE(server.waitForRequests(1));
//     EXPECT_EQ(server.requests()[0].header("range"), "bytes=100-");
//
// A connection carries further requests (keep-alive) unless its response was close-delimited,
// claimed a wrong Content-Length, or ended in a fault. Range requests on bytes, files and
// generated bodies of known length get 206 (or 416 past the end) unless ignoreRange() is set;
// redirects, error pages and live streams never honour Range.
//
// With TestHttpServer::Tls the same server speaks HTTPS with a certificate for 127.0.0.1 and
// localhost, signed by a throw-away CA whose PEM file is caFile(); clients that do not trust
// that file must refuse the connection.
//
// Threads: every public member may be called from any thread. The byte generators and
// dynamic handlers run on the connection's thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testsupport {

class TestCertificates;

using Seconds = std::chrono::duration<double>;

// Fills `buffer` with `length` body bytes that start at body offset `offset`.
using ByteGenerator = std::function<void(uint64_t offset, uint8_t* buffer, size_t length)>;

// A generator that repeats `pattern` endlessly (e.g. a few real MP3 frames for a live stream).
ByteGenerator repeating(std::string pattern);

// `audio` as a station that interleaves metadata sends it: after every `interval` audio bytes a
// 64-byte block (length byte 4) holding "StreamTitle='<titleAt(block)>';", block counting from
// 0. Serve it with an "icy-metaint" header of the same interval.
ByteGenerator withIcyMetadata(ByteGenerator audio, size_t interval,
                              std::function<std::string(uint64_t block)> titleAt);

// A generator of a deterministic byte pattern, for bodies too big to keep twice in memory.
// patternByte(offset) gives the byte it produces at that offset.
ByteGenerator counting();
uint8_t patternByte(uint64_t offset);

// A scripted response. Build it with the named constructors and chain the modifiers.
struct Response {
    enum class Framing { ContentLength, Chunked, CloseDelimited };

    // ---- named constructors ----
    static Response bytes(std::string body);
    static Response file(std::string path);
    // A body of `length` bytes from `generator`, produced as it is sent.
    static Response generated(uint64_t length, ByteGenerator generator);
    // An endless close-delimited body from `generator`, paced at `bytesPerSecond` (0: as fast
    // as the client takes it).
    static Response live(ByteGenerator generator, double bytesPerSecond = 0);
    static Response redirect(std::string location, int status = 302);
    static Response status(int code, std::string body = {});
    // A 404 with a small HTML page, as web servers send it.
    static Response notFound();

    // ---- modifiers ----
    Response& statusLine(std::string line);  // verbatim, e.g. "ICY 200 OK"
    Response& icy();                         // "ICY 200 OK" plus typical icy-* headers
    Response& header(std::string name, std::string value);
    Response& chunked();
    Response& closeDelimited();
    Response& ignoreRange();                    // answer a Range request with 200 from byte 0
    Response& contentLength(uint64_t claimed);  // claim this length whatever the body is
    Response& pace(double bytesPerSecond);
    Response& writeSize(size_t bytes);    // largest single write (default 16 KiB)
    Response& sendBufferSize(int bytes);  // SO_SNDBUF for the connection
    // Faults. Byte counts are body bytes sent by the server.
    Response& resetAfter(uint64_t bodyBytes);  // abortive close (TCP RST)
    Response& closeAfter(uint64_t bodyBytes);  // orderly close before the body is complete
    Response& stallBeforeHeaders(Seconds duration);
    Response& stallAfter(uint64_t bodyBytes, Seconds duration);
    Response& trickle(Seconds interval);  // the body one byte per interval
    // After `bodyBytes`, waits until the test calls release(gate) (or the server shuts down).
    Response& pauseAfter(uint64_t bodyBytes, std::string gate);

    // ---- the script (read by the server) ----
    std::string statusLineText = "HTTP/1.1 200 OK";
    std::vector<std::pair<std::string, std::string>> headers;
    enum class Source { Bytes, File, Generator } source = Source::Bytes;
    std::string body;
    std::string filePath;
    ByteGenerator generator;
    std::optional<uint64_t> generatedLength;  // none: endless
    Framing framing = Framing::ContentLength;
    bool honourRange = true;
    bool rangeable = true;  // false for redirects, errors and live streams
    std::optional<uint64_t> claimedLength;
    double bytesPerSecond = 0;
    size_t maxWrite = 16 * 1024;
    int socketSendBuffer = 0;
    std::optional<uint64_t> resetAt;
    std::optional<uint64_t> closeAt;
    Seconds headerStall{0};
    std::optional<std::pair<uint64_t, Seconds>> stall;
    Seconds trickleInterval{0};
    std::optional<std::pair<uint64_t, std::string>> pause;
};

struct RecordedRequest {
    int connection = 0;  // 1 for the first connection, counting up
    std::string method;
    std::string target;  // as sent, query included
    std::string path;    // target without the query
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // as sent, in order

    // Case-insensitive lookup; empty when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

struct ConnectionStats {
    int id = 0;
    uint64_t bytesSent = 0;      // everything written, headers included
    uint64_t bodyBytesSent = 0;  // body bytes only (chunk framing excluded)
    int requests = 0;
    bool open = true;
};

class TestHttpServer {
public:
    enum Scheme { Http, Tls };
    using Handler = std::function<Response(const RecordedRequest&)>;

    // `certificateNames` are the TLS certificate's subject alternative names.
    explicit TestHttpServer(Scheme scheme = Http,
                            const std::string& certificateNames = "IP:127.0.0.1,DNS:localhost");

    // A loopback port nobody listens on (bound, then released), for "connection refused".
    static uint16_t closedPort();

    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Scripts the answer for `path` (the target without its query). Unscripted paths get 404.
    void serve(const std::string& path, Response response);
    // Decides the answer per request, e.g. to answer a second request differently.
    void serve(const std::string& path, Handler handler);

    uint16_t port() const { return port_; }
    bool isTls() const { return scheme_ == Tls; }
    // "http://127.0.0.1:PORT/path" (https for the TLS variant).
    std::string url(const std::string& path = "/") const;
    // PEM of the CA that signed the TLS server's certificate; empty for plain HTTP.
    std::string caFile() const;

    std::vector<RecordedRequest> requests() const;
    std::vector<ConnectionStats> connections() const;
    uint64_t totalBytesSent() const;
    uint64_t totalBodyBytesSent() const;

    bool waitForRequests(size_t count, Seconds timeout = Seconds(10));
    // Waits until the server has sent at least `bytes` body bytes in total.
    bool waitForBodyBytes(uint64_t bytes, Seconds timeout = Seconds(10));
    // Waits until every connection accepted so far has been closed by either side.
    bool waitForConnectionsClosed(Seconds timeout = Seconds(10));
    // Waits for a connection to reach the pause named `gate`.
    bool waitForPause(const std::string& gate, Seconds timeout = Seconds(10));
    // Lets every connection paused (now or later) at `gate` go on.
    void release(const std::string& gate);

private:
    struct Connection;
    class Transport;

    void acceptLoop();
    void serveConnection(Connection& connection);
    bool answer(Connection& connection, Transport& transport, const RecordedRequest& request);
    Response scriptFor(const RecordedRequest& request);
    bool sendAll(Connection& connection, Transport& transport, const char* data, size_t length,
                 bool body);
    // Waits until `deadline` or shutdown; false on shutdown.
    bool sleepUntil(std::chrono::steady_clock::time_point deadline);
    bool waitFor(const std::function<bool()>& done, Seconds timeout);
    void shutdownAll();

    const Scheme scheme_;
    std::unique_ptr<TestCertificates> certificates_;
    void* sslContext_ = nullptr;  // SSL_CTX*, owned; kept opaque so tests need no OpenSSL headers
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread acceptThread_;

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, Handler> handlers_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::map<std::string, bool> gatesOpen_;
    std::map<std::string, int> gatesReached_;
};

}  // namespace testsupport
