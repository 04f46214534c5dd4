#pragma once
// What every transfer of ours allows, in one place: the read stream and the whole-resource
// loader both set their handles up here, so the two cannot drift apart.
//
// Only http and https; redirects followed up to a bound, over http and https only and never
// from https down to http; certificates and host names verified (the system store, or a CA
// bundle given for tests); HTTP/1.1; no signals (transfers run on threads of their own); a
// bounded connect phase; our user agent.
//
// Threads: any; it only configures the handle it is given.

#include <curl/curl.h>

#include <string>

namespace platform::http {

struct TransferPolicy {
    bool followRedirects = true;
    long maxRedirects = 8;
    long connectTimeoutMs = 10'000;
    // A CA bundle (PEM) to trust instead of the system store; tests use it for a loopback CA.
    std::string caFile;
};

inline constexpr const char* kUserAgent = "OstraRadio/1.0";

// Whether the URL's scheme is http or https, in any case ("HTTPS:" is https to libcurl too).
bool isHttpURL(const std::string& url);
bool isHttpsURL(const std::string& url);

// Sets the URL and the policy on a fresh easy handle for a GET. False when libcurl refuses
// the URL; the handle is then not to be used.
bool applyTransferPolicy(CURL* handle, const std::string& url, const TransferPolicy& policy);

}  // namespace platform::http
