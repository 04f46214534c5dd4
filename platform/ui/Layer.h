#pragma once
// The part of a view's layer the screens use: anchor point, position, and explicit animations
// of the z rotation ("transform.rotation.z"), which the loading button spins with. An explicit
// animation changes only what is drawn; when it ends the layer shows its model value again.
// Main thread only.

#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Animator.h"
#include "platform/ui/Geometry.h"

namespace ui {

class View;

struct BasicAnimation {
    std::string keyPath;  // "transform.rotation.z" (or "transform.rotation")
    float fromValue = 0;
    float toValue = 0;
    double duration = 0;  // 0: the enclosing transaction's animation duration
    AnimationCurve timingFunction = AnimationCurve::Linear;
    // Called once when the animation stops; `delegate` guards it.
    QObject* delegate = nullptr;
    std::function<void(bool finished)> didStop;
};

// Transactions group layer changes. Only the two settings the screens use are kept: whether
// implicit actions are disabled and the duration given to animations without their own.
class Transaction {
public:
    static void begin();
    static void commit();
    static void setDisableActions(bool disable);
    static bool disableActions();
    static void setAnimationDuration(double seconds);
    static double animationDuration();
};

class Layer {
public:
    explicit Layer(View& view) : view_(view) {}

    Point anchorPoint() const { return anchorPoint_; }
    // Keeps the position; the view's frame moves so that the anchor stays where it was.
    void setAnchorPoint(Point anchor);
    // The anchor point in the superview's coordinates; setting it moves the view.
    Point position() const;
    void setPosition(Point position);

    // The rotation drawn now, in radians (the model rotation is always 0).
    float presentationRotation() const { return rotation_; }

    void addAnimation(const BasicAnimation& animation, const std::string& key);
    void removeAnimation(const std::string& key);
    void removeAllAnimations();
    bool hasAnimation(const std::string& key) const;

private:
    View& view_;
    Point anchorPoint_{0.5f, 0.5f};
    float rotation_ = 0;
};

}  // namespace ui
