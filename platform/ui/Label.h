#pragma once
// One line of text. The text may be nil (no text at all), which is not the same as "". A nil
// or empty text sizes to nothing. Main thread only.

#include <optional>
#include <string>
#include <string_view>

#include "platform/ui/Font.h"
#include "platform/ui/View.h"

namespace ui {

enum class TextAlignment { Left = 0, Center = 1, Right = 2 };

class Label : public View {
public:
    explicit Label(Rect frame = {});

    const std::optional<std::string>& text() const { return text_; }
    void setText(std::optional<std::string> text);
    // The same for a text that is there: kept in the label's own storage, so a label given a
    // new text of a length it held before (a list's cell, reused row after row) allocates
    // nothing.
    void assignText(std::string_view text);

    Color textColor() const { return textColor_; }
    void setTextColor(Color color);

    const Font& font() const { return font_; }
    void setFont(const Font& font);

    TextAlignment textAlignment() const { return alignment_; }
    void setTextAlignment(TextAlignment alignment);

    Size sizeThatFits(Size size) const override;

protected:
    void drawContents(QPainter& painter) override;

private:
    std::optional<std::string> text_;
    Color textColor_ = Color::black();
    Font font_ = Font::systemFont(17);
    TextAlignment alignment_ = TextAlignment::Left;
};

}  // namespace ui
