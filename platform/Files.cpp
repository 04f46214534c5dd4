#include "platform/Files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {

namespace {
const char* kAppFolder = "OstraRadio";
std::mutex gOverrideMutex;
std::optional<std::filesystem::path> gOverride;

bool writeAll(int fd, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

void setDocumentsDirectoryOverride(std::optional<std::filesystem::path> path) {
    std::lock_guard lock(gOverrideMutex);
    gOverride = std::move(path);
}

std::filesystem::path documentsDirectory() {
    std::filesystem::path dir;
    {
        std::lock_guard lock(gOverrideMutex);
        if (gOverride) dir = *gOverride;
    }
    if (dir.empty()) {
        const char* xdg = std::getenv("XDG_DATA_HOME");
        if (xdg && *xdg == '/') {
            dir = std::filesystem::path(xdg) / kAppFolder;
        } else {
            const char* home = std::getenv("HOME");
            dir = std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share" /
                  kAppFolder;
        }
    }
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}

bool writeFileAtomically(const std::filesystem::path& path, const std::string& bytes) {
    // A unique temporary name per write, so concurrent writers never share a half-written file.
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = path;
    temp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);

    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

std::size_t removeAbandonedTemporaries(const std::filesystem::path& path) {
    const std::string prefix = path.filename().string() + ".tmp.";
    std::size_t removed = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        // "<name>.tmp.<pid>.<n>": only a writer that no longer exists has given it up.
        const char* pidText = name.c_str() + prefix.size();
        char* end = nullptr;
        const long pid = std::strtol(pidText, &end, 10);
        if (end == pidText || *end != '.' || pid <= 0) continue;
        if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        if (std::filesystem::remove(entry.path(), ignored)) ++removed;
    }
    return removed;
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return contents.str();
}

}  // namespace platform
