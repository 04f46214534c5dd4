#include "platform/ui/Window.h"

namespace ui {

Window::Window(Rect frame) : View(frame) {
    setRootWindow(true);
    setWindowFlag(Qt::Window);
    setBackgroundColor(Color::black());
    setFrame(frame);
}

void Window::setTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

void Window::makeKeyAndVisible() {
    show();
    raise();
    activateWindow();
}

}  // namespace ui
