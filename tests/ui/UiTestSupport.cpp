#include "UiTestSupport.h"

#include <unistd.h>
#include <QApplication>
#include <QMouseEvent>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/MainQueue.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Screen.h"

namespace ui_test {

void ensureQtApplication() {
    if (QApplication::instance()) return;
    // Running a test binary by hand must not need a display either. The offscreen screen is
    // a 1920 x 1080 desktop monitor, as most listeners have, rather than Qt's 800 x 800.
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    const std::filesystem::path screens =
        std::filesystem::temp_directory_path() /
        ("ostra-offscreen-" + std::to_string(::getpid()) + ".json");
    const bool offscreen = !chosen || std::string(chosen) == "offscreen";
    if (offscreen) {
        std::ofstream(screens) << R"({"screens": [{"name": "Monitor", "x": 0, "y": 0,
            "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})";
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens.string()).c_str(), 1);
    }
    static int argc = 1;
    static char name[] = "ostra-ui-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
    if (offscreen) {
        std::error_code ignored;
        std::filesystem::remove(screens, ignored);
        // Child processes (the app under test) choose for themselves.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

void VirtualTimeTest::SetUp() {
    ensureQtApplication();
    ui::Screen::setScale(1.5f);
    ui::Screen::setContentOrigin({0, 0});
    queue_ = std::make_shared<platform::DeterministicMainQueue>();
    platform::MainQueue::setMain(queue_);
    ui::Animator::shared().reset();
}

void VirtualTimeTest::TearDown() {
    ui::Animator::shared().reset();
    platform::MainQueue::setMain(nullptr);
}

namespace {
QWidget* send(QWidget& window, ui::Point point, bool release) {
    const QPoint pixel(static_cast<int>(point.x * ui::Screen::scale()),
                       static_cast<int>(point.y * ui::Screen::scale()));
    QWidget* target = window.childAt(pixel);
    if (!target) target = &window;
    const QPointF local = target->mapFrom(&window, QPointF(pixel));
    const QPointF global = window.mapToGlobal(QPointF(pixel));
    QMouseEvent pressEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                           Qt::NoModifier);
    QApplication::sendEvent(target, &pressEvent);
    if (release) {
        QMouseEvent releaseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                 Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &releaseEvent);
    }
    return target;
}
}  // namespace

QWidget* tap(QWidget& window, ui::Point point) { return send(window, point, true); }

QWidget* press(QWidget& window, ui::Point point) { return send(window, point, false); }

}  // namespace ui_test

// LeakSanitizer asks for this at exit. Fontconfig keeps a few process-lifetime allocations
// that it never frees; they are not ours, and Qt reaches fontconfig in every test that
// measures or draws text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// ThreadSanitizer asks for this at start. Qt is not built with it: Qt's own threads (the
// raster painter's thread pool) synchronise in ways it cannot see, so accesses made inside
// Qt's libraries are left out. Every access made by our code is still checked.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
