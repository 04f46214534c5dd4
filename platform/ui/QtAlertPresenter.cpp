#include "platform/ui/QtAlertPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>

namespace ui {

namespace {

constexpr const char* kAlertMarker = "ostraAlert";

// Keeps an alert centred over its window as the window changes size; owned by the alert.
class CentredOverParent : public QObject {
public:
    explicit CentredOverParent(QWidget* alert) : QObject(alert), alert_(alert) {
        alert->parentWidget()->installEventFilter(this);
        centre();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == alert_->parentWidget() && event->type() == QEvent::Resize) centre();
        return false;
    }

private:
    void centre() {
        const QWidget* parent = alert_->parentWidget();
        alert_->move((parent->width() - alert_->width()) / 2,
                     (parent->height() - alert_->height()) / 2);
    }

    QWidget* alert_;
};

QMessageBox* makeBox(const platform::Alert& alert, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setProperty(kAlertMarker, true);
    box->setWindowModality(Qt::NonModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QString::fromStdString(alert.title));
    box->setText(QString::fromStdString(alert.title));
    box->setInformativeText(QString::fromStdString(alert.message));
    box->addButton(QString::fromStdString(alert.buttonTitle.empty() ? "OK" : alert.buttonTitle),
                   QMessageBox::AcceptRole);
    return box;
}

}  // namespace

void QtAlertPresenter::show(const platform::Alert& alert) {
    QWidget* parent = parent_.data();
    QMessageBox* box = makeBox(alert, parent);
    if (!parent) {
        // show(), not exec(): exec would run a nested event loop and hold up the caller.
        box->show();
        return;
    }
    // Drawn inside the window, as part of its own surface, the way a phone shows an alert. A
    // separate dialog window mapped over the main one stays a black box under X11 without a
    // compositor until it is moved: its first frames never reach the screen.
    box->setWindowFlags(Qt::Widget);
    box->setObjectName(kAlertMarker);
    box->setStyleSheet(
        "#ostraAlert { background-color: palette(window); border: 1px solid palette(mid); }");
    box->adjustSize();
    new CentredOverParent(box);
    box->show();
    box->raise();
    if (!box->buttons().isEmpty()) box->buttons().front()->setFocus();
}

int QtAlertPresenter::openCount() const {
    int count = 0;
    for (QWidget* w : QApplication::allWidgets()) {
        if (w->property(kAlertMarker).toBool() && w->isVisible()) ++count;
    }
    return count;
}

}  // namespace ui
