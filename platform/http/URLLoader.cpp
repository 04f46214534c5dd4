#include "platform/URLLoader.h"

#include <curl/curl.h>
#include <strings.h>

#include <memory>
#include <mutex>

namespace platform {

namespace {

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct Body {
    std::string bytes;
    size_t maxBytes;
    bool overflowed = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<Body*>(userData);
    const size_t n = size * count;
    if (body->maxBytes > 0 && body->bytes.size() + n > body->maxBytes) {
        body->overflowed = true;
        return 0;  // aborts the transfer
    }
    body->bytes.append(data, n);
    return n;
}

int checkAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* shouldAbort = static_cast<const std::function<bool()>*>(userData);
    return (*shouldAbort)() ? 1 : 0;  // non-zero ends the transfer
}

}  // namespace

void initNetworking() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

LoadResult loadURL(const std::string& url, const LoadOptions& options) {
    initNetworking();
    LoadResult result;
    CurlEasy curl(curl_easy_init());
    if (!curl) {
        result.error = "cannot create a transfer";
        return result;
    }
    Body body{{}, options.maxBytes};
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, options.maxRedirects);
    // Redirects may stay on https or go from http up to https, never down to http. libcurl
    // reads the scheme in any case, so "HTTPS:" must count as secure here too.
    const bool startsSecure = url.size() >= 6 && strncasecmp(url.c_str(), "https:", 6) == 0;
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, startsSecure ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
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
