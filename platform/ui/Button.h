#pragma once
// A push button showing an image and/or a title. Its image for the normal state is set by
// resource name; currentImage() is the image shown now, which the screens compare with a
// named image to tell their play state. The action runs on a touch that ends inside the
// button. Main thread only.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

enum class ControlState { Normal, Highlighted, Disabled };

class Button : public View {
public:
    explicit Button(Rect frame = {});

    // Only the normal state is kept; the highlighted and disabled looks are drawn from it.
    void setImage(ImageRef image, ControlState state = ControlState::Normal);
    void setImage(const std::string& resourceName, ControlState state = ControlState::Normal);
    ImageRef imageForState(ControlState state) const;
    ImageRef currentImage() const { return image_; }
    // Whether the current image is the image of that name.
    bool currentImageIs(const std::string& resourceName) const;

    void setTitle(std::optional<std::string> title);
    const std::optional<std::string>& title() const { return title_; }
    void setTitleColor(Color color);
    void setTitleFont(const Font& font);

    // Enabled is QWidget's: a disabled button is drawn dimmed and swallows touches.
    bool isHighlighted() const { return highlighted_; }

    // Runs on a touch up inside, with the button as sender.
    void setAction(std::function<void(Button&)> action) { action_ = std::move(action); }
    // Runs the action as a tap would (for keyboard activation and tests).
    void sendAction();

    // What a screen reader says for the button: the name given for its current image, else
    // its accessible name, else its title. A play button names what a press does.
    void setAccessibleNameForImage(const std::string& resourceName, const std::string& name);
    std::string accessibleText() const;

protected:
    void drawContents(QPainter& painter) override;
    bool handleTouch(TouchPhase phase, Point location) override;
    void changeEvent(QEvent* event) override;
    // Tab reaches a button; Space and Return press it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<std::pair<ImageRef, std::string>> imageNames_;
    ImageRef image_;
    std::optional<std::string> title_;
    Color titleColor_ = Color::white();
    Font titleFont_ = Font::boldSystemFont(15);
    bool highlighted_ = false;
    std::function<void(Button&)> action_;
};

}  // namespace ui
