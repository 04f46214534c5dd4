#pragma once
// A real Icecast server (Debian's icecast2) on a free loopback port, run as an unprivileged user,
// with ffmpeg as its source client playing a file in a loop at its own pace. Both run under
// `timeout`, so nothing outlives a test, and stop when the object goes.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace testsupport {

// Whether a program is on the PATH.
bool installed(const char* tool);

class IcecastServer {
public:
    IcecastServer();
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    // One mount, `mount` ("/live.mp3"), served from `audio` as ffmpeg sends it: copied as it is
    // in the container `format` ("mp3", "ogg"), announced as `contentType`.
    bool start(const std::string& audio, const std::string& mount = "/live.mp3",
               const std::string& format = "mp3", const std::string& contentType = "audio/mpeg");
    bool setTitle(const std::string& title);
    std::string url() const;
    std::string log() const;

private:
    pid_t inBackground(const std::string& command) const;
    std::string curl(const std::string& path, bool admin = false) const;
    static bool waitFor(const std::function<bool()>& done);

    const uint16_t port_;
    std::filesystem::path folder_;
    std::string mount_;
    pid_t server_ = 0;
    pid_t source_ = 0;
};

}  // namespace testsupport
