#pragma once
// The platform log: one plain line per call, no levels, to stderr. Tests capture it.

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Writes `line` (a trailing newline is added when missing) as one write to the log.
void log(const std::string& line);

// printf-style convenience.
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While alive, log lines go to this capture instead of stderr (nesting restores the outer one).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    size_t count() const;
    bool contains(const std::string& fragment) const;
    void clear();

private:
    friend void log(const std::string&);
    LogCapture* previous_;
    std::vector<std::string> lines_;  // guarded by the log's own mutex
};

}  // namespace platform
