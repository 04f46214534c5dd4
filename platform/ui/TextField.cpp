#include "platform/ui/TextField.h"

#include <QLineEdit>

#include "platform/ui/Screen.h"

namespace ui {

TextField::TextField(Rect frame) : View(frame), edit_(new QLineEdit(this)) {
    edit_->setFont(font_.toQFont());
    edit_->setClearButtonEnabled(true);
    QObject::connect(edit_, &QLineEdit::returnPressed, edit_, [this] { simulateReturn(); });
    layoutSubviews();
}

std::string TextField::text() const { return edit_->text().toStdString(); }

void TextField::setText(const std::string& text) { edit_->setText(QString::fromStdString(text)); }

void TextField::setPlaceholder(const std::string& placeholder) {
    edit_->setPlaceholderText(QString::fromStdString(placeholder));
}

void TextField::setFont(const Font& font) {
    font_ = font;
    edit_->setFont(font_.toQFont());
}

bool TextField::becomeFirstResponder() {
    edit_->setFocus(Qt::OtherFocusReason);
    return true;
}

bool TextField::resignFirstResponder() {
    edit_->clearFocus();
    return true;
}

bool TextField::isFirstResponder() const { return edit_->hasFocus(); }

bool TextField::simulateReturn() { return shouldReturn_ ? shouldReturn_(*this) : false; }

void TextField::scaleChanged() {
    edit_->setFont(font_.toQFont());
    layoutSubviews();
}

void TextField::layoutSubviews() {
    edit_->setGeometry(0, 0, Screen::toPixels(frame().width()), Screen::toPixels(frame().height()));
}

}  // namespace ui
