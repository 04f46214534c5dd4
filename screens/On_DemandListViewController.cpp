#include "screens/On_DemandListViewController.h"

#include "feeds/OnDemandCatalogue.h"
#include "platform/NotificationCenter.h"
#include "platform/URLPath.h"
#include "platform/ui/NavigationController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/ScreenSupport.h"

On_DemandListViewController::On_DemandListViewController(StationAddresses addresses)
    : addresses_(std::move(addresses)) {
    setTitle("On Demand");
    tabBarItem() = {"On Demand", "tab_ondemand.png"};
    // The lists start empty; the table is asked to reload each time the catalogue replaces
    // them, also from a background refresh handed over on the main thread.
    catalogue_ = std::make_unique<OnDemandCatalogue>(addresses_.feedURL, [this] {
        if (tableView_) tableView_->reloadData();
    });
}

On_DemandListViewController::~On_DemandListViewController() = default;

void On_DemandListViewController::loadView() {
    auto* root = new ui::View(ui::Rect(0, 0, 320, 387));
    root->setBackgroundColor(ui::Color::white());
    tableView_ = new ui::TableView(ui::Rect(0, 0, 320, 387));
    tableView_->setDataSource(this);
    tableView_->setDelegate(this);
    root->addSubview(tableView_);
    setView(root);
}

void On_DemandListViewController::viewDidLoad() {
    tableView_->setBackgroundColor(ui::Color::clear());
}

void On_DemandListViewController::viewWillAppear(bool) {
    // The player hides the bar while it shows; the list has none of its own controls.
    if (ui::NavigationController* navigation = navigationController()) {
        navigation->setNavigationBarHidden(false);
    }
    catalogue_->getLocaXML();
}

const std::vector<std::string>& On_DemandListViewController::titls() const {
    return catalogue_->titls();
}
const std::vector<std::string>& On_DemandListViewController::urls() const {
    return catalogue_->urls();
}
const std::vector<std::string>& On_DemandListViewController::artists() const {
    return catalogue_->artists();
}

int On_DemandListViewController::numberOfSectionsInTableView(ui::TableView&) { return 1; }

int On_DemandListViewController::numberOfRowsInSection(ui::TableView&, int) {
    return static_cast<int>(urls().size());
}

std::string On_DemandListViewController::titleForRow(int row) const {
    return std::string(titleViewForRow(row));
}

std::string_view On_DemandListViewController::titleViewForRow(int row) const {
    if (row < 0) return {};
    const auto index = static_cast<size_t>(row) + 2;
    if (index < titls().size()) return titls()[index];
    const auto urlIndex = static_cast<size_t>(row);
    if (urlIndex >= urls().size()) return {};
    fileNameTitle_ = platform::lastPathComponentOfURL(urls()[urlIndex]);
    return fileNameTitle_;
}

std::string On_DemandListViewController::artistForRow(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= artists().size()) return {};
    return artists()[static_cast<size_t>(row)];
}

ui::TableViewCell* On_DemandListViewController::cellForRowAtIndexPath(ui::TableView& table,
                                                                      ui::IndexPath indexPath) {
    ui::TableViewCell* cell = table.dequeueReusableCell(CellIdentifier);
    if (!cell) cell = new ui::TableViewCell(ui::TableViewCell::Default, CellIdentifier);
    // Set on every call: a reused cell may come from elsewhere with another font. Made once,
    // and the text kept in the label's storage: scrolling allocates nothing per row.
    static const ui::Font rowFont = ui::Font::named(kRowFontName, kRowFontSize);
    cell->textLabel().setFont(rowFont);
    cell->textLabel().assignText(titleViewForRow(indexPath.row));
    return cell;
}

void On_DemandListViewController::didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath indexPath) {
    const int row = indexPath.row;
    if (row < 0 || static_cast<size_t>(row) >= urls().size()) return;
    // The URL first, then the news: the live screen stops, and the player reads it.
    screens::setCurrentSongURL(addresses_, urls()[static_cast<size_t>(row)]);
    platform::NotificationCenter::defaultCenter().post("SongChanged", nullptr);

    // A new player for every choice; the stack owns it from now on.
    auto player = std::make_unique<OnDemandPlayer>(addresses_);
    player->setSongTitle(titleForRow(row));
    player->setArtist(artistForRow(row));
    if (ui::NavigationController* navigation = navigationController()) {
        navigation->pushViewController(std::move(player), true);
    }
}

bool On_DemandListViewController::touchesBegan(ui::Point) { return true; }

bool On_DemandListViewController::touchesMoved(ui::Point) { return true; }
