#pragma once
// Named notifications delivered synchronously to observers, optionally filtered by the object
// that posts them. Any thread may observe, remove and post; observers run on the posting
// thread. Adding or removing observers from inside a delivery is safe: an observer removed
// during a post is not called afterwards, one added during a post first hears the next post.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct Notification {
    std::string name;
    const void* object = nullptr;
};

using ObserverToken = uint64_t;
using NotificationCallback = std::function<void(const Notification&)>;

class NotificationCenter {
public:
    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // `object` nullptr observes the name from every poster.
    ObserverToken addObserver(std::string name, const void* object, NotificationCallback callback);
    void removeObserver(ObserverToken token);

    void post(const std::string& name, const void* object = nullptr);

    size_t observerCount() const;

private:
    struct Observer {
        ObserverToken token;
        std::string name;
        const void* object;
        std::shared_ptr<NotificationCallback> callback;
    };
    bool isRegistered(ObserverToken token) const;

    mutable std::recursive_mutex mutex_;  // never held while an observer runs
    std::vector<Observer> observers_;
    ObserverToken nextToken_ = 1;
};

}  // namespace platform
