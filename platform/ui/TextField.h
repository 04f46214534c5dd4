#pragma once
// A one-line text field. Return asks the delegate callback textFieldShouldReturn; resigning
// first responder ends editing. Main thread only.

#include <functional>
#include <string>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

class QLineEdit;

namespace ui {

class TextField : public View {
public:
    explicit TextField(Rect frame = {});

    std::string text() const;
    void setText(const std::string& text);
    void setPlaceholder(const std::string& placeholder);
    void setFont(const Font& font);

    // The return delegate: called when the user presses Return; its result is whether the
    // field did what Return means.
    void setShouldReturn(std::function<bool(TextField&)> shouldReturn) {
        shouldReturn_ = std::move(shouldReturn);
    }

    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool isFirstResponder() const;

    // Acts as if the user had pressed Return.
    bool simulateReturn();

protected:
    void layoutSubviews() override;
    void scaleChanged() override;

private:
    QLineEdit* edit_;
    Font font_ = Font::systemFont(15);
    std::function<bool(TextField&)> shouldReturn_;
};

}  // namespace ui
