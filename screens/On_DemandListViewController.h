#pragma once
// The on-demand tab: one row per programme of the station's feed, inside a navigation
// controller. Each time it comes into view it rebuilds its lists through the catalogue
// (from the cached feed, or on first use from a download) and reloads the table. Choosing a
// row stores the programme's URL as the application's songURL, posts "SongChanged" (the live
// screen stops its stream) and pushes a new OnDemandPlayer with the row's title and author,
// in that order: the player reads songURL as its view loads during the push.
//
// Row r shows title r + 2 (the feed's two channel-level titles come first), plays URL r and
// names author r. The lists are positional and may be out of step; nothing here reads past the
// end of one: a row without its title shows the programme's file name, and a programme
// without an author gets an empty one.
//
// Main thread only, the catalogue's reload request included.

#include <QPointer>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "screens/StationAddresses.h"

class OnDemandCatalogue;

class On_DemandListViewController : public ui::ViewController,
                                    public ui::TableViewDataSource,
                                    public ui::TableViewDelegate {
public:
    static constexpr const char* CellIdentifier = "Cell";
    static constexpr const char* kRowFontName = "Arial Rounded MT Bold";
    static constexpr float kRowFontSize = 15.0f;

    explicit On_DemandListViewController(StationAddresses addresses);
    ~On_DemandListViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    int numberOfSectionsInTableView(ui::TableView& table) override;
    int numberOfRowsInSection(ui::TableView& table, int section) override;
    ui::TableViewCell* cellForRowAtIndexPath(ui::TableView& table,
                                             ui::IndexPath indexPath) override;
    void didSelectRowAtIndexPath(ui::TableView& table, ui::IndexPath indexPath) override;

    // Touches on the list end here; they never reach the tab bar.
    bool touchesBegan(ui::Point location) override;
    bool touchesMoved(ui::Point location) override;

    // What row `row` shows and hands to its player, within the lists' bounds.
    std::string titleForRow(int row) const;
    std::string artistForRow(int row) const;

    ui::TableView* tableView() const { return tableView_; }
    const std::vector<std::string>& titls() const;
    const std::vector<std::string>& urls() const;
    const std::vector<std::string>& artists() const;

protected:
    void loadView() override;

private:
    // titleForRow without a copy: the list's own string, or the file name made in a buffer
    // kept for it.
    std::string_view titleViewForRow(int row) const;
    mutable std::string fileNameTitle_;

    const StationAddresses addresses_;
    QPointer<ui::TableView> tableView_;
    std::unique_ptr<OnDemandCatalogue> catalogue_;
};
