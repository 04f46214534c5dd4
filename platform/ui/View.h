#pragma once
// The base of every screen element: a Qt widget placed by a frame in points of its superview.
// It carries the properties the screens use (frame, centre, alpha, hidden, background colour,
// subviews, user interaction) and the block animations of frame, alpha and bounds origin.
//
// Ownership: a view added as a subview is owned by its superview (Qt parenting) and deleted
// with it; removeFromSuperview hands it back to whoever keeps a pointer (a view controller for
// its root view). Main thread only.
//
// Touches: a press that a view does not consume goes to its view controller (when it is one's
// root view) and then up to the superview, as on the original platform. Hidden views, views
// with user interaction off and views with alpha below 0.01 are not touched at all.

#include <QPen>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Animator.h"
#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

class Layer;
class ViewController;

enum class TouchPhase { Began, Moved, Ended };

class View : public QWidget {
public:
    explicit View(Rect frame = {});
    ~View() override;
    View(const View&) = delete;
    View& operator=(const View&) = delete;

    // Geometry in points, in the superview's coordinates.
    Rect frame() const { return frame_; }
    virtual void setFrame(Rect frame);
    Point center() const { return frame_.center(); }
    void setCenter(Point center);
    // Own coordinates: origin is the bounds origin (a scroll view's content offset).
    Rect bounds() const { return {boundsOrigin_, frame_.size}; }

    float alpha() const { return alpha_; }
    void setAlpha(float alpha);
    // Hidden and enabled are Qt's own (setHidden, isHidden, setEnabled, isEnabled), so that
    // focus and accessibility see what the screen shows. A view outside any hierarchy is not
    // on screen: showing it only records the setting (it must not open as a window of its
    // own), which it keeps when it is added to a superview or moved to another.
    void setVisible(bool visible) override;

    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color color);

    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled);

    // Adds on top of the existing subviews; a view already elsewhere moves here.
    void addSubview(View* view);
    void insertSubviewBelow(View* view, View* sibling);
    void bringSubviewToFront(View* view);
    void removeFromSuperview();
    View* superview() const;
    std::vector<View*> subviews() const;  // back to front
    bool isDescendantOf(const View* ancestor) const;

    virtual Size sizeThatFits(Size size) const;
    void sizeToFit();

    Layer& layer();

    // The values on screen now; they differ from the model values while an animation runs.
    Rect presentationFrame() const { return presentationFrame_.value_or(frame_); }
    float presentationAlpha() const { return presentationAlpha_.value_or(alpha_); }
    Point presentationBoundsOrigin() const {
        return presentationBoundsOrigin_.value_or(boundsOrigin_);
    }

    // The controller whose root view this is, if any.
    ViewController* viewController() const { return controller_; }
    void setViewController(ViewController* controller) { controller_ = controller; }

    // Block animations: frame, centre, alpha and bounds origin changes between begin and
    // commit animate from their current values over the block's duration.
    static void beginAnimations(const std::string& animationID, void* context = nullptr);
    static void setAnimationDuration(double seconds);
    static void setAnimationCurve(AnimationCurve curve);
    // The did-stop callback runs when the block's animations stop; nothing runs once the
    // delegate is gone.
    static void setAnimationDelegate(
        QObject* delegate,
        std::function<void(const std::string& animationID, bool finished, void* context)> didStop);
    static void commitAnimations();

    // A subview whose superview draws what it shows keeps its frame, text and visibility for
    // the layout, but paints nothing itself.
    void setDrawnBySuperview(bool drawn) { drawnBySuperview_ = drawn; }

protected:
    void setBoundsOrigin(Point origin);
    // Set by the application window: the view is a top-level window of a fixed size.
    void setRootWindow(bool root) { isRootWindow_ = root; }

    // Draws the view's own content with the painter in pixels, already rotated by the layer's
    // presentation rotation about its anchor point. toPixels maps own points to those pixels.
    virtual void drawContents(QPainter& painter);
    QRectF toPixels(Rect rectInPoints) const;
    Point toPoints(QPointF pixels) const;

    // Touch handling for plain views: return true to consume the touch. The default gives
    // the touch to the view's controller.
    virtual bool handleTouch(TouchPhase phase, Point location);

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A control reached with Tab draws a ring while it has the focus; one that got it another
    // way (the window's activation) does not, as on the desktop.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    virtual void drawFocusRing(QPainter& painter);
    // Light enough to read on the night-blue screens, wide enough at every scale.
    static QPen focusRingPen();
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // Subclasses that lay out children call this when their size changes.
    virtual void layoutSubviews() {}
    // The pixels per point changed: every view of the tree is placed again, and a view that
    // keeps anything in pixels (a text field's editor) places it again here.
    virtual void scaleChanged() {}
    void placeTreeForNewScale();
    // The bounds origin moved (or its animation stepped): the subviews follow it. A view that
    // draws its subviews' content itself only repaints.
    virtual void placeSubviews();

private:
    void applyGeometry();
    void applyAlpha();
    void applyTouchability();
    void applyVisibility();
    void setParentKeepingVisibility(QWidget* parent);
    void dispatchTouch(TouchPhase phase, QMouseEvent* event);

    Rect frame_;
    Point boundsOrigin_;
    float alpha_ = 1;
    Color backgroundColor_ = Color::clear();
    bool userInteractionEnabled_ = true;
    // The hidden setting, kept across a change of parent (which Qt hides the widget for).
    bool hidden_ = false;
    bool isRootWindow_ = false;
    bool focusRingShown_ = false;
    bool drawnBySuperview_ = false;
    std::optional<Rect> presentationFrame_;
    std::optional<float> presentationAlpha_;
    std::optional<Point> presentationBoundsOrigin_;
    std::unique_ptr<Layer> layer_;
    ViewController* controller_ = nullptr;
};

}  // namespace ui
