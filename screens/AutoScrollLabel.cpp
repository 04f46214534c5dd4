#include "screens/AutoScrollLabel.h"

#include <QPainter>
#include <cmath>

#include "platform/ui/Animator.h"
#include "platform/ui/Screen.h"

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
        slot->setDrawnBySuperview(true);
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
    textImageStale_ = true;
    for (ui::Label* l : label_) l->setTextColor(color);
}

ui::Font AutoScrollLabel::font() const { return label_[0]->font(); }

void AutoScrollLabel::setFont(const ui::Font& font) {
    textImageStale_ = true;
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
    textImageStale_ = true;
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

int AutoScrollLabel::drawnOffset() const {
    return ui::Screen::toPixels(presentationBoundsOrigin().x);
}

void AutoScrollLabel::placeSubviews() {
    // The labels do not move with the offset: both copies are drawn from the image.
    const int offset = drawnOffset();
    if (offset == paintedOffset_) return;
    paintedOffset_ = offset;
    update();
}

const QPixmap& AutoScrollLabel::textImage() {
    const ui::Label& model = *label_[0];
    const QSize size = model.size();
    const qreal ratio = devicePixelRatioF();
    if (!textImageStale_ && textImage_.size() == size * ratio) return textImage_;
    textImageStale_ = false;
    const QString text = QString::fromStdString(model.text().value_or(""));
    const QFont font = model.font().toQFont();
    textImage_ = QPixmap(size * ratio);
    textImage_.setDevicePixelRatio(ratio);
    textImage_.fill(Qt::transparent);
    if (!text.isEmpty() && !size.isEmpty()) {
        QPainter painter(&textImage_);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setFont(font);
        painter.setPen(model.textColor().toQColor());
        painter.drawText(QRectF(QPointF(0, 0), QSizeF(size)),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    return textImage_;
}

const QPixmap* AutoScrollLabel::backgroundImage() {
    QWidget* backdrop = parentWidget();
    // Only an opaque backdrop can be copied; on any other the marquee stays transparent.
    if (!backdrop || !backdrop->testAttribute(Qt::WA_OpaquePaintEvent)) {
        setAttribute(Qt::WA_OpaquePaintEvent, false);
        return nullptr;
    }
    const qreal ratio = devicePixelRatioF();
    if (backgroundImage_.isNull() || backgroundRect_ != geometry() ||
        backgroundParentSize_ != backdrop->size() || backgroundImage_.devicePixelRatio() != ratio) {
        backgroundRect_ = geometry();
        backgroundParentSize_ = backdrop->size();
        backgroundImage_ = QPixmap(size() * ratio);
        backgroundImage_.setDevicePixelRatio(ratio);
        backgroundImage_.fill(Qt::black);
        // The backdrop alone, without its subviews (this marquee among them).
        backdrop->render(&backgroundImage_, QPoint(), QRegion(backgroundRect_),
                         QWidget::RenderFlags());
    }
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    return &backgroundImage_;
}

void AutoScrollLabel::drawContents(QPainter& painter) {
    if (const QPixmap* behind = backgroundImage()) painter.drawPixmap(0, 0, *behind);
    paintedOffset_ = drawnOffset();
    const QPixmap& image = textImage();
    if (image.isNull()) return;
    for (const ui::Label* copy : label_) {
        if (copy->isHidden()) continue;
        const ui::Rect f = copy->frame();
        // Whole pixels, as the labels would sit: the text stays sharp while it moves.
        const int x = ui::Screen::toPixels(f.x()) - paintedOffset_;
        const int y = ui::Screen::toPixels(f.y());
        painter.drawPixmap(x, y, image);
    }
}
