#pragma once
// Whole-resource loading: GET a URL and return its body, or say why not.
//
// The transfer follows TransferPolicy: only http and https, redirects bounded and never from
// https down to http, certificates and host names verified. A response with status 400 or above is
// a failed load, so an error page never passes for a document. Callable from any thread; it blocks
// the caller until the load ends or a timeout fires.

#include <cstddef>
#include <functional>
#include <string>

#include "platform/http/Networking.h"

namespace platform {

struct LoadOptions {
    // A dead host should not freeze the screen that asked for long; a feed is small, so
    // 30 s for the whole body is generous even on a poor mobile link.
    long connectTimeoutMs = 10'000;
    long totalTimeoutMs = 30'000;
    // The programme feed and the advertisement list are a few hundred kilobytes at most; a
    // server sending more than this is broken or hostile.
    // 0 means no cap.
    size_t maxBytes = 8 * 1024 * 1024;
    long maxRedirects = 8;
    // A CA bundle (PEM) to trust instead of the system store; tests use it for a loopback CA.
    std::string caFile;
    // Polled while the transfer runs (at least about once a second, also while no byte
    // moves); returning true ends the load as a failure. Lets a background thread be told to
    // stop without waiting out a download. Called on the loading thread.
    std::function<bool()> shouldAbort;
};

struct LoadResult {
    bool ok = false;
    std::string bytes;    // the body; empty unless ok
    long httpStatus = 0;  // final status, 0 when no response came
    std::string error;    // why the load failed
};

LoadResult loadURL(const std::string& url, const LoadOptions& options = {});

}  // namespace platform
