#include "tests/support/TestFiles.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

std::string fixturePath(const std::string& name) {
    return std::string(OSTRA_FIXTURES_DIR) + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    const std::string bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

}  // namespace testsupport
