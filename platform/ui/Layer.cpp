#include "platform/ui/Layer.h"

#include <algorithm>

#include "platform/Log.h"
#include "platform/ui/View.h"

namespace ui {

namespace {
struct TransactionState {
    bool disableActions = false;
    double animationDuration = 0.25;
};
std::vector<TransactionState> gTransactions;

const std::string kAnimationPrefix = "layer.";
}  // namespace

void Transaction::begin() {
    gTransactions.push_back(gTransactions.empty() ? TransactionState{} : gTransactions.back());
}

void Transaction::commit() {
    if (!gTransactions.empty()) gTransactions.pop_back();
}

void Transaction::setDisableActions(bool disable) {
    if (!gTransactions.empty()) gTransactions.back().disableActions = disable;
}

bool Transaction::disableActions() {
    return gTransactions.empty() ? false : gTransactions.back().disableActions;
}

void Transaction::setAnimationDuration(double seconds) {
    if (!gTransactions.empty()) gTransactions.back().animationDuration = seconds;
}

double Transaction::animationDuration() {
    return gTransactions.empty() ? 0.25 : gTransactions.back().animationDuration;
}

void Layer::setAnchorPoint(Point anchor) {
    const Point keep = position();
    anchorPoint_ = anchor;
    setPosition(keep);
}

Point Layer::position() const {
    const Rect f = view_.frame();
    return {f.x() + anchorPoint_.x * f.width(), f.y() + anchorPoint_.y * f.height()};
}

void Layer::setPosition(Point p) {
    Rect f = view_.frame();
    f.origin = {p.x - anchorPoint_.x * f.width(), p.y - anchorPoint_.y * f.height()};
    if (!(f == view_.frame())) view_.setFrame(f);
}

void Layer::addAnimation(const BasicAnimation& animation, const std::string& key) {
    if (animation.keyPath != "transform.rotation.z" && animation.keyPath != "transform.rotation") {
        platform::log("Layer: unsupported animation key path " + animation.keyPath);
        return;
    }
    Animator& animator = Animator::shared();
    animator.begin(key, nullptr);
    animator.setDuration(animation.duration > 0 ? animation.duration
                                                : Transaction::animationDuration());
    animator.setCurve(animation.timingFunction);
    if (animation.didStop) {
        auto didStop = animation.didStop;
        animator.setDidStop(animation.delegate, [didStop](const std::string&, bool finished,
                                                          void*) { didStop(finished); });
    }
    QPointer<View> view(&view_);
    animator.add(
        this, kAnimationPrefix + key, {animation.fromValue, 0, 0, 0}, {animation.toValue, 0, 0, 0},
        [this, view](const AnimationValue& v) {
            rotation_ = v[0];
            if (view) view->update();
        },
        [this, view] {
            rotation_ = 0;
            if (view) view->update();
        });
    animator.commit();
}

void Layer::removeAnimation(const std::string& key) {
    Animator::shared().cancel(this, kAnimationPrefix + key);
}

void Layer::removeAllAnimations() { Animator::shared().cancelPrefix(this, kAnimationPrefix); }

bool Layer::hasAnimation(const std::string& key) const {
    return Animator::shared().isAnimating(this, kAnimationPrefix + key);
}

}  // namespace ui
