#pragma once
// Files the tests read: the generated audio fixtures and whole files from disk.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The fixture of that name in the build's generated fixtures folder.
std::string fixturePath(const std::string& name);

// The whole file. Throws when it cannot be read, so that a missing fixture fails the test that
// needs it instead of passing on empty input.
std::string readFile(const std::string& path);

// The same, as bytes.
std::vector<uint8_t> readFileBytes(const std::string& path);

}  // namespace testsupport
