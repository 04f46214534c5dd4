#include "platform/http/TransferPolicy.h"

#include <strings.h>

namespace platform::http {

namespace {
bool hasScheme(const std::string& url, const char* scheme, size_t length) {
    return url.size() >= length && strncasecmp(url.c_str(), scheme, length) == 0;
}
}  // namespace

bool isHttpsURL(const std::string& url) { return hasScheme(url, "https://", 8); }

bool isHttpURL(const std::string& url) { return hasScheme(url, "http://", 7) || isHttpsURL(url); }

bool applyTransferPolicy(CURL* h, const std::string& url, const TransferPolicy& policy) {
    const bool ok = curl_easy_setopt(h, CURLOPT_URL, url.c_str()) == CURLE_OK;
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, policy.followRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, policy.maxRedirects);
    // Redirects may stay on https or go from http up to https, never down to http.
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, isHttpsURL(url) ? "https" : "http,https");
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!policy.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, policy.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, policy.connectTimeoutMs);
    return ok;
}

}  // namespace platform::http
