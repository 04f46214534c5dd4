#pragma once
// Alerts as non-modal message boxes, drawn inside the application window (centred, in front)
// once it has one, and as a window of their own before that: the caller and the event loop
// never wait for the user to close one. Main thread only.

#include <QPointer>
#include <QWidget>

#include "platform/AlertPresenter.h"

namespace ui {

class QtAlertPresenter : public platform::AlertPresenter {
public:
    explicit QtAlertPresenter(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const platform::Alert& alert) override;

    // Message boxes still open, for tests.
    int openCount() const;

private:
    QPointer<QWidget> parent_;
};

}  // namespace ui
