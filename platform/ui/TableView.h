#pragma once
// A plain one-section-or-more list of rows, 44 points high. The data source says how many
// sections and rows there are and makes each row's cell; cells scrolled out of view go back to
// a pool by reuse identifier, where dequeueReusableCell finds them. A tap on a row tells the
// delegate. reloadData asks the data source again. From the keyboard: Tab reaches the table,
// Up, Down, Page Up, Page Down, Home and End move a cursor row (ringed, kept in view), and
// Return or Space choose it as a tap would. Main thread only.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"

namespace ui {

struct IndexPath {
    int section = 0;
    int row = 0;
    bool operator==(const IndexPath&) const = default;
};

class TableView;

class TableViewCell : public View {
public:
    enum Style { Default = 0 };

    TableViewCell(Style style, std::string reuseIdentifier);

    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    Label& textLabel() { return *textLabel_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    // The row the keyboard is on, in a table that has the focus: drawn with the focus ring.
    bool hasKeyboardCursor() const { return keyed_; }
    void setKeyboardCursor(bool keyed);

protected:
    void layoutSubviews() override;
    void drawContents(QPainter& painter) override;

private:
    std::string reuseIdentifier_;
    Label* textLabel_;
    bool selected_ = false;
    bool keyed_ = false;
};

class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual int numberOfSectionsInTableView(TableView&) { return 1; }
    virtual int numberOfRowsInSection(TableView& table, int section) = 0;
    // Returns a cell from dequeueReusableCell or a new one; the table takes ownership.
    virtual TableViewCell* cellForRowAtIndexPath(TableView& table, IndexPath indexPath) = 0;
};

class TableViewDelegate {
public:
    virtual ~TableViewDelegate() = default;
    virtual void didSelectRowAtIndexPath(TableView& table, IndexPath indexPath) = 0;
};

class TableView : public ScrollView {
public:
    static constexpr float kRowHeight = 44;

    explicit TableView(Rect frame = {});
    ~TableView() override;

    // Not owned: the controller that owns the table is its data source and delegate.
    void setDataSource(TableViewDataSource* dataSource) { dataSource_ = dataSource; }
    void setDelegate(TableViewDelegate* delegate) { delegate_ = delegate; }

    void reloadData();
    // A cell from the reuse pool, or nullptr; the caller sets it up again.
    TableViewCell* dequeueReusableCell(const std::string& identifier);

    int numberOfRows() const { return static_cast<int>(rows_.size()); }
    // The visible cell of a row, or nullptr.
    TableViewCell* cellForRow(IndexPath indexPath) const;
    std::vector<TableViewCell*> visibleCells() const;
    Rect rectForRow(IndexPath indexPath) const;
    // Taps the row as a user would: highlight, then the delegate.
    void selectRow(IndexPath indexPath);
    void deselectRow(IndexPath indexPath);
    // The keyboard's row, -1 for none.
    int keyboardRow() const { return keyRow_; }

protected:
    bool handleTouch(TouchPhase phase, Point location) override;
    void wheelEvent(QWheelEvent* event) override;
    void layoutSubviews() override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    // The cursor row carries the ring, not the whole table.
    void drawFocusRing(QPainter&) override {}

private:
    void moveKeyboardRow(int row);
    void showKeyboardCursor();
    void layoutCells();
    void recycle(TableViewCell* cell);
    int rowIndexAt(Point contentLocation) const;

    TableViewDataSource* dataSource_ = nullptr;
    TableViewDelegate* delegate_ = nullptr;
    std::vector<IndexPath> rows_;                      // every row, in order
    std::map<int, TableViewCell*> visible_;            // by row index
    std::multimap<std::string, TableViewCell*> pool_;  // hidden, owned as subviews
    // The nodes of both maps, kept when an entry leaves and used again when one comes, so
    // that scrolling (cells moving from the view to the pool and back) allocates nothing.
    std::vector<std::map<int, TableViewCell*>::node_type> spareVisibleNodes_;
    std::vector<std::multimap<std::string, TableViewCell*>::node_type> sparePoolNodes_;
    void showCell(int row, TableViewCell* cell);
    std::optional<Point> touchStart_;
    bool dragged_ = false;
    int selected_ = -1;
    int keyRow_ = -1;
    bool cursorShown_ = false;  // the focus came from the keyboard
};

}  // namespace ui
