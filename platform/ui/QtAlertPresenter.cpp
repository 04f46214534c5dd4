#include "platform/ui/QtAlertPresenter.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {

namespace {
constexpr const char* kAlertMarker = "ostraAlert";
}

void QtAlertPresenter::show(const platform::Alert& alert) {
    auto* box = new QMessageBox(parent_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setProperty(kAlertMarker, true);
    box->setWindowModality(Qt::NonModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QString::fromStdString(alert.title));
    box->setText(QString::fromStdString(alert.title));
    box->setInformativeText(QString::fromStdString(alert.message));
    box->addButton(QString::fromStdString(alert.buttonTitle.empty() ? "OK" : alert.buttonTitle),
                   QMessageBox::AcceptRole);
    // show(), not exec(): exec would run a nested event loop and hold up the caller.
    box->show();
}

int QtAlertPresenter::openCount() const {
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->property(kAlertMarker).toBool() && w->isVisible()) ++count;
    }
    return count;
}

}  // namespace ui
