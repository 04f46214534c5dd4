#pragma once
// The spinning activity indicator. Styles as the original numbers them: 0 large white,
// 1 white, 2 gray (small). Hidden while stopped unless told otherwise; spins on a MainQueue
// timer only while animating. Main thread only.

#include <memory>

#include "platform/MainQueue.h"
#include "platform/ui/View.h"

namespace ui {

class ActivityIndicatorView : public View {
public:
    enum Style { WhiteLarge = 0, White = 1, Gray = 2 };

    explicit ActivityIndicatorView(int style = Gray);
    ~ActivityIndicatorView() override;

    int style() const { return style_; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return timer_ != nullptr; }
    bool hidesWhenStopped() const { return hidesWhenStopped_; }
    void setHidesWhenStopped(bool hides);

protected:
    void drawContents(QPainter& painter) override;

private:
    int style_;
    bool hidesWhenStopped_ = true;
    int phase_ = 0;
    std::shared_ptr<platform::Timer> timer_;
};

}  // namespace ui
