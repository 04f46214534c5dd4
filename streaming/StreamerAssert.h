#pragma once
// Programming errors in the streamer (wrong thread, a stream opened twice) stop the process
// with their text in every build, not only in debug builds.

namespace streaming_detail {

[[noreturn]] void assertionFailure(const char* text);

// Counted so that tools and tests can wait until no streaming thread is left.
void streamingThreadStarted();
void streamingThreadEnded();

}  // namespace streaming_detail

#define STREAMER_ASSERT(condition, text)                              \
    do {                                                              \
        if (!(condition)) ::streaming_detail::assertionFailure(text); \
    } while (0)
