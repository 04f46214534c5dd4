#pragma once
// The background refresh of the programme catalogue: one thread, at most one at a time in the
// process, that downloads the feed, replaces the cache file and hands the new titles and URLs
// to the main thread, retrying after a back-off until one refresh succeeds.
//
// After the first successful refresh `continueNet` is false for the rest of the process, and
// every refresh started later ends at once without downloading.
//
// Threads:
//   start, stopDelivering    main thread
//   stop, shutdown, queries  any thread but the refresh thread itself
//   getStream                the refresh thread
//   a delivery               the main thread (posted through platform::MainQueue::main())
// Lock order: mutex_ is the only lock here, and no callback, load or post runs under it.

#include "platform/http/URLLoader.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Receives a refresh's new titles and URLs on the main thread. Its owner keeps it in a
// shared_ptr and the refresh only a weak reference, so a delivery still queued when the owner
// goes does nothing.
using CatalogueDelivery =
    std::function<void(std::vector<std::string> titls, std::vector<std::string> urls)>;

// What one refresh works with, fixed when its thread starts.
struct CatalogueSource {
    std::string feedURL;
    std::filesystem::path cachePath;
    platform::LoadOptions loadOptions;
    // Wait after the first failed attempt; it doubles with each failure that follows, up to
    // maxBackoffSeconds, so a broken feed is not downloaded every second for hours.
    double backoffSeconds = 1.0;
    double maxBackoffSeconds = 300.0;
};

class CatalogueRefresh {
public:
    // The process's one refresh. Never destroyed, so that a refresh thread still ending while
    // the process exits never meets a destroyed object.
    static CatalogueRefresh& shared();

    // Starts getStream on a thread of its own unless a refresh is running; either way the
    // running refresh delivers to `delivery` from now on. Returns whether a thread started.
    bool start(CatalogueSource source, std::weak_ptr<CatalogueDelivery> delivery);

    // Tells the running refresh to end: wakes its back-off and aborts its download (within
    // about a second). Returns at once, without waiting for the thread.
    void stop();

    // Owner teardown: stops the running refresh when it delivers to `delivery` (or to nobody),
    // since nobody else would see its lists. Returns at once.
    void stopDelivering(const std::shared_ptr<CatalogueDelivery>& delivery);

    // stop, then waits up to `timeout` for the thread to end and joins it. True when no refresh
    // runs afterwards. For the app's exit and for tests.
    bool shutdown(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Waits up to `timeout` for the running refresh to end by itself. True when none runs.
    bool waitUntilIdle(std::chrono::milliseconds timeout);

    bool isRunning() const;
    // Refresh threads started in this process so far.
    std::size_t threadsStarted() const;

    // The process-wide flag: true until the first successful refresh, then false for good.
    static bool continueNet();
    // TEST ONLY: sets continueNet back to true, so each test starts like a fresh process.
    // Nothing in the app may call it: a successful refresh ends refreshing for the process.
    static void resetContinueNetForTesting();

private:
    struct Run;

    CatalogueRefresh() = default;

    // The refresh thread's body.
    void getStream(const std::shared_ptr<Run>& run);
    void deliver(std::vector<std::string> titls, std::vector<std::string> urls);
    // Waits out the back-off unless stop comes first.
    void backOff(Run& run, double seconds);
    void finish();
    // Joins a thread that has ended (or is about to), outside mutex_.
    void reap();

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // run ended, or stop requested
    // Guarded by mutex_.
    bool running_ = false;
    std::shared_ptr<Run> run_;
    std::thread thread_;
    std::weak_ptr<CatalogueDelivery> delivery_;
    std::size_t threadsStarted_ = 0;
};
