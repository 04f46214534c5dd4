#include "tests/xml/LibXMLMemoryMeter.h"

#include <libxml/xmlmemory.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace xmltest {

namespace {

// Each block carries its size in a header aligned like malloc's own blocks.
constexpr std::size_t kHeader = alignof(std::max_align_t);

std::atomic<std::size_t> gCurrent{0};
std::atomic<std::size_t> gPeak{0};

void grew(std::size_t bytes) {
    const std::size_t now = gCurrent.fetch_add(bytes) + bytes;
    std::size_t peak = gPeak.load();
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
}

void* countedMalloc(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &size, sizeof size);
    grew(size);
    return block + kHeader;
}

void countedFree(void* memory) {
    if (memory == nullptr) return;
    auto* block = static_cast<unsigned char*>(memory) - kHeader;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    gCurrent.fetch_sub(size);
    std::free(block);
}

void* countedRealloc(void* memory, std::size_t size) {
    if (memory == nullptr) return countedMalloc(size);
    auto* block = static_cast<unsigned char*>(memory) - kHeader;
    std::size_t old;
    std::memcpy(&old, block, sizeof old);
    auto* moved = static_cast<unsigned char*>(std::realloc(block, size + kHeader));
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, &size, sizeof size);
    gCurrent.fetch_sub(old);
    grew(size);
    return moved + kHeader;
}

char* countedStrdup(const char* text) {
    const std::size_t length = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(countedMalloc(length));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
}

}  // namespace

void LibXMLMemoryMeter::install() {
    xmlMemSetup(countedFree, countedMalloc, countedRealloc, countedStrdup);
}

std::size_t LibXMLMemoryMeter::current() { return gCurrent.load(); }

void LibXMLMemoryMeter::resetPeak() { gPeak.store(gCurrent.load()); }

std::size_t LibXMLMemoryMeter::peak() { return gPeak.load(); }

}  // namespace xmltest
