#include "ScreenshotTool.h"

#include <QApplication>
#include <QPixmap>
#include <cstdlib>
#include <system_error>

namespace ui_test {

std::filesystem::path screenshotDirectory() {
    const char* output = std::getenv("OSTRA_TEST_OUTPUT");
    std::filesystem::path base = output && *output
                                     ? std::filesystem::path(output)
                                     : std::filesystem::temp_directory_path() / "ostra-test-output";
    std::filesystem::path dir = base / "screenshots";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return dir;
}

std::filesystem::path saveScreenshot(QWidget& widget, const std::string& name) {
    QWidget* window = widget.window();
    if (!window->isVisible()) window->show();
    // Let Qt run pending layout and paint requests; nothing else runs on the Qt loop in tests.
    QApplication::processEvents();
    const QPixmap picture = widget.grab();
    const std::filesystem::path path = screenshotDirectory() / (name + ".png");
    if (picture.isNull() || !picture.save(QString::fromStdString(path.string()), "PNG")) return {};
    return path;
}

}  // namespace ui_test
