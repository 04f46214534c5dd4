#include "platform/MainQueue.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace platform {

namespace {
std::mutex gMainMutex;
std::shared_ptr<MainQueue> gMain;
}  // namespace

MainQueue& MainQueue::main() {
    std::lock_guard lock(gMainMutex);
    if (!gMain) {
        std::fputs("MainQueue::main() called before a main queue was installed\n", stderr);
        std::abort();
    }
    return *gMain;
}

bool MainQueue::hasMain() {
    std::lock_guard lock(gMainMutex);
    return gMain != nullptr;
}

void MainQueue::setMain(std::shared_ptr<MainQueue> queue) {
    std::lock_guard lock(gMainMutex);
    gMain = std::move(queue);
}

void MainQueue::runOnMain(std::function<void()> task) {
    MainQueue& queue = main();
    if (queue.isMainThread()) {
        task();
    } else {
        queue.post(std::move(task));
    }
}

}  // namespace platform
