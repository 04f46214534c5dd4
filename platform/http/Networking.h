#pragma once
// libcurl's process-wide set-up (and OpenSSL's beneath it).
//
// Threads: call once from main() (or a test's main) before any thread starts, so that no
// streaming or loading thread is the first to do it; later calls do nothing. The read stream,
// the run loop and the loader call it too, for processes that forget.

namespace platform {

void initNetworking();

}  // namespace platform
