// The station over real loopback HTTP, with its real audio: the feed, the advertisement list,
// the programme files with byte ranges, the live stream and its pacing.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "StationTestSupport.h"
#include "platform/Log.h"
#include "tools/station/StationCatalogue.h"

using namespace stationtest;

namespace {

struct XmlDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XPathContextFree {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

XmlDoc parseXml(const std::string& bytes) {
    return XmlDoc(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "station.xml",
                                nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

// The nodes an XPath query finds, in document order.
std::vector<xmlNode*> query(xmlDoc* doc, const char* path) {
    std::unique_ptr<xmlXPathContext, XPathContextFree> context(xmlXPathNewContext(doc));
    std::unique_ptr<xmlXPathObject, XPathObjectFree> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), context.get()));
    std::vector<xmlNode*> nodes;
    if (result && result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i)
            nodes.push_back(result->nodesetval->nodeTab[i]);
    }
    return nodes;
}

std::vector<xmlNode*> childElements(xmlNode* node, const char* name) {
    std::vector<xmlNode*> found;
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE &&
            xmlStrcmp(child->name, reinterpret_cast<const xmlChar*>(name)) == 0) {
            found.push_back(child);
        }
    }
    return found;
}

// The text of an element that must have exactly one child, a text node (what the app's list
// and marquee read).
std::string onlyText(xmlNode* element) {
    EXPECT_TRUE(element->children && !element->children->next)
        << "more than one child in " << element->name;
    if (!element->children) return {};
    EXPECT_EQ(element->children->type, XML_TEXT_NODE) << "not plain text in " << element->name;
    return reinterpret_cast<const char*>(element->children->content);
}

std::string attribute(xmlNode* element, const char* name) {
    xmlChar* value = xmlGetProp(element, reinterpret_cast<const xmlChar*>(name));
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

std::string fileText(const std::filesystem::path& file) {
    auto bytes = testsupport::readFileBytes(file);
    return std::string(bytes.begin(), bytes.end());
}

// Waits for a condition that another thread makes true, up to `timeout`.
template <typename Predicate>
bool waitFor(Predicate done, Clock::duration timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// An open live connection whose response head has been read; the body read so far follows.
struct Listener {
    station::UniqueFd fd;
    HttpResponse head;
    Clock::time_point connected;
};

Listener listen(uint16_t port) {
    Listener listener;
    listener.fd = connectTo(port);
    listener.connected = Clock::now();
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nIcy-MetaData: 0\r\n\r\n";
    EXPECT_EQ(::send(listener.fd.get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string raw;
    while (raw.find("\r\n\r\n") == std::string::npos) {
        if (!readUntil(listener.fd.get(), raw, Clock::now() + 5s, raw.size() + 1)) break;
    }
    listener.head = parseResponse(raw);
    return listener;
}

// Where in the loop `bytes` begins, if it begins exactly at the start of one of its frames.
std::optional<int64_t> loopFrameAt(const station::LiveLoop& loop, const std::string& bytes) {
    const size_t compare = std::min<size_t>(bytes.size(), 4096);
    for (int64_t f = 0; f < loop.frameCount(); ++f) {
        const size_t offset = loop.frameOffset(f);
        if (offset + compare <= loop.bytes().size() &&
            std::memcmp(loop.bytes().data() + offset, bytes.data(), compare) == 0) {
            return f;
        }
    }
    return std::nullopt;
}

class StationServerTest : public ::testing::Test {
protected:
    RunningStation station;
};

}  // namespace

// The feed is RSS 2.0 in the shape the list screen relies on: two titles (channel, image)
// before the first item's, then per item one plain-text title, one author and one enclosure
// whose URL this server serves, with the file's real length.
TEST_F(StationServerTest, FeedHasTheShapeTheListScreenReadsByPosition) {
    auto response = get(station.webPort(), "/dev/feed/");
    ASSERT_EQ(response.status, 200);
    EXPECT_NE(response.headers["content-type"].find("xml"), std::string::npos);
    XmlDoc doc = parseXml(response.body);
    ASSERT_TRUE(doc);
    const auto items = query(doc.get(), "//item");
    const auto& programmes = station::stationProgrammes();
    ASSERT_EQ(items.size(), programmes.size());
    ASSERT_GE(items.size(), 5u);

    const auto titles = query(doc.get(), "//title");
    ASSERT_EQ(titles.size(), items.size() + 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(titles[0]->parent->name), "channel");
    EXPECT_STREQ(reinterpret_cast<const char*>(titles[1]->parent->name), "image");
    EXPECT_FALSE(onlyText(titles[0]).empty());
    EXPECT_EQ(onlyText(titles[1]), station::kStationName);
    EXPECT_EQ(query(doc.get(), "//enclosure").size(), items.size());
    EXPECT_EQ(query(doc.get(), "//author").size(), items.size());

    const std::string base = "http://127.0.0.1:" + std::to_string(station.webPort()) + "/";
    std::set<std::string> kinds;
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(programmes[i].title);
        ASSERT_EQ(childElements(items[i], "title").size(), 1u);
        ASSERT_EQ(childElements(items[i], "author").size(), 1u);
        ASSERT_EQ(childElements(items[i], "enclosure").size(), 1u);
        EXPECT_EQ(titles[i + 2]->parent, items[i]);
        EXPECT_EQ(onlyText(titles[i + 2]), programmes[i].title);
        EXPECT_EQ(onlyText(childElements(items[i], "author")[0]), programmes[i].author);

        xmlNode* enclosure = childElements(items[i], "enclosure")[0];
        const std::string url = attribute(enclosure, "url");
        ASSERT_EQ(url.rfind(base, 0), 0u) << url;
        kinds.insert(url.substr(url.rfind('.')));
        const uint64_t size = std::filesystem::file_size(audioDir() / programmes[i].file);
        EXPECT_EQ(attribute(enclosure, "length"), std::to_string(size));
        auto head = roundTrip(station.webPort(),
                              "HEAD " + url.substr(base.size() - 1) + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(head.status, 200);
        EXPECT_EQ(head.headers["content-length"], std::to_string(size));
        EXPECT_EQ(head.headers["content-type"], programmes[i].mimeType);
        EXPECT_TRUE(head.body.empty());
    }
    EXPECT_EQ(kinds, (std::set<std::string>{".mp3", ".aac", ".m4a"}));
    // The path without its final slash names the same feed.
    EXPECT_EQ(get(station.webPort(), "/dev/feed").body, response.body);
}

// The advertisement list is a property list whose last string, the one the players show, is
// a plain-text sponsor line long enough to scroll.
TEST_F(StationServerTest, AdListEndsWithALongSponsorLine) {
    auto response = get(station.webPort(), "/adXML.plist");
    ASSERT_EQ(response.status, 200);
    XmlDoc doc = parseXml(response.body);
    ASSERT_TRUE(doc);
    EXPECT_STREQ(reinterpret_cast<const char*>(xmlDocGetRootElement(doc.get())->name), "plist");
    const auto strings = query(doc.get(), "//string");
    ASSERT_GE(strings.size(), 2u);
    const std::string last = onlyText(strings.back());
    EXPECT_EQ(last, station::sponsorLines().back());
    EXPECT_GE(last.size(), 100u);
}

// Programme files honour one byte range: 206 with Content-Range and exactly those bytes, an
// end at or past the end reaching to the end, and 416 for a start at the end.
TEST_F(StationServerTest, ProgrammeFilesServeByteRanges) {
    const auto& programme = station::stationProgrammes()[1];
    const std::string path = "/programmes/" + programme.file;
    const std::string file = fileText(audioDir() / programme.file);
    const std::string length = std::to_string(file.size());

    auto whole = get(station.webPort(), path);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headers["accept-ranges"], "bytes");
    EXPECT_EQ(whole.headers["content-length"], length);
    EXPECT_TRUE(whole.body == file);

    // What the streamer sends when it seeks: bytes=N-LENGTH.
    auto seek = get(station.webPort(), path, "Range: bytes=1000-" + length + "\r\n");
    EXPECT_EQ(seek.status, 206);
    EXPECT_EQ(seek.headers["content-range"],
              "bytes 1000-" + std::to_string(file.size() - 1) + "/" + length);
    EXPECT_EQ(seek.headers["content-length"], std::to_string(file.size() - 1000));
    EXPECT_TRUE(seek.body == file.substr(1000));
    EXPECT_TRUE(seek.complete);

    auto middle = get(station.webPort(), path, "Range: bytes=100-199\r\n");
    EXPECT_EQ(middle.status, 206);
    EXPECT_EQ(middle.headers["content-range"], "bytes 100-199/" + length);
    EXPECT_EQ(middle.body, file.substr(100, 100));

    auto tail = get(station.webPort(), path, "Range: bytes=-10\r\n");
    EXPECT_EQ(tail.status, 206);
    EXPECT_EQ(tail.body, file.substr(file.size() - 10));

    auto pastEnd = get(station.webPort(), path, "Range: bytes=" + length + "-" + length + "\r\n");
    EXPECT_EQ(pastEnd.status, 416);
    EXPECT_EQ(pastEnd.headers["content-range"], "bytes */" + length);

    auto headOnly =
        roundTrip(station.webPort(), "HEAD " + path + " HTTP/1.1\r\nRange: bytes=5-9\r\n\r\n");
    EXPECT_EQ(headOnly.status, 206);
    EXPECT_EQ(headOnly.headers["content-length"], "5");
    EXPECT_TRUE(headOnly.body.empty());
}

// Requests the station does not serve get a plain error and a closed connection; no path
// reaches a file outside the catalogue.
TEST_F(StationServerTest, AnswersWhatItDoesNotServeWithErrors) {
    const uint16_t web = station.webPort();
    EXPECT_EQ(get(web, "/nothing-here").status, 404);
    EXPECT_EQ(get(web, "/programmes/../live.mp3").status, 404);
    EXPECT_EQ(get(web, "/programmes/%2e%2e/live.mp3").status, 404);
    EXPECT_EQ(get(web, "/live.mp3").status, 404);
    EXPECT_EQ(get(station.livePort(), "/dev/feed/").status, 404);
    auto post = roundTrip(web, "POST /dev/feed/ HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(post.status, 405);
    EXPECT_EQ(post.headers["allow"], "GET, HEAD");
    EXPECT_EQ(roundTrip(web, "HELLO\r\n\r\n").status, 400);
    EXPECT_EQ(roundTrip(station.livePort(), "GET / HTTP/3\r\n\r\n").status, 400);
    auto huge =
        roundTrip(web, "GET / HTTP/1.1\r\nX-Filler: " + std::string(9000, 'x') + "\r\n\r\n");
    EXPECT_EQ(huge.status, 431);
    EXPECT_TRUE(huge.complete);
    // A client that half-closes after its request still gets the whole answer.
    auto fd = connectTo(web);
    const std::string request = "GET /adXML.plist HTTP/1.0\r\n\r\n";
    ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    ::shutdown(fd.get(), SHUT_WR);
    std::string raw;
    EXPECT_FALSE(readUntil(fd.get(), raw, Clock::now() + 5s));
    auto halfClosed = parseResponse(raw);
    EXPECT_EQ(halfClosed.status, 200);
    EXPECT_NE(halfClosed.body.find("</plist>"), std::string::npos);
}

// Every request, served or refused, writes one log line.
TEST_F(StationServerTest, LogsOneLinePerRequest) {
    platform::LogCapture capture;
    get(station.webPort(), "/dev/feed/");
    get(station.webPort(), "/adXML.plist");
    get(station.webPort(), "/missing");
    get(station.webPort(), "/programmes/harbour-report.mp3", "Range: bytes=0-9\r\n");
    roundTrip(station.livePort(), "HEAD / HTTP/1.1\r\n\r\n");
    {
        Listener listener = listen(station.livePort());
        ASSERT_EQ(listener.head.status, 200);
    }
    ASSERT_EQ(capture.count(), 6u);
    const auto lines = capture.lines();
    EXPECT_NE(lines[0].find("200 \"GET /dev/feed/ HTTP/1.1\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("404"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("206"), std::string::npos) << lines[3];
    EXPECT_NE(lines[5].find("live from"), std::string::npos) << lines[5];
}

// The live stream is an endless MP3 with no length; a listener's first byte is the first byte
// of the frame on air when it connected.
TEST_F(StationServerTest, ListenerStartsAtTheOnAirFrameBoundary) {
    const auto& broadcast = station.server().broadcast();
    const auto& loop = broadcast.loop();
    std::vector<int64_t> starts;
    for (int i = 0; i < 2; ++i) {
        const int64_t before = broadcast.frameOnAir(Clock::now());
        Listener listener = listen(station.livePort());
        const int64_t after = broadcast.frameOnAir(Clock::now());
        ASSERT_EQ(listener.head.status, 200);
        EXPECT_EQ(listener.head.headers["content-type"], "audio/mpeg");
        EXPECT_EQ(listener.head.headers.count("content-length"), 0u);
        std::string bytes = listener.head.body;
        // The first listener stays for a second and a half, so the second starts later on.
        readUntil(listener.fd.get(), bytes, Clock::now() + (i == 0 ? 1500ms : 2000ms),
                  i == 0 ? SIZE_MAX : 4096);
        ASSERT_GE(bytes.size(), 4096u);
        auto start = loopFrameAt(loop, bytes);
        ASSERT_TRUE(start) << "the stream does not begin at a frame of the loop";
        EXPECT_GE(*start, broadcast.loopFrame(before));
        EXPECT_LE(*start, broadcast.loopFrame(after));
        starts.push_back(*start);
    }
    EXPECT_GE(starts[1] - starts[0], 50);  // 1.5 s is 57 frames
    // HEAD answers the same head with no body.
    auto head = roundTrip(station.livePort(), "HEAD / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.headers["content-type"], "audio/mpeg");
    EXPECT_TRUE(head.body.empty());
    EXPECT_TRUE(head.complete);
}

// After a head start of about two seconds of audio, a listener receives the stream at the
// loop's bit rate: no burst of megabytes, and no starving.
TEST_F(StationServerTest, LiveStreamIsPacedAtRealTime) {
    const double bytesPerSecond = station.server().broadcast().loop().bitrateKbps() * 1000 / 8.0;
    Listener listener = listen(station.livePort());
    ASSERT_EQ(listener.head.status, 200);
    std::string bytes = listener.head.body;
    ASSERT_TRUE(readUntil(listener.fd.get(), bytes, listener.connected + 500ms));
    const size_t burst = bytes.size();
    EXPECT_GE(burst, 1.5 * bytesPerSecond);  // enough to fill the player's buffers at once
    EXPECT_LE(burst, 3.0 * bytesPerSecond);

    ASSERT_TRUE(readUntil(listener.fd.get(), bytes, listener.connected + 1000ms));
    const size_t atOne = bytes.size();
    ASSERT_TRUE(readUntil(listener.fd.get(), bytes, listener.connected + 4000ms));
    const double rate = (bytes.size() - atOne) / 3.0;
    EXPECT_NEAR(rate, bytesPerSecond, 0.12 * bytesPerSecond);
    RecordProperty("bytes_per_second", std::to_string(static_cast<int>(rate)));
}

// Several listeners are served at once, each from its own on-air position, and each one's
// leaving is noticed.
TEST_F(StationServerTest, ServesSeveralListenersAtOnce) {
    const auto& loop = station.server().broadcast().loop();
    std::vector<Listener> listeners;
    for (int i = 0; i < 4; ++i) listeners.push_back(listen(station.livePort()));
    EXPECT_TRUE(waitFor([&] { return station.server().listenerCount() == 4; }, 5s));
    std::vector<int64_t> starts;
    for (auto& listener : listeners) {
        ASSERT_EQ(listener.head.status, 200);
        std::string bytes = listener.head.body;
        readUntil(listener.fd.get(), bytes, Clock::now() + 2s, 40000);
        ASSERT_EQ(bytes.size(), 40000u);
        auto start = loopFrameAt(loop, bytes);
        ASSERT_TRUE(start);
        starts.push_back(*start);
    }
    // Connected one after the other within moments: the starts are close but ordered.
    for (size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i], starts[i - 1]);
        EXPECT_LE(starts[i] - starts[0], 40);
    }
    listeners.clear();
    EXPECT_TRUE(waitFor([&] { return station.server().listenerCount() == 0; }, 5s));
}

// A listener that stops reading and falls too far behind is let go and sees the end of the
// stream, so that no client can hold a place at the station for ever. It falls behind only
// after its buffers have filled, while nothing else happens at the station.
TEST(StationServerLag, ListenerThatStopsReadingIsLetGo) {
    station::StationConfig config;
    config.maxLag = 3s;
    config.listenerSendBuffer = 4096;
    RunningStation station(config);
    platform::LogCapture capture;
    // A small receive window too, so that the head start alone fills the connection.
    station::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 4096;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(station.livePort());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string request = "GET / HTTP/1.1\r\n\r\n";
    ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(waitFor([&] { return station.server().listenerCount() == 1; }, 5s));
    EXPECT_FALSE(capture.contains("let go")) << "let go before it fell behind";
    EXPECT_TRUE(waitFor([&] { return capture.contains("let go"); }, 10s));
    std::string everything;
    EXPECT_FALSE(readUntil(fd.get(), everything, Clock::now() + 10s)) << "the stream did not end";
    EXPECT_TRUE(waitFor([&] { return station.server().listenerCount() == 0; }, 5s));
}

namespace {

Listener listenWithMetadata(uint16_t port) {
    Listener listener;
    listener.fd = connectTo(port);
    listener.connected = Clock::now();
    const std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nIcy-MetaData: 1\r\n\r\n";
    ::send(listener.fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    std::string raw;
    while (raw.find("\r\n\r\n") == std::string::npos) {
        if (!readUntil(listener.fd.get(), raw, Clock::now() + 5s, raw.size() + 1)) break;
    }
    listener.head = parseResponse(raw);
    return listener;
}

}  // namespace

// A listener that asks for metadata gets "icy-metaint" and a block after every interval of
// audio: the segment's title in the first block and whenever it changes, empty blocks between;
// the audio between the blocks is the loop's own frames.
TEST(StationServerMetadata, TitlesInterleavedForListenersThatAsk) {
    station::StationConfig config;
    config.icyInterval = 4000;
    config.segmentLength = 1s;
    RunningStation station(config);
    Listener listener = listenWithMetadata(station.livePort());
    ASSERT_EQ(listener.head.status, 200);
    ASSERT_EQ(listener.head.headers["icy-metaint"], "4000");
    std::string bytes = listener.head.body;
    readUntil(listener.fd.get(), bytes, Clock::now() + 3500ms);
    std::string audio;
    std::vector<std::string> titles;
    size_t at = 0;
    size_t emptyBlocks = 0;
    while (at + 4000 < bytes.size()) {
        audio.append(bytes, at, 4000);
        at += 4000;
        const size_t length = static_cast<unsigned char>(bytes[at]) * 16;
        if (at + 1 + length > bytes.size()) break;
        const std::string block = bytes.substr(at + 1, length);
        at += 1 + length;
        if (length == 0) {
            ++emptyBlocks;
            continue;
        }
        ASSERT_EQ(block.rfind("StreamTitle='Segment ", 0), 0u) << block;
        titles.push_back(block.substr(13, block.find("';") - 13));
    }
    // About 5.5 s of audio at 16 kB/s in 4 kB intervals, the title changing every second.
    ASSERT_GE(titles.size(), 3u);
    EXPECT_GT(emptyBlocks, 0u);
    for (size_t i = 1; i < titles.size(); ++i) EXPECT_NE(titles[i], titles[i - 1]);
    EXPECT_TRUE(loopFrameAt(station.server().broadcast().loop(), audio));
    // A listener that does not ask gets none.
    Listener plain = listen(station.livePort());
    EXPECT_EQ(plain.head.headers.count("icy-metaint"), 0u);
}

// With drops asked for, every listener is let go at each interval, and may come back.
TEST(StationServerMetadata, DropsEveryListenerNowAndThen) {
    station::StationConfig config;
    config.dropEvery = 1s;
    RunningStation station(config);
    platform::LogCapture capture;
    for (int round = 0; round < 2; ++round) {
        Listener listener = listen(station.livePort());
        ASSERT_EQ(listener.head.status, 200);
        std::string bytes;
        EXPECT_FALSE(readUntil(listener.fd.get(), bytes, Clock::now() + 5s))
            << "the stream did not end";
        EXPECT_GT(bytes.size(), 0u);
    }
    EXPECT_TRUE(capture.contains("dropped"));
}
