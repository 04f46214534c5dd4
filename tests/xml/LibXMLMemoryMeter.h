#pragma once
// Counts the bytes libxml2 holds, so that tests can bound what hostile input makes it allocate.
//
// install() routes libxml2's allocator through counting wrappers. It must run before libxml2
// allocates anything, so a test program calls it from a static initialiser, before main().

#include <cstddef>

namespace xmltest {

class LibXMLMemoryMeter {
public:
    static void install();

    // Bytes libxml2 holds now.
    static std::size_t current();
    // Starts a new measurement: the peak restarts from the current level.
    static void resetPeak();
    // The highest level since the last resetPeak().
    static std::size_t peak();
};

}  // namespace xmltest
