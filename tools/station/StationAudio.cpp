#include "tools/station/StationAudio.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "tools/station/UniqueFd.h"

extern char** environ;

namespace station {

namespace {

// Holds an exclusive lock on a file until it goes.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& file)
        : fd_(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}
    bool lock(const StopSignal& stop) {
        if (!fd_) return false;
        // Try without waiting first, then wait, so that a stop can still be noticed when
        // another process holds the lock for the whole length of a generation.
        while (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) return false;
            struct pollfd p = {stop.fd(), POLLIN, 0};
            if (::poll(&p, 1, 200) > 0 || stop.requested()) return false;
        }
        return true;
    }

private:
    UniqueFd fd_;
};

enum class RunResult { Succeeded, Failed, Stopped };

RunResult runGenerator(const std::filesystem::path& generator, const std::filesystem::path& dir,
                       const StopSignal& stop, std::string* error) {
    const std::string script = generator.string();
    const std::string folder = dir.string();
    char bash[] = "bash";
    char* argv[] = {bash, const_cast<char*>(script.c_str()), const_cast<char*>(folder.c_str()),
                    nullptr};
    // The generator starts with default signal handling whatever this process has set up, so
    // that its pipelines and a Ctrl-C behave as in a shell.
    posix_spawnattr_t attr;
    ::posix_spawnattr_init(&attr);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attr, &defaults);
    ::posix_spawnattr_setsigmask(&attr, &none);
    // Its own process group, so that a stop can end the script and every ffmpeg it started.
    ::posix_spawnattr_setpgroup(&attr, 0);
    ::posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "bash", nullptr, &attr, argv, environ);
    ::posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        *error = std::string("cannot start the audio generator: ") + std::strerror(rc);
        return RunResult::Failed;
    }
    // Wait for the child or a stop, whichever comes first.
    // Called through syscall(2): glibc 2.36 declares pidfd_open without C linkage for C++.
    UniqueFd child(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (child) {
        struct pollfd fds[2] = {{child.get(), POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        while (true) {
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
            if (fds[0].revents) break;
            if (fds[1].revents || stop.requested()) {
                ::kill(-pid, SIGTERM);
                int ignored = 0;
                ::waitpid(pid, &ignored, 0);
                return RunResult::Stopped;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *error = "lost the audio generator";
            return RunResult::Failed;
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return RunResult::Succeeded;
    *error =
        script + (WIFEXITED(status) ? " exited with status " + std::to_string(WEXITSTATUS(status))
                                    : " was ended by signal " + std::to_string(WTERMSIG(status)));
    return RunResult::Failed;
}

}  // namespace

std::vector<std::string> missingAudioFiles(const std::filesystem::path& dir,
                                           const std::vector<std::string>& files) {
    std::vector<std::string> missing;
    for (const auto& file : files) {
        std::error_code error;
        const auto size = std::filesystem::file_size(dir / file, error);
        if (error || size == 0) missing.push_back(file);
    }
    return missing;
}

AudioCheck ensureStationAudio(const std::filesystem::path& dir,
                              const std::filesystem::path& generator,
                              const std::vector<std::string>& files, const StopSignal& stop) {
    AudioCheck check;
    if (missingAudioFiles(dir, files).empty()) {
        check.ready = true;
        return check;
    }
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    FolderLock lock(dir / ".generate.lock");
    if (!lock.lock(stop)) {
        check.stopped = stop.requested();
        if (!check.stopped) check.error = "cannot lock " + (dir / ".generate.lock").string();
        return check;
    }
    // Another process may have generated the files while this one waited for the lock.
    if (missingAudioFiles(dir, files).empty()) {
        check.ready = true;
        return check;
    }
    const RunResult run = runGenerator(generator, dir, stop, &check.error);
    check.generated = true;
    check.stopped = run == RunResult::Stopped;
    if (run != RunResult::Succeeded) return check;
    const auto missing = missingAudioFiles(dir, files);
    if (!missing.empty()) {
        check.error = generator.string() + " did not make " + missing.front();
        return check;
    }
    check.ready = true;
    return check;
}

}  // namespace station
