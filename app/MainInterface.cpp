#include "app/MainInterface.h"

#include "app/Endpoints.h"
#include "app/OstraRadioAppDelegate.h"
#include "app/myTabeBare.h"
#include "platform/ui/NavigationController.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/On_DemandListViewController.h"

StationAddresses compiledInAddresses() {
    return StationAddresses{endpoints::kAdURL, endpoints::kFeedURL, endpoints::kPodcastURL,
                            nullptr};
}

namespace {
// The screens share the delegate's songURL; addresses that bring none get the delegate's.
StationAddresses withCurrentSong(StationAddresses addresses) {
    if (!addresses.currentSong) {
        if (OstraRadioAppDelegate* delegate = OstraRadioAppDelegate::sharedDelegate()) {
            addresses.currentSong = delegate->currentSong();
        }
    }
    return addresses;
}
}  // namespace

std::vector<std::unique_ptr<ui::ViewController>> makeTabs(const StationAddresses& given) {
    const StationAddresses addresses = withCurrentSong(given);
    std::vector<std::unique_ptr<ui::ViewController>> tabs;
    tabs.push_back(std::make_unique<AudioPlayerViewController>(addresses));
    auto list = std::make_unique<On_DemandListViewController>(addresses);
    auto navigation = std::make_unique<ui::NavigationController>(std::move(list));
    navigation->tabBarItem() = {"On Demand", "tab_ondemand.png"};
    tabs.push_back(std::move(navigation));
    return tabs;
}

std::vector<std::unique_ptr<ui::ViewController>> makeTabs() {
    return makeTabs(compiledInAddresses());
}

MainInterface loadMainInterface(const StationAddresses& addresses) {
    MainInterface ui;
    ui.window = std::make_unique<ui::Window>();
    ui.window->setTitle("Ostra Radio");
    ui.tabBarController = std::make_unique<myTabeBare>();
    ui.tabBarController->setViewControllers(makeTabs(addresses));
    return ui;
}

MainInterface loadMainInterface() { return loadMainInterface(compiledInAddresses()); }
