#include "tools/station/StopSignal.h"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace station {

StopSignal::StopSignal() : event_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!event_) throw std::runtime_error("eventfd failed");
}

void StopSignal::request() {
    // Only a lock-free atomic store and write(2) here: this runs inside signal handlers.
    requested_.store(true, std::memory_order_release);
    const uint64_t one = 1;
    int saved = errno;
    ssize_t ignored = ::write(event_.get(), &one, sizeof one);
    (void)ignored;
    errno = saved;
}

}  // namespace station
