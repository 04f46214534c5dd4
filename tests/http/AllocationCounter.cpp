#include "tests/http/AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
thread_local size_t allocations = 0;
}  // namespace

namespace testsupport {

void startCountingAllocations() {
    allocations = 0;
    counting = true;
}

size_t stopCountingAllocations() {
    counting = false;
    return allocations;
}

}  // namespace testsupport

void* operator new(size_t size) {
    if (counting) ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
