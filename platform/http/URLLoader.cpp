#include "platform/http/URLLoader.h"

#include <curl/curl.h>

#include "platform/http/CurlHandles.h"
#include "platform/http/TransferPolicy.h"

namespace platform {

namespace {

struct Body {
    std::string bytes;
    size_t maxBytes;
    CURL* handle = nullptr;
    bool overflowed = false;
    bool sized = false;
};

// A body that grows by doubling holds up to twice its size, and copies itself each time: one
// block of the announced length is enough. A length beyond the limit (or absurd, when there is
// none) is not trusted with a reservation; the limit still applies as the bytes come.
void reserveAnnouncedLength(Body& body) {
    constexpr curl_off_t kLargestReservation = 16 * 1024 * 1024;
    body.sized = true;
    curl_off_t announced = -1;
    if (curl_easy_getinfo(body.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) !=
            CURLE_OK ||
        announced <= 0) {
        return;
    }
    const curl_off_t limit =
        body.maxBytes > 0 ? static_cast<curl_off_t>(body.maxBytes) : kLargestReservation;
    if (announced <= limit) body.bytes.reserve(static_cast<size_t>(announced));
}

size_t appendBody(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<Body*>(userData);
    const size_t n = size * count;
    if (body->maxBytes > 0 && body->bytes.size() + n > body->maxBytes) {
        body->overflowed = true;
        return 0;  // aborts the transfer
    }
    if (!body->sized) reserveAnnouncedLength(*body);
    body->bytes.append(data, n);
    return n;
}

int checkAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* shouldAbort = static_cast<const std::function<bool()>*>(userData);
    return (*shouldAbort)() ? 1 : 0;  // non-zero ends the transfer
}

}  // namespace

LoadResult loadURL(const std::string& url, const LoadOptions& options) {
    initNetworking();
    LoadResult result;
    http::CurlEasy curl(curl_easy_init());
    if (!curl) {
        result.error = "cannot create a transfer";
        return result;
    }
    CURL* h = curl.get();
    Body body{{}, options.maxBytes, h};
    http::TransferPolicy policy;
    policy.maxRedirects = options.maxRedirects;
    policy.connectTimeoutMs = options.connectTimeoutMs;
    policy.caFile = options.caFile;
    if (!http::applyTransferPolicy(h, url, policy)) {
        result.error = "URL not accepted";
        return result;
    }
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    if (options.maxBytes > 0) {
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    }

    if (options.shouldAbort) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkAbort);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &options.shouldAbort);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }

    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    if (body.overflowed || code == CURLE_FILESIZE_EXCEEDED) {
        result.error = "response larger than " + std::to_string(options.maxBytes) + " bytes";
    } else if (code != CURLE_OK) {
        result.error = curl_easy_strerror(code);
    } else if (result.httpStatus >= 400) {
        result.error = "HTTP status " + std::to_string(result.httpStatus);
    } else {
        result.ok = true;
        result.bytes = std::move(body.bytes);
    }
    return result;
}

}  // namespace platform
