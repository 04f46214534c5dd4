#pragma once
// Animations of view and layer properties, driven by MainQueue timers so that tests run them on
// virtual time. An animation interpolates a value of up to four floats from `from` to `to` over
// its group's duration and hands each step to the view as its presentation value; the view's
// model value is already the end value.
//
// A group is what one beginAnimations ... commitAnimations block (or one layer animation)
// makes. Its did-stop callback runs once, when its last animation ends: at the end of the
// duration with finished == true, or, when any of its animations was cut short (a new
// animation or a plain set of the same property, removal from the layer), with finished ==
// false. A finished group reports from its end timer; a cut-short one is posted to the main
// queue, never run inside the call that cut it short, as the platform does.
//
// Main thread only. A destroyed target must call cancelTarget, which drops its animations
// without any callback.

#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MainQueue.h"

namespace ui {

enum class AnimationCurve { EaseInOut = 0, EaseIn = 1, EaseOut = 2, Linear = 3 };

using AnimationValue = std::array<float, 4>;
using AnimationApply = std::function<void(const AnimationValue&)>;

class Animator {
public:
    struct Group;

    static Animator& shared();

    // Opens a group; animations added until commit belong to it. Groups nest.
    void begin(std::string animationID, void* context);
    Group* openGroup();  // the innermost open group, or nullptr outside a block
    void setDuration(double seconds);
    void setCurve(AnimationCurve curve);
    // `delegate` guards the callback: when it is gone, the callback is skipped.
    void setDidStop(
        QObject* delegate,
        std::function<void(const std::string& animationID, bool finished, void* context)> didStop);
    void commit();

    // Adds an animation of (target, property) to the open group. A running animation of the
    // same (target, property) is cut short. `apply` shows a presentation value; `clear`
    // returns the target to its model value.
    void add(const void* target, const std::string& property, AnimationValue from,
             AnimationValue to, AnimationApply apply, std::function<void()> clear);

    // Cuts the running animation of (target, property) short, if any; the target shows its
    // model value.
    void cancel(const void* target, const std::string& property);
    // Cuts short every animation whose property starts with `prefix`.
    void cancelPrefix(const void* target, const std::string& prefix);
    // The target is going away: its animations end without clearing and without callbacks.
    void cancelTarget(const void* target);

    bool isAnimating(const void* target, const std::string& property) const;
    size_t runningCount() const { return tracks_.size(); }

    // Forgets everything (a test that swaps the main queue starts from a clean animator).
    void reset();

    // Nobody sees the window (minimised, unmapped, hidden): running animations keep their
    // timing and still end on time, but no frame is stepped until it is seen again, which
    // steps them once to where they are by then.
    void setSuspended(bool suspended);
    bool isSuspended() const { return suspended_; }
    bool isStepping() const { return frameTimer_ != nullptr; }

    // The interval of the display refresh that steps running animations.
    static constexpr double kFrameInterval = 1.0 / 60.0;

private:
    struct Track {
        const void* target;
        std::string property;
        AnimationValue from;
        AnimationValue to;
        AnimationApply apply;
        std::function<void()> clear;
        std::shared_ptr<Group> group;
    };
    void ensureQueue();
    void startFrameTimer();
    void step();
    void finishGroup(const std::shared_ptr<Group>& group);
    void removeTrackAt(size_t index, bool clearTarget);

    std::vector<std::shared_ptr<Group>> open_;
    std::vector<Track> tracks_;
    std::vector<std::shared_ptr<Group>> running_;  // committed, not yet reported
    std::shared_ptr<platform::Timer> frameTimer_;
    platform::MainQueue* queue_ = nullptr;
    bool suspended_ = false;
};

// The curve's progress for a linear fraction t in [0, 1].
float animationProgress(AnimationCurve curve, float t);

}  // namespace ui
