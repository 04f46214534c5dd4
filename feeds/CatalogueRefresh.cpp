#include "feeds/CatalogueRefresh.h"

#include "feeds/CatalogueLists.h"
#include "platform/Files.h"
#include "platform/MainQueue.h"

#include <utility>

namespace {

// Only ever goes from true to false (outside tests), so an atomic is all it needs.
std::atomic<bool> continueNetFlag{true};

}  // namespace

struct CatalogueRefresh::Run {
    explicit Run(CatalogueSource s) : source(std::move(s)) {}

    const CatalogueSource source;
    // Set under mutex_ (so a back-off wait cannot miss it) and read without it by the
    // download's abort poll.
    std::atomic<bool> stopRequested{false};
};

CatalogueRefresh& CatalogueRefresh::shared() {
    static CatalogueRefresh* instance = new CatalogueRefresh();
    return *instance;
}

bool CatalogueRefresh::continueNet() { return continueNetFlag.load(); }

void CatalogueRefresh::resetContinueNetForTesting() { continueNetFlag.store(true); }

bool CatalogueRefresh::start(CatalogueSource source, std::weak_ptr<CatalogueDelivery> delivery) {
    std::thread ended;
    {
        std::lock_guard lock(mutex_);
        delivery_ = std::move(delivery);
        // One refresh serves every showing: a second thread would only poll the same feed.
        if (running_) return false;
        ended = std::move(thread_);
        auto run = std::make_shared<Run>(std::move(source));
        run_ = run;
        running_ = true;
        ++threadsStarted_;
        thread_ = std::thread([this, run] { getStream(run); });
    }
    // The previous thread has marked itself ended and only has to return.
    if (ended.joinable()) ended.join();
    return true;
}

void CatalogueRefresh::stop() {
    std::lock_guard lock(mutex_);
    if (run_) run_->stopRequested = true;
    changed_.notify_all();
}

void CatalogueRefresh::stopDelivering(const std::shared_ptr<CatalogueDelivery>& delivery) {
    std::lock_guard lock(mutex_);
    const std::shared_ptr<CatalogueDelivery> current = delivery_.lock();
    if (current && current != delivery) return;
    if (run_) run_->stopRequested = true;
    changed_.notify_all();
}

bool CatalogueRefresh::shutdown(std::chrono::milliseconds timeout) {
    stop();
    return waitUntilIdle(timeout);
}

bool CatalogueRefresh::waitUntilIdle(std::chrono::milliseconds timeout) {
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return !running_; })) return false;
    }
    reap();
    return true;
}

bool CatalogueRefresh::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::size_t CatalogueRefresh::threadsStarted() const {
    std::lock_guard lock(mutex_);
    return threadsStarted_;
}

void CatalogueRefresh::reap() {
    std::thread ended;
    {
        std::lock_guard lock(mutex_);
        if (running_ || !thread_.joinable()) return;
        ended = std::move(thread_);
    }
    // The thread has marked itself ended and only has to return.
    ended.join();
}

void CatalogueRefresh::getStream(const std::shared_ptr<Run>& run) {
    const CatalogueSource& source = run->source;
    platform::LoadOptions options = source.loadOptions;
    options.shouldAbort = [run] { return run->stopRequested.load(); };

    double backoff = source.backoffSeconds;
    while (continueNetFlag.load() && !run->stopRequested.load()) {
        bool refreshed = false;
        try {
            // A failed load (no answer, an error status, a timeout) gives no bytes, and a
            // download without usable lists (an error page, a captive portal's login page)
            // never replaces the cache.
            platform::LoadResult download = platform::loadURL(source.feedURL, options);
            if (run->stopRequested.load()) break;
            CatalogueLists lists = buildCatalogueLists(download.bytes, false);
            if (lists.usable()) {
                // Through a temporary file and a rename: a reader, or a crash mid-write, never
                // meets half a feed.
                platform::writeFileAtomically(source.cachePath, download.bytes);
                continueNetFlag.store(false);
                deliver(std::move(lists.titls), std::move(lists.urls));
                refreshed = true;
            }
        } catch (...) {
            // Any failure counts as a failed attempt: wait and try again.
        }
        if (!refreshed) {
            backOff(*run, backoff);
            backoff = std::min(backoff * 2, std::max(source.maxBackoffSeconds, backoff));
        }
    }
    finish();
}

void CatalogueRefresh::deliver(std::vector<std::string> titls, std::vector<std::string> urls) {
    std::weak_ptr<CatalogueDelivery> target;
    {
        std::lock_guard lock(mutex_);
        target = delivery_;
    }
    // The table reads the lists on the main thread, so they are replaced there, titles and
    // URLs together with the reload.
    platform::MainQueue::main().post(
        [target, titls = std::move(titls), urls = std::move(urls)]() mutable {
            if (const std::shared_ptr<CatalogueDelivery> delivery = target.lock()) {
                (*delivery)(std::move(titls), std::move(urls));
            }
        });
}

void CatalogueRefresh::backOff(Run& run, double seconds) {
    const auto interval = std::chrono::duration<double>(seconds);
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, interval, [&run] { return run.stopRequested.load(); });
}

void CatalogueRefresh::finish() {
    std::lock_guard lock(mutex_);
    running_ = false;
    run_.reset();
    changed_.notify_all();
}
