#pragma once
// The application window: a top-level view the size of the 320 x 480 point screen, drawn at
// the screen scale. Main thread only.

#include <string>

#include "platform/ui/View.h"

namespace ui {

class Window : public View {
public:
    explicit Window(Rect frame = Rect(0, 0, 320, 480));
    void setTitle(const std::string& title);
    void makeKeyAndVisible();
};

}  // namespace ui
