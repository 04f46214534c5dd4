#include "platform/AlertPresenter.h"

#include <cstdio>

#include "platform/MainQueue.h"

namespace platform {

namespace {
std::mutex gPresenterMutex;
std::shared_ptr<AlertPresenter> gPresenter;
}  // namespace

std::shared_ptr<AlertPresenter> AlertPresenter::current() {
    std::lock_guard lock(gPresenterMutex);
    if (!gPresenter) gPresenter = std::make_shared<StderrAlertPresenter>();
    return gPresenter;
}

void AlertPresenter::setCurrent(std::shared_ptr<AlertPresenter> presenter) {
    std::lock_guard lock(gPresenterMutex);
    gPresenter = std::move(presenter);
}

void presentAlert(const std::string& title, const std::string& message,
                  const std::string& buttonTitle) {
    Alert alert{title, message, buttonTitle};
    // Always queued, even on the main thread: the caller may hold locks the alert must not
    // run under, and a modal display must never stall it.
    MainQueue::main().post([alert = std::move(alert)] { AlertPresenter::current()->show(alert); });
}

void StderrAlertPresenter::show(const Alert& alert) {
    std::fprintf(stderr, "[%s] %s (%s)\n", alert.title.c_str(), alert.message.c_str(),
                 alert.buttonTitle.c_str());
}

void RecordingAlertPresenter::show(const Alert& alert) {
    std::lock_guard lock(mutex_);
    alerts_.push_back(alert);
}

std::vector<Alert> RecordingAlertPresenter::alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
}

size_t RecordingAlertPresenter::count() const {
    std::lock_guard lock(mutex_);
    return alerts_.size();
}

}  // namespace platform
