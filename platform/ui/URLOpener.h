#pragma once
// Opens a web address outside the application (the desktop's browser). Never waits for the
// result. Tests install a handler of their own to see what would be opened. Main thread only.

#include <functional>
#include <string>

namespace ui {

bool openURL(const std::string& url);

// nullptr restores the desktop opener.
void setURLOpenHandler(std::function<bool(const std::string&)> handler);

}  // namespace ui
