#pragma once
// Alerts: a title, a message and one button, shown on the main thread without ever making the
// caller wait. Only the application chooses how they appear (a message box, stderr, a recorder
// in tests).

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct Alert {
    std::string title;
    std::string message;
    std::string buttonTitle;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    // Called on the main thread only.
    virtual void show(const Alert& alert) = 0;

    // The process's presenter; defaults to the stderr one.
    static std::shared_ptr<AlertPresenter> current();
    static void setCurrent(std::shared_ptr<AlertPresenter> presenter);
};

// Any thread: hands the alert to the current presenter on the main queue. Never waits.
void presentAlert(const std::string& title, const std::string& message,
                  const std::string& buttonTitle);

// Command-line tools: one line on stderr.
class StderrAlertPresenter : public AlertPresenter {
public:
    void show(const Alert& alert) override;
};

// Tests: keeps every alert shown.
class RecordingAlertPresenter : public AlertPresenter {
public:
    void show(const Alert& alert) override;
    std::vector<Alert> alerts() const;
    size_t count() const;

private:
    mutable std::mutex mutex_;
    std::vector<Alert> alerts_;
};

}  // namespace platform
