#include "platform/http/CurlRunLoop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

#include "platform/http/CurlReadStream.h"
#include "platform/http/Networking.h"

namespace platform::http {

using Clock = std::chrono::steady_clock;

namespace {
thread_local std::shared_ptr<RunLoop> tCurrentLoop;
}  // namespace

std::shared_ptr<RunLoop> RunLoop::current() {
    if (!tCurrentLoop) tCurrentLoop = std::make_shared<CurlRunLoop>();
    return tCurrentLoop;
}

void RunLoop::releaseCurrent() { tCurrentLoop.reset(); }

CurlRunLoop::CurlRunLoop() {
    initNetworking();
    multi_.reset(curl_multi_init());
    if (!multi_) throw std::runtime_error("curl_multi_init failed");
}

CurlRunLoop::~CurlRunLoop() = default;

void CurlRunLoop::add(CurlReadStream* stream) {
    if (std::find(streams_.begin(), streams_.end(), stream) == streams_.end()) {
        streams_.push_back(stream);
    }
}

void CurlRunLoop::remove(CurlReadStream* stream) {
    streams_.erase(std::remove(streams_.begin(), streams_.end(), stream), streams_.end());
}

bool CurlRunLoop::attach(CURL* easy) {
    return curl_multi_add_handle(multi_.get(), easy) == CURLM_OK;
}

void CurlRunLoop::detach(CURL* easy) { curl_multi_remove_handle(multi_.get(), easy); }

void CurlRunLoop::wakeUp() {
    wakeRequested_.store(true, std::memory_order_release);
    curl_multi_wakeup(multi_.get());
}

void CurlRunLoop::drive() {
    // Unpausing may run the write callback at once, so it happens here, on this thread.
    for (CurlReadStream* stream : streams_) stream->resumeIfRoom();
    int running = 0;
    curl_multi_perform(multi_.get(), &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        CurlReadStream* stream = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &stream);
        // Read the result before transferFinished detaches the handle, which frees the message.
        const CURLcode result = message->data.result;
        if (stream) stream->transferFinished(result);
    }
}

CurlReadStream* CurlRunLoop::nextWithEvent() {
    for (size_t i = 0; i < streams_.size(); ++i) {
        const size_t at = (nextStream_ + i) % streams_.size();
        if (streams_[at]->pendingEvent() != 0) {
            nextStream_ = at + 1;
            return streams_[at];
        }
    }
    return nullptr;
}

uint64_t CurlRunLoop::addTimer(double delaySeconds, std::function<void()> callback) {
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::clamp(delaySeconds, 0.0, 86'400.0)));
    const uint64_t id = nextTimerId_++;
    timers_.push_back({id, Clock::now() + delay, std::move(callback)});
    return id;
}

void CurlRunLoop::cancelTimer(uint64_t id) {
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [id](const Timer& timer) { return timer.id == id; }),
                  timers_.end());
}

bool CurlRunLoop::runDueTimer(Clock::time_point now) {
    const auto earliest =
        std::min_element(timers_.begin(), timers_.end(),
                         [](const Timer& a, const Timer& b) { return a.due < b.due; });
    if (earliest == timers_.end() || earliest->due > now) return false;
    // Out of the list first: the callback may add or cancel timers.
    std::function<void()> callback = std::move(earliest->callback);
    timers_.erase(earliest);
    callback();
    return true;
}

bool CurlRunLoop::runOnce(double seconds) {
    if (streams_.empty() && timers_.empty()) return false;
    // A day is as good as forever for a slice, and keeps the clock arithmetic in range.
    const double slice = std::clamp(seconds, 0.0, 86'400.0);
    const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                          std::chrono::duration<double>(slice));
    for (;;) {
        // A reader still draining a well-filled buffer needs no socket work this pass.
        const bool wantsData = std::any_of(streams_.begin(), streams_.end(),
                                           [](CurlReadStream* s) { return s->wantsData(); });
        if (wantsData || nextWithEvent() == nullptr) drive();

        const Clock::time_point now = Clock::now();
        Clock::time_point wakeAt = deadline;
        for (CurlReadStream* stream : streams_) {
            if (auto stallAt = stream->checkStall(now)) wakeAt = std::min(wakeAt, *stallAt);
        }
        if (runDueTimer(now)) return true;
        for (const Timer& timer : timers_) wakeAt = std::min(wakeAt, timer.due);
        if (CurlReadStream* stream = nextWithEvent()) {
            // The client may close or destroy the stream: touch nothing after this call.
            stream->deliver(stream->pendingEvent());
            return true;
        }
        if (wakeRequested_.exchange(false, std::memory_order_acq_rel)) return true;
        if (now >= deadline) return true;

        long curlTimeoutMs = -1;
        curl_multi_timeout(multi_.get(), &curlTimeoutMs);
        const double untilWake = std::chrono::duration<double, std::milli>(wakeAt - now).count();
        // Round up, so that a wait never ends just short of its deadline and spins.
        long waitMs = static_cast<long>(std::ceil(untilWake));
        if (curlTimeoutMs >= 0) waitMs = std::min(waitMs, curlTimeoutMs);
        waitMs = std::clamp(waitMs, 0L, 60'000L);
        if (waitMs > 0 || curlTimeoutMs != 0) {
            curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(waitMs), nullptr);
        }
    }
}

}  // namespace platform::http
