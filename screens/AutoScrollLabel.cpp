#include "screens/AutoScrollLabel.h"

#include <cmath>

#include "platform/ui/Animator.h"

AutoScrollLabel::AutoScrollLabel() : ui::ScrollView() { commonInit(); }

AutoScrollLabel::AutoScrollLabel(ui::Rect frame) : ui::ScrollView(frame) { commonInit(); }

AutoScrollLabel::~AutoScrollLabel() {
    // The pending pause names this marquee; it must not fire after the marquee is gone.
    if (pauseTimer_) pauseTimer_->invalidate();
}

void AutoScrollLabel::commonInit() {
    for (auto& slot : label_) {
        slot = new ui::Label();
        slot->setTextColor(ui::Color::white());
        slot->setBackgroundColor(ui::Color::clear());
        addSubview(slot);
    }
    scrollDirection_ = 1;
    scrollSpeed_ = 30.0f;
    pauseInterval_ = 0.5;
    bufferSpaceBetweenLabels_ = 20;
    setShowsVerticalScrollIndicator(false);
    setShowsHorizontalScrollIndicator(false);
    setUserInteractionEnabled(false);
}

std::optional<std::string> AutoScrollLabel::text() const { return label_[0]->text(); }

bool AutoScrollLabel::textIsWiderThanView() const {
    return label_[0]->frame().width() > frame().width();
}

void AutoScrollLabel::setText(std::optional<std::string> text) {
    // A nil text never equals the current one, so setting nil always lays out again.
    if (text && label_[0]->text() == text) {
        // The same long text again restarts its pass; the same short text changes nothing.
        if (textIsWiderThanView()) scroll();
        return;
    }
    for (ui::Label* l : label_) l->setText(text);
    readjustLabels();
}

ui::Color AutoScrollLabel::textColor() const { return label_[0]->textColor(); }

void AutoScrollLabel::setTextColor(ui::Color color) {
    for (ui::Label* l : label_) l->setTextColor(color);
}

ui::Font AutoScrollLabel::font() const { return label_[0]->font(); }

void AutoScrollLabel::setFont(const ui::Font& font) {
    for (ui::Label* l : label_) l->setFont(font);
    readjustLabels();
}

void AutoScrollLabel::setScrollSpeed(float speed) {
    scrollSpeed_ = speed;
    readjustLabels();
}

void AutoScrollLabel::setScrollDirection(int32_t direction) {
    scrollDirection_ = direction;
    readjustLabels();
}

void AutoScrollLabel::readjustLabels() {
    const ui::Rect v = frame();
    // Lay the two copies side by side, each centred vertically in the marquee.
    float x = 0.0f;
    for (ui::Label* l : label_) {
        l->sizeToFit();
        ui::Point center = l->center();
        center.y = v.midY() - v.y();
        l->setCenter(center);
        ui::Rect f = l->frame();
        f.origin.x = x;
        l->setFrame(f);
        x += f.width() + kGap;
    }
    const float w0 = label_[0]->frame().width();
    setContentSize({w0 + v.width() + kGap, v.height()});
    setContentOffset({0, 0});
    if (w0 > v.width()) {
        label_[1]->setHidden(false);
        scroll();
    } else {
        label_[1]->setHidden(true);
        ui::Point center = label_[0]->center();
        center.x = v.midX() - v.x();
        label_[0]->setCenter(center);
    }
}

void AutoScrollLabel::scroll() {
    // Any pass supersedes a pause that was waiting to start one; otherwise that pause would
    // restart this pass half-way.
    if (pauseTimer_) {
        pauseTimer_->invalidate();
        pauseTimer_.reset();
    }
    isScrolling_ = true;
    const float w0 = label_[0]->frame().width();
    // A text that fits keeps its still, centred place through the pass: moving it by a text
    // width would leave it cut off at the edge with no pass to bring it back.
    const bool moves = w0 > frame().width();
    const ui::Point travelled{moves ? w0 + kGap : 0.0f, 0};
    const ui::Point start = scrollDirection_ == 1 ? ui::Point{0, 0} : travelled;
    const ui::Point end = scrollDirection_ == 1 ? travelled : ui::Point{0, 0};
    setContentOffset(start);

    // The duration covers the text width only, not the gap (single precision, then widened).
    const double duration = static_cast<double>(w0 / scrollSpeed_);
    if (!std::isfinite(duration) || duration < 0) {
        // A speed of zero or below cannot run a pass; the text stays at its start.
        isScrolling_ = false;
        return;
    }
    beginAnimations("scroll", nullptr);
    setAnimationDelegate(this,
                         [this](const std::string& animationID, bool finished, void* context) {
                             animationDidStop(animationID, finished, context);
                         });
    setAnimationCurve(ui::AnimationCurve::Linear);
    setAnimationDuration(duration);
    setContentOffset(end);
    commitAnimations();
}

void AutoScrollLabel::animationDidStop(const std::string&, bool finished, void*) {
    isScrolling_ = false;
    // Only a pass that ran to its end, on a text that still does not fit, goes on.
    if (finished && textIsWiderThanView()) {
        pauseTimer_ = platform::MainQueue::main().scheduleTimer(
            pauseInterval_, false, [this](platform::Timer&) { scroll(); });
    }
}
