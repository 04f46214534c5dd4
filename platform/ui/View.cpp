#include "platform/ui/View.h"

#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "platform/ui/Accessibility.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"

namespace ui {

namespace {
const std::string kFrame = "frame";
const std::string kAlpha = "alpha";
const std::string kBoundsOrigin = "boundsOrigin";

// Below this alpha a view is not touchable, as on the original platform.
constexpr float kMinimumTouchableAlpha = 0.01f;
}  // namespace

View::View(Rect frame) : frame_(frame) {
    installAccessibility();
    setAttribute(Qt::WA_NoSystemBackground);
    applyGeometry();
}

View::~View() {
    Animator::shared().cancelTarget(this);
    if (layer_) Animator::shared().cancelTarget(layer_.get());
}

void View::setFrame(Rect frame) {
    Animator& animator = Animator::shared();
    if (animator.openGroup()) {
        const Rect from = presentationFrame();
        animator.add(
            this, kFrame, {from.x(), from.y(), from.width(), from.height()},
            {frame.x(), frame.y(), frame.width(), frame.height()},
            [this](const AnimationValue& v) {
                presentationFrame_ = Rect(v[0], v[1], v[2], v[3]);
                applyGeometry();
            },
            [this] {
                presentationFrame_.reset();
                applyGeometry();
            });
    } else {
        animator.cancel(this, kFrame);
    }
    const bool resized = !(frame.size == frame_.size);
    frame_ = frame;
    applyGeometry();
    if (resized) layoutSubviews();
}

void View::setCenter(Point center) {
    Rect f = frame_;
    f.origin = {center.x - f.width() / 2, center.y - f.height() / 2};
    setFrame(f);
}

void View::setBoundsOrigin(Point origin) {
    Animator& animator = Animator::shared();
    if (animator.openGroup()) {
        const Point from = presentationBoundsOrigin();
        animator.add(
            this, kBoundsOrigin, {from.x, from.y, 0, 0}, {origin.x, origin.y, 0, 0},
            [this](const AnimationValue& v) {
                presentationBoundsOrigin_ = Point{v[0], v[1]};
                placeSubviews();
            },
            [this] {
                presentationBoundsOrigin_.reset();
                placeSubviews();
            });
    } else {
        animator.cancel(this, kBoundsOrigin);
    }
    boundsOrigin_ = origin;
    placeSubviews();
}

void View::setAlpha(float alpha) {
    Animator& animator = Animator::shared();
    if (animator.openGroup()) {
        animator.add(
            this, kAlpha, {presentationAlpha(), 0, 0, 0}, {alpha, 0, 0, 0},
            [this](const AnimationValue& v) {
                presentationAlpha_ = v[0];
                applyAlpha();
            },
            [this] {
                presentationAlpha_.reset();
                applyAlpha();
            });
    } else {
        animator.cancel(this, kAlpha);
    }
    alpha_ = alpha;
    applyAlpha();
}

void View::setVisible(bool visible) {
    hidden_ = !visible;
    if (visible && !parentWidget() && !isRootWindow_) return;
    QWidget::setVisible(visible);
}

void View::setParentKeepingVisibility(QWidget* parent) {
    // Qt hides a widget that changes parent, through setVisible; the setting stays ours.
    const bool hidden = hidden_;
    setParent(parent);
    hidden_ = hidden;
}

void View::applyVisibility() {
    // A view without a superview is only shown when it is a window (which shows itself).
    if (parentWidget() || isRootWindow_) QWidget::setVisible(!hidden_);
}

void View::setBackgroundColor(Color color) {
    backgroundColor_ = color;
    update();
}

void View::setUserInteractionEnabled(bool enabled) {
    userInteractionEnabled_ = enabled;
    applyTouchability();
}

void View::applyGeometry() {
    // The window's size is the user's; it places the layout inside itself.
    if (isRootWindow_) return;
    const Rect f = presentationFrame();
    View* parent = superview();
    const Point parentOrigin = parent ? parent->presentationBoundsOrigin() : Point{};
    // The window's own subviews sit in the centred layout.
    const QPoint offset = parent && parent->isRootWindow_ ? Screen::contentOrigin() : QPoint();
    const int x = Screen::toPixels(f.x() - parentOrigin.x) + offset.x();
    const int y = Screen::toPixels(f.y() - parentOrigin.y) + offset.y();
    const int w = std::max(0, Screen::toPixels(f.width()));
    const int h = std::max(0, Screen::toPixels(f.height()));
    setGeometry(x, y, w, h);
}

void View::placeTreeForNewScale() {
    for (View* child : subviews()) {
        child->applyGeometry();
        child->scaleChanged();
        child->placeTreeForNewScale();
    }
    update();
}

void View::placeSubviews() {
    // Straight from Qt's list: this runs at every step of a scroll, and a copy would allocate.
    for (QObject* child : children()) {
        if (auto* view = dynamic_cast<View*>(child)) view->applyGeometry();
    }
    update();
}

void View::applyAlpha() {
    const float alpha = std::clamp(presentationAlpha(), 0.0f, 1.0f);
    if (alpha >= 1.0f) {
        if (graphicsEffect()) setGraphicsEffect(nullptr);
    } else {
        auto* effect = dynamic_cast<QGraphicsOpacityEffect*>(graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(this);
            setGraphicsEffect(effect);
        }
        effect->setOpacity(alpha);
    }
    applyTouchability();
}

void View::applyTouchability() {
    const bool touchable = userInteractionEnabled_ && presentationAlpha() >= kMinimumTouchableAlpha;
    setAttribute(Qt::WA_TransparentForMouseEvents, !touchable);
}

void View::addSubview(View* view) {
    if (!view || view == this) return;
    view->setParentKeepingVisibility(this);
    view->applyGeometry();
    view->raise();
    view->applyVisibility();
}

void View::insertSubviewBelow(View* view, View* sibling) {
    addSubview(view);
    if (sibling && sibling->superview() == this) view->stackUnder(sibling);
}

void View::bringSubviewToFront(View* view) {
    if (view && view->superview() == this) view->raise();
}

void View::removeFromSuperview() {
    if (!parentWidget()) return;
    QWidget::setVisible(false);
    setParentKeepingVisibility(nullptr);
}

View* View::superview() const { return dynamic_cast<View*>(parentWidget()); }

std::vector<View*> View::subviews() const {
    std::vector<View*> result;
    for (QObject* child : children()) {
        if (auto* view = dynamic_cast<View*>(child)) result.push_back(view);
    }
    return result;
}

bool View::isDescendantOf(const View* ancestor) const {
    for (const View* v = this; v; v = v->superview()) {
        if (v == ancestor) return true;
    }
    return false;
}

Size View::sizeThatFits(Size) const { return frame_.size; }

void View::sizeToFit() {
    Rect f = frame_;
    f.size = sizeThatFits(f.size);
    setFrame(f);
}

Layer& View::layer() {
    if (!layer_) layer_ = std::make_unique<Layer>(*this);
    return *layer_;
}

void View::beginAnimations(const std::string& animationID, void* context) {
    Animator::shared().begin(animationID, context);
}

void View::setAnimationDuration(double seconds) { Animator::shared().setDuration(seconds); }

void View::setAnimationCurve(AnimationCurve curve) { Animator::shared().setCurve(curve); }

void View::setAnimationDelegate(QObject* delegate,
                                std::function<void(const std::string&, bool, void*)> didStop) {
    Animator::shared().setDidStop(delegate, std::move(didStop));
}

void View::commitAnimations() { Animator::shared().commit(); }

QRectF View::toPixels(Rect r) const {
    const float s = Screen::scale();
    const Point o = presentationBoundsOrigin();
    return QRectF((r.x() - o.x) * s, (r.y() - o.y) * s, r.width() * s, r.height() * s);
}

Point View::toPoints(QPointF pixels) const {
    const Point origin = presentationBoundsOrigin();
    const float s = Screen::scale();
    return {static_cast<float>(pixels.x()) / s + origin.x,
            static_cast<float>(pixels.y()) / s + origin.y};
}

void View::drawContents(QPainter&) {}

void View::paintEvent(QPaintEvent*) {
    if (drawnBySuperview_) return;
    QPainter painter(this);
    if (!backgroundColor_.isClear()) painter.fillRect(rect(), backgroundColor_.toQColor());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const float rotation = layer_ ? layer_->presentationRotation() : 0.0f;
    if (rotation != 0.0f) {
        const Point anchor = layer_->anchorPoint();
        const QPointF pivot(anchor.x * width(), anchor.y * height());
        painter.translate(pivot);
        painter.rotate(rotation * 180.0 / M_PI);
        painter.translate(-pivot);
    }
    drawContents(painter);
    if (hasFocus() && focusRingShown_) {
        painter.resetTransform();
        painter.setOpacity(1.0);
        drawFocusRing(painter);
    }
}

QPen View::focusRingPen() {
    return QPen(QColor(120, 190, 255), std::max(2.0, 1.5 * double(Screen::scale())));
}

void View::drawFocusRing(QPainter& painter) {
    // Inside the control's own rectangle, which is all a view may paint.
    const QPen pen = focusRingPen();
    const qreal width = pen.widthF();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring = QRectF(rect()).adjusted(width / 2, width / 2, -width / 2, -width / 2);
    const qreal radius = std::min(ring.width(), ring.height()) / 4;
    painter.drawRoundedRect(ring, radius, radius);
}

void View::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    focusRingShown_ = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                      reason == Qt::ShortcutFocusReason;
    update();
    QWidget::focusInEvent(event);
}

void View::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void View::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) update();
    QWidget::changeEvent(event);
}

bool View::handleTouch(TouchPhase phase, Point location) {
    return controller_ && controller_->handleTouch(phase, location);
}

void View::dispatchTouch(TouchPhase phase, QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && phase != TouchPhase::Moved) {
        event->ignore();
        return;
    }
    if (handleTouch(phase, toPoints(event->position()))) {
        event->accept();
    } else {
        event->ignore();
    }
}

void View::mousePressEvent(QMouseEvent* event) { dispatchTouch(TouchPhase::Began, event); }

void View::mouseMoveEvent(QMouseEvent* event) { dispatchTouch(TouchPhase::Moved, event); }

void View::mouseReleaseEvent(QMouseEvent* event) { dispatchTouch(TouchPhase::Ended, event); }

}  // namespace ui
