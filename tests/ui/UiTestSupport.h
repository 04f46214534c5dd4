#pragma once
// Helpers for tests of the screen toolkit, the screens and the shell: one QApplication per
// process on the offscreen platform, a fixture that runs the main queue on virtual time, and
// taps delivered the way Qt delivers a real mouse click.

#include <gtest/gtest.h>

#include <QPoint>
#include <QWidget>
#include <memory>

#include "platform/DeterministicMainQueue.h"
#include "platform/ui/Geometry.h"

namespace ui_test {

// Makes the process's QApplication once (offscreen unless QT_QPA_PLATFORM says otherwise).
void ensureQtApplication();

// A test whose main queue is a DeterministicMainQueue: timers and animations run only when
// the test advances the virtual clock.
class VirtualTimeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    platform::DeterministicMainQueue& queue() { return *queue_; }
    // Advances in small steps so that posted work between timers runs in order.
    void advance(double seconds) { queue_->advance(seconds); }

    std::shared_ptr<platform::DeterministicMainQueue> queue_;
};

// A press and a release at `point` (in points of `window`'s top-level view), delivered to the
// widget under it and passed up to its parents while nobody accepts it, as a click is.
// Returns the widget that was hit.
QWidget* tap(QWidget& window, ui::Point point);
// The press alone.
QWidget* press(QWidget& window, ui::Point point);

}  // namespace ui_test
