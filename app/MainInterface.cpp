#include "app/MainInterface.h"

#include "app/myTabeBare.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"

namespace {

// Stands in for a screen that is not built yet: a titled, empty page.
class PlaceholderScreen : public ui::ViewController {
public:
    PlaceholderScreen(std::string title, std::string tabImage) {
        setTitle(title);
        tabBarItem() = {std::move(title), std::move(tabImage)};
    }

protected:
    void loadView() override {
        auto* root = new ui::View(ui::Rect(0, 0, 320, 431));
        root->setBackgroundColor(ui::Color::rgb(0.06f, 0.08f, 0.13f));
        auto* label = new ui::Label(ui::Rect(0, 190, 320, 30));
        label->setText(title());
        label->setTextColor(ui::Color::rgb(0.75f, 0.8f, 0.9f));
        label->setTextAlignment(ui::TextAlignment::Center);
        root->addSubview(label);
        setView(root);
    }
};

}  // namespace

std::vector<std::unique_ptr<ui::ViewController>> makeTabs() {
    std::vector<std::unique_ptr<ui::ViewController>> tabs;
    tabs.push_back(std::make_unique<PlaceholderScreen>("Live Radio", "tab_live.png"));
    auto list = std::make_unique<PlaceholderScreen>("On Demand", "tab_ondemand.png");
    auto navigation = std::make_unique<ui::NavigationController>(std::move(list));
    navigation->tabBarItem() = {"On Demand", "tab_ondemand.png"};
    tabs.push_back(std::move(navigation));
    return tabs;
}

MainInterface loadMainInterface() {
    MainInterface ui;
    ui.window = std::make_unique<ui::Window>();
    ui.window->setTitle("Ostra Radio");
    ui.tabBarController = std::make_unique<myTabeBare>();
    ui.tabBarController->setViewControllers(makeTabs());
    return ui;
}
