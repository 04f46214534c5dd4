// The scripted responses of TestHttpServer and the byte generators.

#include <strings.h>
#include <algorithm>
#include <cstring>

#include "tests/support/TestHttpServer.h"

namespace testsupport {

namespace {

const char* reasonPhrase(int code) {
    switch (code) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 307: return "Temporary Redirect";
        case 308: return "Permanent Redirect";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 416: return "Range Not Satisfiable";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

}  // namespace

ByteGenerator repeating(std::string pattern) {
    auto shared = std::make_shared<const std::string>(std::move(pattern));
    return [shared](uint64_t offset, uint8_t* buffer, size_t length) {
        const std::string& p = *shared;
        size_t at = static_cast<size_t>(offset % p.size());
        while (length > 0) {
            const size_t n = std::min(length, p.size() - at);
            std::memcpy(buffer, p.data() + at, n);
            buffer += n;
            length -= n;
            at = 0;
        }
    };
}

ByteGenerator withIcyMetadata(ByteGenerator audio, size_t interval,
                              std::function<std::string(uint64_t block)> titleAt) {
    constexpr size_t kBlockBytes = 64;
    const uint64_t cell = interval + 1 + kBlockBytes;
    return [audio = std::move(audio), interval, titleAt = std::move(titleAt), cell](
               uint64_t offset, uint8_t* buffer, size_t length) {
        while (length > 0) {
            const uint64_t index = offset / cell;
            const uint64_t within = offset % cell;
            size_t run = 0;
            if (within < interval) {
                run = static_cast<size_t>(std::min<uint64_t>(length, interval - within));
                audio(index * interval + within, buffer, run);
            } else if (within == interval) {
                run = 1;
                *buffer = kBlockBytes / 16;
            } else {
                std::string text = "StreamTitle='" + titleAt(index) + "';";
                text.resize(kBlockBytes, '\0');
                const size_t at = static_cast<size_t>(within - interval - 1);
                run = std::min(length, kBlockBytes - at);
                std::memcpy(buffer, text.data() + at, run);
            }
            buffer += run;
            length -= run;
            offset += run;
        }
    };
}

uint8_t patternByte(uint64_t offset) {
    // Mixes in higher bits so that a shift by a multiple of 256 still shows up as a mismatch.
    return static_cast<uint8_t>(offset ^ (offset >> 8) ^ (offset >> 16) ^ (offset >> 24));
}

ByteGenerator counting() {
    return [](uint64_t offset, uint8_t* buffer, size_t length) {
        for (size_t i = 0; i < length; ++i) buffer[i] = patternByte(offset + i);
    };
}

Response Response::bytes(std::string body) {
    Response r;
    r.source = Source::Bytes;
    r.body = std::move(body);
    return r;
}

Response Response::file(std::string path) {
    Response r;
    r.source = Source::File;
    r.filePath = std::move(path);
    return r;
}

Response Response::generated(uint64_t length, ByteGenerator generator) {
    Response r;
    r.source = Source::Generator;
    r.generator = std::move(generator);
    r.generatedLength = length;
    return r;
}

Response Response::live(ByteGenerator generator, double bytesPerSecond) {
    Response r;
    r.source = Source::Generator;
    r.generator = std::move(generator);
    r.framing = Framing::CloseDelimited;
    r.rangeable = false;
    r.bytesPerSecond = bytesPerSecond;
    return r;
}

Response Response::redirect(std::string location, int status) {
    Response r = Response::status(status, "moved\n");
    r.header("Location", std::move(location));
    return r;
}

Response Response::status(int code, std::string body) {
    Response r = bytes(std::move(body));
    r.statusLineText = "HTTP/1.1 " + std::to_string(code) + " " + reasonPhrase(code);
    r.rangeable = code == 200;
    return r;
}

Response Response::notFound() {
    Response r = status(404,
                        "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>\n"
                        "<body><h1>Not Found</h1><p>The requested URL was not found on this "
                        "server.</p></body></html>\n");
    r.header("Content-Type", "text/html; charset=utf-8");
    return r;
}

Response& Response::statusLine(std::string line) {
    statusLineText = std::move(line);
    return *this;
}

Response& Response::icy() {
    statusLineText = "ICY 200 OK";
    header("icy-name", "Ostra Test Radio");
    header("icy-genre", "Test");
    header("icy-br", "128");
    header("icy-pub", "0");
    header("Content-Type", "audio/mpeg");
    framing = Framing::CloseDelimited;
    return *this;
}

Response& Response::header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

Response& Response::chunked() {
    framing = Framing::Chunked;
    return *this;
}

Response& Response::closeDelimited() {
    framing = Framing::CloseDelimited;
    return *this;
}

Response& Response::ignoreRange() {
    honourRange = false;
    return *this;
}

Response& Response::contentLength(uint64_t claimed) {
    claimedLength = claimed;
    return *this;
}

Response& Response::pace(double rate) {
    bytesPerSecond = rate;
    return *this;
}

Response& Response::writeSize(size_t bytes) {
    maxWrite = std::max<size_t>(1, bytes);
    return *this;
}

Response& Response::sendBufferSize(int bytes) {
    socketSendBuffer = bytes;
    return *this;
}

Response& Response::resetAfter(uint64_t bodyBytes) {
    resetAt = bodyBytes;
    return *this;
}

Response& Response::closeAfter(uint64_t bodyBytes) {
    closeAt = bodyBytes;
    return *this;
}

Response& Response::stallBeforeHeaders(Seconds duration) {
    headerStall = duration;
    return *this;
}

Response& Response::stallAfter(uint64_t bodyBytes, Seconds duration) {
    stall = std::make_pair(bodyBytes, duration);
    return *this;
}

Response& Response::trickle(Seconds interval) {
    trickleInterval = interval;
    return *this;
}

Response& Response::pauseAfter(uint64_t bodyBytes, std::string gate) {
    pause = std::make_pair(bodyBytes, std::move(gate));
    return *this;
}

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
    }
    return {};
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) {
        return strcasecmp(h.first.c_str(), name.c_str()) == 0;
    });
}

}  // namespace testsupport
