// The marquee on virtual time: layout, passes, pauses, restarts, and what changes re-lay out.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ScreenshotTool.h"
#include "UiTestSupport.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Window.h"
#include "screens/AutoScrollLabel.h"

namespace {

const std::string kLongText =
    "Ostra Radio is supported by the harbour bakery, fresh bread every morning since 1921";
const std::string kShortText = "Ostra Radio";
constexpr float kGap = 20.0f;

// The width the label takes for `text`, measured the way the marquee measures it.
float textWidth(const std::string& text) {
    ui::Label probe;
    probe.setText(text);
    probe.sizeToFit();
    return probe.frame().width();
}

class AutoScrollLabelTest : public ui_test::VirtualTimeTest {
protected:
    // The marquee of the live screen: (0, 390, 320, 19).
    std::unique_ptr<AutoScrollLabel> makeMarquee(float width = 320) {
        return std::make_unique<AutoScrollLabel>(ui::Rect(0, 390, width, 19));
    }
    static float offsetX(const AutoScrollLabel& m) { return m.presentationBoundsOrigin().x; }
};

// A long text lays the two copies side by side with a 20-point gap, centred vertically, and
// starts a pass at once; the content is one text, one gap and one view wide.
TEST_F(AutoScrollLabelTest, LongTextLaysOutTwoCopiesAndScrolls) {
    auto m = makeMarquee();
    m->setText(kLongText);
    const float w0 = m->label(0).frame().width();
    ASSERT_GT(w0, 320.0f);
    EXPECT_FLOAT_EQ(w0, textWidth(kLongText));
    EXPECT_FLOAT_EQ(m->label(0).frame().x(), 0.0f);
    EXPECT_FLOAT_EQ(m->label(1).frame().x(), w0 + kGap);
    EXPECT_FLOAT_EQ(m->label(0).center().y, 19.0f / 2);
    EXPECT_FLOAT_EQ(m->label(1).center().y, 19.0f / 2);
    EXPECT_FALSE(m->label(1).isHidden());
    EXPECT_EQ(m->contentSize(), (ui::Size{w0 + 320 + kGap, 19}));
    EXPECT_TRUE(m->isScrolling());
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
}

// A text that fits is centred, the copy hidden, the offset 0, and nothing moves.
TEST_F(AutoScrollLabelTest, ShortTextStaysStillAndCentred) {
    auto m = makeMarquee();
    m->setText(kShortText);
    const float w0 = m->label(0).frame().width();
    EXPECT_FLOAT_EQ(m->label(0).center().x, 160.0f);
    EXPECT_FLOAT_EQ(m->label(0).frame().width(), w0);
    EXPECT_TRUE(m->label(1).isHidden());
    EXPECT_FALSE(m->isScrolling());
    advance(30);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    EXPECT_FALSE(m->isPausing());
    EXPECT_EQ(ui::Animator::shared().runningCount(), 0u);
}

// A text exactly as wide as the marquee does not scroll (the test is "wider than").
TEST_F(AutoScrollLabelTest, TextExactlyAsWideAsTheViewStaysStill) {
    const float w = textWidth(kLongText);
    auto m = makeMarquee(w);
    m->setText(kLongText);
    EXPECT_FLOAT_EQ(m->label(0).frame().width(), m->frame().width());
    EXPECT_TRUE(m->label(1).isHidden());
    EXPECT_FLOAT_EQ(m->label(0).center().x, w / 2);
    EXPECT_FALSE(m->isScrolling());
    advance(60);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
}

// Direction 1: from offset 0 to one text plus the gap, over text width / speed seconds, at an
// even pace; then a pause of pauseInterval; then the next pass from 0 again.
TEST_F(AutoScrollLabelTest, PassRightToLeftThenPauseThenNextPass) {
    auto m = makeMarquee();
    m->setText(kLongText);
    const float w0 = m->label(0).frame().width();
    const double duration = static_cast<double>(w0 / 30.0f);

    advance(duration / 2);
    EXPECT_NEAR(offsetX(*m), (w0 + kGap) / 2, 0.6);
    EXPECT_FLOAT_EQ(m->contentOffset().x, w0 + kGap);  // the model is already at the end
    advance(duration / 2 - 0.001);
    EXPECT_TRUE(m->isScrolling());
    EXPECT_FALSE(m->isPausing());
    advance(0.002);
    EXPECT_FALSE(m->isScrolling());
    EXPECT_TRUE(m->isPausing());
    EXPECT_FLOAT_EQ(offsetX(*m), w0 + kGap);

    advance(0.5 - 0.002);
    EXPECT_TRUE(m->isPausing());
    advance(0.002);
    EXPECT_TRUE(m->isScrolling());
    EXPECT_NEAR(offsetX(*m), 0.0f, 0.5);
    EXPECT_FLOAT_EQ(m->contentOffset().x, w0 + kGap);
}

// Any other direction runs the pass the other way: from one text plus the gap to 0.
TEST_F(AutoScrollLabelTest, PassLeftToRightForOtherDirections) {
    auto m = makeMarquee();
    m->setText(kLongText);
    m->setScrollDirection(-1);
    const float w0 = m->label(0).frame().width();
    const double duration = static_cast<double>(w0 / 30.0f);
    EXPECT_FLOAT_EQ(offsetX(*m), w0 + kGap);
    EXPECT_FLOAT_EQ(m->contentOffset().x, 0.0f);
    advance(duration / 4);
    EXPECT_NEAR(offsetX(*m), (w0 + kGap) * 0.75f, 0.6);
    advance(duration * 3 / 4 + 0.001);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    EXPECT_TRUE(m->isPausing());
}

// A pass cut short by a new scroll call reports not finished, so only the new pass goes on:
// no pause timer appears until the new pass has run its full length.
TEST_F(AutoScrollLabelTest, InterruptedPassSchedulesNoPause) {
    auto m = makeMarquee();
    m->setText(kLongText);
    const double duration = static_cast<double>(m->label(0).frame().width() / 30.0f);
    advance(duration / 2);
    m->scroll();
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    queue().drain();  // the cut-short report arrives through the main queue
    EXPECT_FALSE(m->isPausing());
    advance(duration - 0.01);
    EXPECT_FALSE(m->isPausing());
    advance(0.02);
    EXPECT_TRUE(m->isPausing());
}

// Setting the same long text again restarts the pass from its start; the same short text
// again changes nothing at all.
TEST_F(AutoScrollLabelTest, SameTextAgainRestartsOnlyALongText) {
    auto m = makeMarquee();
    m->setText(kLongText);
    const double duration = static_cast<double>(m->label(0).frame().width() / 30.0f);
    advance(duration * 0.8);
    m->setText(kLongText);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    advance(duration * 0.5);
    EXPECT_FALSE(m->isPausing());
    advance(duration * 0.5 + 0.01);
    EXPECT_TRUE(m->isPausing());

    auto still = makeMarquee();
    still->setText(kShortText);
    const ui::Rect before = still->label(0).frame();
    still->setText(kShortText);
    EXPECT_EQ(still->label(0).frame(), before);
    EXPECT_FALSE(still->isScrolling());
    EXPECT_EQ(ui::Animator::shared().isAnimating(still.get(), "boundsOrigin"), false);
}

// A nil text over a nil text is still a change: both labels take nil and the layout runs,
// which centres the (empty) first label.
TEST_F(AutoScrollLabelTest, NilTextOverNilTextLaysOutAgain) {
    auto m = makeMarquee();
    EXPECT_EQ(m->text(), std::nullopt);
    EXPECT_FLOAT_EQ(m->label(0).center().x, 0.0f);
    m->setText(std::nullopt);
    EXPECT_EQ(m->text(), std::nullopt);
    EXPECT_EQ(m->label(1).text(), std::nullopt);
    EXPECT_FLOAT_EQ(m->label(0).frame().width(), 0.0f);
    EXPECT_FLOAT_EQ(m->label(0).center().x, 160.0f);
    EXPECT_TRUE(m->label(1).isHidden());

    // From a long text to nil the marquee stops and stays still.
    m->setText(kLongText);
    m->setText(std::nullopt);
    advance(60);
    EXPECT_FALSE(m->isPausing());
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
}

// Changing the speed or the direction lays out again and, for a long text, restarts the pass
// at once with the new speed or direction; the gap setting changes nothing on screen.
TEST_F(AutoScrollLabelTest, SpeedAndDirectionChangesRestartThePass) {
    auto m = makeMarquee();
    m->setText(kLongText);
    const float w0 = m->label(0).frame().width();
    advance(3);
    m->setScrollSpeed(60);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    const double fast = static_cast<double>(w0 / 60.0f);
    advance(fast - 0.01);
    EXPECT_FALSE(m->isPausing());
    advance(0.02);
    EXPECT_TRUE(m->isPausing());

    m->setScrollDirection(0);
    EXPECT_FALSE(m->isPausing());
    EXPECT_FLOAT_EQ(offsetX(*m), w0 + kGap);

    m->setBufferSpaceBetweenLabels(100);
    EXPECT_EQ(m->bufferSpaceBetweenLabels(), 100);
    m->setFont(ui::Font::systemFont(17));
    EXPECT_FLOAT_EQ(m->label(1).frame().x(), w0 + kGap);
}

// The font goes to both labels and re-lays out; the colour goes to both without a layout.
TEST_F(AutoScrollLabelTest, FontAndColourReachBothLabels) {
    auto m = makeMarquee();
    m->setText(kShortText);
    const float before = m->label(0).frame().width();
    m->setFont(ui::Font::boldSystemFont(30));
    EXPECT_EQ(m->label(1).font(), ui::Font::boldSystemFont(30));
    EXPECT_GT(m->label(0).frame().width(), before);
    EXPECT_FLOAT_EQ(m->label(0).center().x, 160.0f);

    m->setTextColor(ui::Color::rgb(1, 0, 0));
    EXPECT_EQ(m->label(0).textColor(), ui::Color::rgb(1, 0, 0));
    EXPECT_EQ(m->label(1).textColor(), ui::Color::rgb(1, 0, 0));
    EXPECT_EQ(m->textColor(), ui::Color::rgb(1, 0, 0));
}

// scroll() on a text that fits runs one pass (the screens call it on every player state) but
// the text keeps its centred place, and no pause or repeat follows.
TEST_F(AutoScrollLabelTest, ScrollOnAFittingTextKeepsItInPlace) {
    auto m = makeMarquee();
    m->setText(kShortText);
    const ui::Rect still = m->label(0).frame();
    const double duration = static_cast<double>(still.width() / 30.0f);
    m->scroll();
    EXPECT_TRUE(m->isScrolling());
    advance(duration / 2);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    advance(duration);
    EXPECT_FALSE(m->isScrolling());
    EXPECT_FALSE(m->isPausing());
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
    EXPECT_EQ(m->label(0).frame(), still);
}

// A pause waiting to start a pass is dropped by a new pass, so it cannot restart that pass
// half-way; and a marquee destroyed while scrolling or pausing leaves nothing behind to fire.
TEST_F(AutoScrollLabelTest, PendingPauseIsSupersededAndDiesWithTheMarquee) {
    auto m = makeMarquee();
    m->setText(kLongText);
    const double duration = static_cast<double>(m->label(0).frame().width() / 30.0f);
    advance(duration + 0.01);
    ASSERT_TRUE(m->isPausing());
    m->scroll();
    EXPECT_FALSE(m->isPausing());
    advance(0.6);  // past the old pause's due time: the pass was not restarted
    EXPECT_NEAR(offsetX(*m),
                0.6f * (m->label(0).frame().width() + kGap) / static_cast<float>(duration), 0.6);

    m.reset();
    auto pausing = makeMarquee();
    pausing->setText(kLongText);
    advance(duration + 0.01);
    ASSERT_TRUE(pausing->isPausing());
    pausing.reset();
    advance(5);  // the pause and the animation of the destroyed marquees must not run
    EXPECT_EQ(ui::Animator::shared().runningCount(), 0u);
}

// A speed of zero cannot run a pass: the text waits at its start, and nothing spins forever.
TEST_F(AutoScrollLabelTest, ZeroSpeedRunsNoPass) {
    auto m = makeMarquee();
    m->setText(kLongText);
    m->setScrollSpeed(0);
    EXPECT_FALSE(m->isScrolling());
    EXPECT_EQ(ui::Animator::shared().runningCount(), 0u);
    EXPECT_FLOAT_EQ(offsetX(*m), 0.0f);
}

// Screenshots of a marquee on a dark strip: still, and mid-scroll with the trailing copy in
// view.
TEST_F(AutoScrollLabelTest, ScreenshotMidScroll) {
    ui::Window window(ui::Rect(0, 0, 320, 60));
    window.setBackgroundColor(ui::Color::rgb(0.05f, 0.07f, 0.12f));
    auto* top = new AutoScrollLabel(ui::Rect(0, 8, 320, 19));
    auto* bottom = new AutoScrollLabel(ui::Rect(0, 34, 320, 19));
    window.addSubview(top);
    window.addSubview(bottom);
    top->setText(kShortText);
    bottom->setText(kLongText);
    const float w0 = bottom->label(0).frame().width();
    // Move to where the end of the first copy and the start of the second are both in view.
    advance(static_cast<double>((w0 - 200) / (w0 + kGap)) * static_cast<double>(w0 / 30.0f));
    EXPECT_GT(offsetX(*bottom), w0 - 320 + kGap);
    EXPECT_LT(offsetX(*bottom), w0);
    const auto path = ui_test::saveScreenshot(window, "marquee-mid-scroll");
    EXPECT_FALSE(path.empty());
}

}  // namespace
