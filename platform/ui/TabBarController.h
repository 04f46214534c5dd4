#pragma once
// The tab bar controller: a content area over a tab bar 49 points high along the bottom edge
// of the 320 x 480 screen. It owns its child controllers; the selected child's view fills the
// content area and gets the appear and disappear callbacks when tabs change.
// Main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"

namespace ui {

class TabBar : public View {
public:
    explicit TabBar(Rect frame);

    void setItems(std::vector<TabBarItem> items);
    const std::vector<TabBarItem>& items() const { return items_; }
    size_t selectedIndex() const { return selected_; }
    void setSelectedIndex(size_t index);
    // Called when the user chooses an item.
    void setOnSelect(std::function<void(size_t)> onSelect) { onSelect_ = std::move(onSelect); }
    // The frame of item `index`, in the bar's coordinates.
    Rect itemFrame(size_t index) const;

protected:
    void drawContents(QPainter& painter) override;
    bool handleTouch(TouchPhase phase, Point location) override;
    // Tab reaches the bar; Left and Right choose the neighbouring tab, as a tap on it would.
    void keyPressEvent(QKeyEvent* event) override;
    void drawFocusRing(QPainter& painter) override;

private:
    std::vector<TabBarItem> items_;
    size_t selected_ = 0;
    std::function<void(size_t)> onSelect_;
};

class TabBarController : public ViewController {
public:
    static constexpr float kTabBarHeight = 49;

    TabBarController();
    ~TabBarController() override;

    void setViewControllers(std::vector<std::unique_ptr<ViewController>> controllers);
    size_t count() const { return controllers_.size(); }
    ViewController* viewControllerAt(size_t index) const;
    ViewController* selectedViewController() const;
    size_t selectedIndex() const { return selected_; }
    void setSelectedIndex(size_t index);

    TabBar& tabBar();
    View& contentView();

protected:
    void loadView() override;
    void forwardAppearance(bool appearing, bool animated, bool begin) override;

private:
    void showSelected();

    std::vector<std::unique_ptr<ViewController>> controllers_;
    size_t selected_ = 0;
    TabBar* tabBar_ = nullptr;
    View* content_ = nullptr;
};

}  // namespace ui
