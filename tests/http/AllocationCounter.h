#pragma once
// Counts operator new calls made by the current thread while counting is on. The test
// binary that links AllocationCounter.cpp replaces the global operator new for this; it
// lives in its own file so that the compiler never inlines the pair into a caller.

#include <cstddef>

namespace testsupport {

void startCountingAllocations();
// Stops counting and returns the number of operator new calls since the start.
size_t stopCountingAllocations();

}  // namespace testsupport
