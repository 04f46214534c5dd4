#include "platform/ui/TabBarController.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>

#include "platform/ui/Font.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"

namespace ui {

TabBar::TabBar(Rect frame) : View(frame) { setFocusPolicy(Qt::TabFocus); }

void TabBar::setItems(std::vector<TabBarItem> items) {
    items_ = std::move(items);
    update();
}

void TabBar::setSelectedIndex(size_t index) {
    selected_ = index;
    update();
    QAccessibleEvent changed(this, QAccessible::ValueChanged);
    QAccessible::updateAccessibility(&changed);
}

void TabBar::keyPressEvent(QKeyEvent* event) {
    const bool left = event->key() == Qt::Key_Left;
    if (event->modifiers() != Qt::NoModifier || (!left && event->key() != Qt::Key_Right)) {
        View::keyPressEvent(event);
        return;
    }
    const size_t next =
        left ? (selected_ == 0 ? 0 : selected_ - 1) : std::min(selected_ + 1, items_.size() - 1);
    if (next != selected_ && onSelect_) onSelect_(next);
    event->accept();
}

void TabBar::drawFocusRing(QPainter& painter) {
    // Around the chosen item, which the arrows move.
    if (selected_ >= items_.size()) return View::drawFocusRing(painter);
    const QPen pen = focusRingPen();
    const qreal width = pen.widthF();
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF ring = toPixels(itemFrame(selected_)).adjusted(width, width, -width, -width);
    painter.drawRoundedRect(ring, 4 * Screen::scale(), 4 * Screen::scale());
}

Rect TabBar::itemFrame(size_t index) const {
    const float width = items_.empty() ? 0 : bounds().width() / static_cast<float>(items_.size());
    return {width * static_cast<float>(index), 0, width, bounds().height()};
}

bool TabBar::handleTouch(TouchPhase phase, Point location) {
    if (phase == TouchPhase::Began) {
        for (size_t i = 0; i < items_.size(); ++i) {
            if (itemFrame(i).contains(location)) {
                if (onSelect_) onSelect_(i);
                break;
            }
        }
    }
    return true;
}

void TabBar::drawContents(QPainter& painter) {
    const QRectF area = rect();
    QLinearGradient shade(area.topLeft(), area.bottomLeft());
    shade.setColorAt(0, QColor(48, 48, 52));
    shade.setColorAt(0.5, QColor(22, 22, 24));
    shade.setColorAt(1, QColor(8, 8, 8));
    painter.fillRect(area, shade);
    painter.fillRect(QRectF(area.left(), area.top(), area.width(), 1), QColor(80, 80, 86));
    for (size_t i = 0; i < items_.size(); ++i) {
        const QRectF cell = toPixels(itemFrame(i));
        const bool selected = i == selected_;
        if (selected) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 255, 255, 28));
            painter.drawRoundedRect(cell.adjusted(3 * Screen::scale(), 2 * Screen::scale(),
                                                  -3 * Screen::scale(), -2 * Screen::scale()),
                                    4 * Screen::scale(), 4 * Screen::scale());
        }
        const TabBarItem& item = items_[i];
        if (ImageRef image = item.imageName.empty() ? nullptr : Image::named(item.imageName)) {
            const float side = 30 * Screen::scale();
            const QRectF icon(cell.center().x() - side / 2, cell.top() + 3 * Screen::scale(), side,
                              side);
            painter.setOpacity(selected ? 1.0 : 0.55);
            painter.drawPixmap(icon, image->pixmap(), QRectF(image->pixmap().rect()));
            painter.setOpacity(1.0);
        }
        QFont font = Font::boldSystemFont(10).toQFont();
        painter.setFont(font);
        painter.setPen(selected ? QColor(255, 255, 255) : QColor(150, 150, 156));
        const QRectF titleArea(cell.left(), cell.bottom() - 15 * Screen::scale(), cell.width(),
                               13 * Screen::scale());
        painter.drawText(titleArea, Qt::AlignHCenter | Qt::AlignVCenter,
                         QString::fromStdString(item.title));
    }
}

TabBarController::TabBarController() = default;

TabBarController::~TabBarController() {
    // The children's views live inside this controller's view; let each child delete its own
    // view first so that no controller is left pointing at a deleted view.
    controllers_.clear();
}

void TabBarController::loadView() {
    auto* root = new View(Rect(0, 0, Screen::kWidth, Screen::kHeight));
    root->setBackgroundColor(Color::black());
    content_ = new View(Rect(0, 0, Screen::kWidth, Screen::kHeight - kTabBarHeight));
    tabBar_ = new TabBar(Rect(0, Screen::kHeight - kTabBarHeight, Screen::kWidth, kTabBarHeight));
    root->addSubview(content_);
    root->addSubview(tabBar_);
    tabBar_->setOnSelect([this](size_t index) { setSelectedIndex(index); });
    setView(root);
}

TabBar& TabBarController::tabBar() {
    view();
    return *tabBar_;
}

View& TabBarController::contentView() {
    view();
    return *content_;
}

void TabBarController::setViewControllers(
    std::vector<std::unique_ptr<ViewController>> controllers) {
    if (isAppearing()) {
        if (auto* old = selectedViewController()) old->beginAppearanceTransition(false, false);
    }
    if (auto* old = selectedViewController(); old && old->isViewLoaded()) {
        old->viewIfLoaded()->removeFromSuperview();
    }
    controllers_ = std::move(controllers);
    selected_ = 0;
    std::vector<TabBarItem> items;
    for (auto& child : controllers_) {
        child->setParentViewController(this);
        TabBarItem item = child->tabBarItem();
        if (item.title.empty()) item.title = child->title();
        items.push_back(item);
    }
    tabBar().setItems(std::move(items));
    tabBar().setSelectedIndex(selected_);
    if (isAppearing()) {
        if (auto* now = selectedViewController()) now->beginAppearanceTransition(true, false);
    }
    showSelected();
    if (isAppearing()) {
        if (auto* now = selectedViewController()) now->endAppearanceTransition();
    }
}

ViewController* TabBarController::viewControllerAt(size_t index) const {
    return index < controllers_.size() ? controllers_[index].get() : nullptr;
}

ViewController* TabBarController::selectedViewController() const {
    return viewControllerAt(selected_);
}

void TabBarController::showSelected() {
    ViewController* child = selectedViewController();
    if (!child) return;
    View* childView = child->view();
    const Rect area = contentView().bounds();
    childView->setFrame(Rect(0, 0, area.width(), area.height()));
    contentView().addSubview(childView);
}

void TabBarController::setSelectedIndex(size_t index) {
    if (index >= controllers_.size() || index == selected_) return;
    ViewController* old = selectedViewController();
    ViewController* now = controllers_[index].get();
    const bool visible = isAppearing();
    if (visible) {
        old->beginAppearanceTransition(false, false);
        now->beginAppearanceTransition(true, false);
    }
    if (old->isViewLoaded()) old->viewIfLoaded()->removeFromSuperview();
    selected_ = index;
    tabBar().setSelectedIndex(index);
    showSelected();
    if (visible) {
        old->endAppearanceTransition();
        now->endAppearanceTransition();
    }
}

void TabBarController::forwardAppearance(bool appearing, bool animated, bool begin) {
    ViewController* child = selectedViewController();
    if (!child) return;
    if (begin) {
        if (appearing) showSelected();
        child->beginAppearanceTransition(appearing, animated);
    } else {
        child->endAppearanceTransition();
    }
}

}  // namespace ui
