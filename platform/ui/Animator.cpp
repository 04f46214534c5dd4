#include "platform/ui/Animator.h"

#include <algorithm>
#include <cmath>

namespace ui {

struct Animator::Group {
    std::string animationID;
    void* context = nullptr;
    double duration = 0.2;
    AnimationCurve curve = AnimationCurve::EaseInOut;
    bool hasDelegate = false;
    QPointer<QObject> delegate;
    std::function<void(const std::string&, bool, void*)> didStop;

    double start = 0;
    size_t liveTracks = 0;
    bool cutShort = false;
    bool started = false;
    std::shared_ptr<platform::Timer> endTimer;
};

Animator& Animator::shared() {
    static Animator animator;
    return animator;
}

float animationProgress(AnimationCurve curve, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    switch (curve) {
        case AnimationCurve::Linear: return t;
        case AnimationCurve::EaseIn: return t * t;
        case AnimationCurve::EaseOut: return 1 - (1 - t) * (1 - t);
        case AnimationCurve::EaseInOut: return t * t * (3 - 2 * t);
    }
    return t;
}

void Animator::ensureQueue() {
    platform::MainQueue* queue = &platform::MainQueue::main();
    // Timers of a queue that has been replaced will never fire again; start over on the new one.
    if (queue_ != queue) {
        reset();
        queue_ = queue;
    }
}

void Animator::reset() {
    if (frameTimer_) frameTimer_->invalidate();
    frameTimer_.reset();
    for (auto& track : tracks_) {
        if (track.group->endTimer) track.group->endTimer->invalidate();
    }
    for (auto& group : running_) {
        if (group->endTimer) group->endTimer->invalidate();
    }
    tracks_.clear();
    open_.clear();
    running_.clear();
    queue_ = nullptr;
    suspended_ = false;
}

void Animator::setSuspended(bool suspended) {
    if (suspended_ == suspended) return;
    suspended_ = suspended;
    if (suspended) {
        if (frameTimer_) frameTimer_->invalidate();
        frameTimer_.reset();
    } else if (queue_ && !tracks_.empty()) {
        startFrameTimer();
        step();
    }
}

void Animator::begin(std::string animationID, void* context) {
    ensureQueue();
    auto group = std::make_shared<Group>();
    group->animationID = std::move(animationID);
    group->context = context;
    open_.push_back(std::move(group));
}

Animator::Group* Animator::openGroup() { return open_.empty() ? nullptr : open_.back().get(); }

void Animator::setDuration(double seconds) {
    if (!open_.empty()) open_.back()->duration = std::max(0.0, seconds);
}

void Animator::setCurve(AnimationCurve curve) {
    if (!open_.empty()) open_.back()->curve = curve;
}

void Animator::setDidStop(QObject* delegate,
                          std::function<void(const std::string&, bool, void*)> didStop) {
    if (open_.empty()) return;
    open_.back()->hasDelegate = delegate != nullptr;
    open_.back()->delegate = delegate;
    open_.back()->didStop = std::move(didStop);
}

void Animator::commit() {
    if (open_.empty()) return;
    ensureQueue();
    std::shared_ptr<Group> group = std::move(open_.back());
    open_.pop_back();
    group->start = queue_->now();
    group->started = true;
    // Committed groups stay in running_ until they report, so the timer holds them weakly and
    // no group and timer keep each other alive.
    running_.push_back(group);
    std::weak_ptr<Group> weak = group;
    platform::TimerCallback onEnd = [this, weak](platform::Timer&) {
        if (auto g = weak.lock()) finishGroup(g);
    };
    group->endTimer = queue_->scheduleTimer(group->duration, false, std::move(onEnd));
    if (!tracks_.empty()) startFrameTimer();
    step();
}

void Animator::add(const void* target, const std::string& property, AnimationValue from,
                   AnimationValue to, AnimationApply apply, std::function<void()> clear) {
    if (open_.empty()) return;
    ensureQueue();
    // A new animation of the same property replaces the running one, which then reports as
    // not finished.
    for (size_t i = 0; i < tracks_.size(); ++i) {
        if (tracks_[i].target == target && tracks_[i].property == property) {
            removeTrackAt(i, false);
            break;
        }
    }
    std::shared_ptr<Group> group = open_.back();
    ++group->liveTracks;
    tracks_.push_back(Track{target, property, from, to, std::move(apply), std::move(clear), group});
    tracks_.back().apply(from);
}

void Animator::removeTrackAt(size_t index, bool clearTarget) {
    Track track = std::move(tracks_[index]);
    tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(index));
    if (clearTarget && track.clear) track.clear();
    std::shared_ptr<Group> group = track.group;
    group->cutShort = true;
    if (--group->liveTracks == 0 && group->started) {
        if (group->endTimer) group->endTimer->invalidate();
        // Reported later, on the main queue: the caller is in the middle of changing the view.
        queue_->post([this, group] { finishGroup(group); });
    }
    if (tracks_.empty() && frameTimer_) {
        frameTimer_->invalidate();
        frameTimer_.reset();
    }
}

void Animator::cancel(const void* target, const std::string& property) {
    for (size_t i = 0; i < tracks_.size(); ++i) {
        if (tracks_[i].target == target && tracks_[i].property == property) {
            removeTrackAt(i, true);
            return;
        }
    }
}

void Animator::cancelPrefix(const void* target, const std::string& prefix) {
    for (size_t i = tracks_.size(); i-- > 0;) {
        if (i < tracks_.size() && tracks_[i].target == target &&
            tracks_[i].property.compare(0, prefix.size(), prefix) == 0) {
            removeTrackAt(i, true);
        }
    }
}

void Animator::cancelTarget(const void* target) {
    for (size_t i = tracks_.size(); i-- > 0;) {
        if (tracks_[i].target != target) continue;
        std::shared_ptr<Group> group = tracks_[i].group;
        tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(i));
        if (--group->liveTracks == 0) {
            if (group->endTimer) group->endTimer->invalidate();
            std::erase(running_, group);
        }
    }
    if (tracks_.empty() && frameTimer_) {
        frameTimer_->invalidate();
        frameTimer_.reset();
    }
}

bool Animator::isAnimating(const void* target, const std::string& property) const {
    return std::any_of(tracks_.begin(), tracks_.end(), [&](const Track& t) {
        return t.target == target && t.property == property;
    });
}

void Animator::startFrameTimer() {
    if (suspended_ || (frameTimer_ && frameTimer_->isValid())) return;
    frameTimer_ = queue_->scheduleTimer(kFrameInterval, true, [this](platform::Timer&) { step(); });
}

void Animator::step() {
    if (!queue_) return;
    const double now = queue_->now();
    for (auto& track : tracks_) {
        const Group& g = *track.group;
        if (!g.started) continue;
        const float t = g.duration > 0 ? static_cast<float>((now - g.start) / g.duration) : 1.0f;
        const float p = animationProgress(g.curve, t);
        AnimationValue value;
        for (size_t k = 0; k < value.size(); ++k) {
            value[k] = track.from[k] + (track.to[k] - track.from[k]) * p;
        }
        track.apply(value);
    }
}

void Animator::finishGroup(const std::shared_ptr<Group>& group) {
    // Tracks still running at the end of the duration complete now and show their end value.
    for (size_t i = tracks_.size(); i-- > 0;) {
        if (tracks_[i].group != group) continue;
        Track track = std::move(tracks_[i]);
        tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(i));
        --group->liveTracks;
        if (track.clear) track.clear();
    }
    if (tracks_.empty() && frameTimer_) {
        frameTimer_->invalidate();
        frameTimer_.reset();
    }
    if (group->endTimer) {
        group->endTimer->invalidate();
        group->endTimer.reset();
    }
    std::erase(running_, group);
    if (!group->didStop) return;
    if (group->hasDelegate && !group->delegate) return;
    auto didStop = std::move(group->didStop);
    group->didStop = nullptr;
    didStop(group->animationID, !group->cutShort, group->context);
}

}  // namespace ui
