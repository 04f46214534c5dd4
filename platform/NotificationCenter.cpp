#include "platform/NotificationCenter.h"

#include <algorithm>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* object,
                                              NotificationCallback callback) {
    std::lock_guard lock(mutex_);
    const ObserverToken token = nextToken_++;
    observers_.push_back({token, std::move(name), object,
                          std::make_shared<NotificationCallback>(std::move(callback))});
    return token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [token](const Observer& o) { return o.token == token; });
}

bool NotificationCenter::isRegistered(ObserverToken token) const {
    std::lock_guard lock(mutex_);
    return std::any_of(observers_.begin(), observers_.end(),
                       [token](const Observer& o) { return o.token == token; });
}

void NotificationCenter::post(const std::string& name, const void* object) {
    // Deliver from a snapshot and outside the lock, so observers may add and remove freely.
    std::vector<std::pair<ObserverToken, std::shared_ptr<NotificationCallback>>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Observer& o : observers_) {
            if (o.name == name && (o.object == nullptr || o.object == object)) {
                targets.emplace_back(o.token, o.callback);
            }
        }
    }
    const Notification notification{name, object};
    for (auto& [token, callback] : targets) {
        if (isRegistered(token)) (*callback)(notification);
    }
}

size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(mutex_);
    return observers_.size();
}

}  // namespace platform
