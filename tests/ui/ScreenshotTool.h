#pragma once
// Writes what a widget shows to a PNG, for people to look at: into
// $OSTRA_TEST_OUTPUT/screenshots (the test run sets it to <build>/test-output), or a
// temporary folder when that is not set. The widget is shown first (offscreen in tests), so
// that it and its subviews are laid out and painted as on a screen.

#include <QWidget>
#include <filesystem>
#include <string>

namespace ui_test {

std::filesystem::path screenshotDirectory();

// Saves `name`.png and returns its path; an empty path when writing failed.
std::filesystem::path saveScreenshot(QWidget& widget, const std::string& name);

}  // namespace ui_test
