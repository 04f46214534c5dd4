#include "platform/Log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace platform {

namespace {
// Guards gCapture and the lines of every capture.
std::mutex gLogMutex;
LogCapture* gCapture = nullptr;
}  // namespace

void log(const std::string& line) {
    std::string text = line;
    if (text.empty() || text.back() != '\n') text.push_back('\n');
    std::lock_guard lock(gLogMutex);
    if (gCapture) {
        text.pop_back();
        gCapture->lines_.push_back(std::move(text));
        return;
    }
    // One write call per line keeps lines from different threads whole.
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

void logf(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    log(buffer);
}

LogCapture::LogCapture() {
    std::lock_guard lock(gLogMutex);
    previous_ = gCapture;
    gCapture = this;
}

LogCapture::~LogCapture() {
    std::lock_guard lock(gLogMutex);
    if (gCapture == this) gCapture = previous_;
}

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(gLogMutex);
    return lines_;
}

size_t LogCapture::count() const { return lines().size(); }

bool LogCapture::contains(const std::string& fragment) const {
    for (const auto& line : lines()) {
        if (line.find(fragment) != std::string::npos) return true;
    }
    return false;
}

void LogCapture::clear() {
    std::lock_guard lock(gLogMutex);
    lines_.clear();
}

}  // namespace platform
