#include "platform/ui/TableView.h"

#include <QAccessible>
#include <QFocusEvent>
#include <QKeyEvent>

#include <QPainter>
#include <QWheelEvent>
#include <cmath>

namespace ui {

namespace {
// A touch that moves further than this is a scroll, not a tap.
constexpr float kTapSlop = 6;
}  // namespace

TableViewCell::TableViewCell(Style, std::string reuseIdentifier)
    : View(Rect(0, 0, 320, TableView::kRowHeight)),
      reuseIdentifier_(std::move(reuseIdentifier)),
      textLabel_(new Label()) {
    setBackgroundColor(Color::white());
    textLabel_->setFont(Font::boldSystemFont(20));
    addSubview(textLabel_);
    layoutSubviews();
}

void TableViewCell::setSelected(bool selected) {
    selected_ = selected;
    textLabel_->setTextColor(selected ? Color::white() : Color::black());
    update();
}

void TableViewCell::layoutSubviews() {
    textLabel_->setFrame(Rect(10, 0, std::max(0.0f, frame().width() - 20), frame().height() - 1));
}

void TableViewCell::setKeyboardCursor(bool keyed) {
    if (keyed_ == keyed) return;
    keyed_ = keyed;
    update();
}

void TableViewCell::drawContents(QPainter& painter) {
    if (selected_) painter.fillRect(rect(), QColor(22, 110, 230));
    painter.fillRect(QRectF(0, height() - 1, width(), 1), QColor(224, 224, 224));
    if (keyed_) {
        // On white, the ring in the focus colour's darker shade.
        QPen pen = focusRingPen();
        pen.setColor(QColor(30, 110, 220));
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const qreal inset = pen.widthF() / 2;
        painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));
    }
}

TableView::TableView(Rect frame) : ScrollView(frame) {
    setBackgroundColor(Color::white());
    setFocusPolicy(Qt::TabFocus);
}

TableView::~TableView() = default;

Rect TableView::rectForRow(IndexPath indexPath) const {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i] == indexPath) {
            return {0, static_cast<float>(i) * kRowHeight, frame().width(), kRowHeight};
        }
    }
    return {};
}

void TableView::reloadData() {
    for (auto& [row, cell] : visible_) recycle(cell);
    visible_.clear();
    rows_.clear();
    selected_ = -1;
    keyRow_ = -1;
    if (dataSource_) {
        const int sections = dataSource_->numberOfSectionsInTableView(*this);
        for (int s = 0; s < sections; ++s) {
            const int count = dataSource_->numberOfRowsInSection(*this, s);
            for (int r = 0; r < count; ++r) rows_.push_back({s, r});
        }
    }
    setContentSize({frame().width(), static_cast<float>(rows_.size()) * kRowHeight});
    setContentOffset(clampedOffset(contentOffset()));
    layoutCells();
}

TableViewCell* TableView::dequeueReusableCell(const std::string& identifier) {
    auto it = pool_.find(identifier);
    if (it == pool_.end()) return nullptr;
    TableViewCell* cell = it->second;
    sparePoolNodes_.push_back(pool_.extract(it));
    cell->setSelected(false);
    return cell;
}

void TableView::recycle(TableViewCell* cell) {
    cell->setHidden(true);
    if (sparePoolNodes_.empty()) {
        pool_.emplace(cell->reuseIdentifier(), cell);
        return;
    }
    auto node = std::move(sparePoolNodes_.back());
    sparePoolNodes_.pop_back();
    node.key() = cell->reuseIdentifier();
    node.mapped() = cell;
    pool_.insert(std::move(node));
}

void TableView::showCell(int row, TableViewCell* cell) {
    if (spareVisibleNodes_.empty()) {
        visible_[row] = cell;
        return;
    }
    auto node = std::move(spareVisibleNodes_.back());
    spareVisibleNodes_.pop_back();
    node.key() = row;
    node.mapped() = cell;
    visible_.insert(std::move(node));
}

TableViewCell* TableView::cellForRow(IndexPath indexPath) const {
    for (auto& [row, cell] : visible_) {
        if (rows_[static_cast<size_t>(row)] == indexPath) return cell;
    }
    return nullptr;
}

std::vector<TableViewCell*> TableView::visibleCells() const {
    std::vector<TableViewCell*> cells;
    for (auto& [row, cell] : visible_) cells.push_back(cell);
    return cells;
}

void TableView::layoutSubviews() { reloadData(); }

void TableView::layoutCells() {
    if (!dataSource_) return;
    const float top = contentOffset().y;
    const int first = std::max(0, static_cast<int>(std::floor(top / kRowHeight)));
    const int last = std::min(static_cast<int>(rows_.size()) - 1,
                              static_cast<int>(std::floor((top + frame().height()) / kRowHeight)));
    // Rows that left the view go back to the pool before new ones ask for cells.
    for (auto it = visible_.begin(); it != visible_.end();) {
        if (it->first < first || it->first > last) {
            recycle(it->second);
            const auto next = std::next(it);
            spareVisibleNodes_.push_back(visible_.extract(it));
            it = next;
        } else {
            ++it;
        }
    }
    for (int row = first; row <= last; ++row) {
        if (visible_.count(row)) continue;
        TableViewCell* cell =
            dataSource_->cellForRowAtIndexPath(*this, rows_[static_cast<size_t>(row)]);
        if (!cell) continue;
        cell->setFrame(Rect(0, static_cast<float>(row) * kRowHeight, frame().width(), kRowHeight));
        cell->setSelected(row == selected_);
        cell->setKeyboardCursor(cursorShown_ && row == keyRow_);
        // A cell from the pool is one already; rows never overlap, so none needs raising.
        if (cell->superview() != this) addSubview(cell);
        cell->setHidden(false);
        showCell(row, cell);
    }
}

int TableView::rowIndexAt(Point content) const {
    if (content.y < 0) return -1;
    const int row = static_cast<int>(std::floor(content.y / kRowHeight));
    return row < static_cast<int>(rows_.size()) ? row : -1;
}

void TableView::selectRow(IndexPath indexPath) {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!(rows_[i] == indexPath)) continue;
        selected_ = static_cast<int>(i);
        if (auto it = visible_.find(selected_); it != visible_.end()) it->second->setSelected(true);
        if (delegate_) delegate_->didSelectRowAtIndexPath(*this, indexPath);
        return;
    }
}

void TableView::deselectRow(IndexPath indexPath) {
    if (TableViewCell* cell = cellForRow(indexPath)) cell->setSelected(false);
    selected_ = -1;
}

bool TableView::handleTouch(TouchPhase phase, Point location) {
    const Point o = contentOffset();
    const Point inView{location.x - o.x, location.y - o.y};
    ScrollView::handleTouch(phase, location);
    switch (phase) {
        case TouchPhase::Began:
            touchStart_ = inView;
            dragged_ = false;
            break;
        case TouchPhase::Moved:
            if (touchStart_ &&
                std::hypot(inView.x - touchStart_->x, inView.y - touchStart_->y) > kTapSlop) {
                dragged_ = true;
            }
            layoutCells();
            break;
        case TouchPhase::Ended:
            if (touchStart_ && !dragged_) {
                const int row = rowIndexAt({inView.x + o.x, inView.y + o.y});
                if (row >= 0) selectRow(rows_[static_cast<size_t>(row)]);
            }
            touchStart_.reset();
            break;
    }
    return true;
}

void TableView::keyPressEvent(QKeyEvent* event) {
    const int count = static_cast<int>(rows_.size());
    const int page = std::max(1, static_cast<int>(frame().height() / kRowHeight) - 1);
    if (count == 0 || event->modifiers() != Qt::NoModifier) return ScrollView::keyPressEvent(event);
    const int from = keyRow_ < 0 ? -1 : keyRow_;
    switch (event->key()) {
        case Qt::Key_Down: moveKeyboardRow(from + 1); break;
        case Qt::Key_Up: moveKeyboardRow(from < 0 ? 0 : from - 1); break;
        case Qt::Key_PageDown: moveKeyboardRow(from + page); break;
        case Qt::Key_PageUp: moveKeyboardRow(from - page); break;
        case Qt::Key_Home: moveKeyboardRow(0); break;
        case Qt::Key_End: moveKeyboardRow(count - 1); break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (keyRow_ >= 0 && !event->isAutoRepeat())
                selectRow(rows_[static_cast<size_t>(keyRow_)]);
            break;
        default: return ScrollView::keyPressEvent(event);
    }
    event->accept();
}

void TableView::moveKeyboardRow(int row) {
    keyRow_ = std::clamp(row, 0, static_cast<int>(rows_.size()) - 1);
    cursorShown_ = true;
    // Keep the row in view.
    const float top = static_cast<float>(keyRow_) * kRowHeight;
    Point offset = contentOffset();
    if (top < offset.y) offset.y = top;
    if (top + kRowHeight > offset.y + frame().height())
        offset.y = top + kRowHeight - frame().height();
    setContentOffset(clampedOffset(offset));
    layoutCells();
    showKeyboardCursor();
    QAccessibleEvent changed(this, QAccessible::ValueChanged);
    QAccessible::updateAccessibility(&changed);
}

void TableView::showKeyboardCursor() {
    for (auto& [row, cell] : visible_)
        cell->setKeyboardCursor(cursorShown_ && hasFocus() && row == keyRow_);
}

void TableView::focusInEvent(QFocusEvent* event) {
    const Qt::FocusReason reason = event->reason();
    cursorShown_ = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
    // Tab lands on the first row, or on the one chosen last.
    if (cursorShown_ && keyRow_ < 0 && !rows_.empty()) keyRow_ = std::max(0, selected_);
    showKeyboardCursor();
    ScrollView::focusInEvent(event);
}

void TableView::focusOutEvent(QFocusEvent* event) {
    showKeyboardCursor();
    ScrollView::focusOutEvent(event);
}

void TableView::wheelEvent(QWheelEvent* event) {
    ScrollView::wheelEvent(event);
    layoutCells();
}

}  // namespace ui
