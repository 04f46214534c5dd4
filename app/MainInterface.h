#pragma once
// The main interface: the window and the root tab bar controller with its tabs, built in code.
// Which tabs exist, and in which order, is decided here and nowhere else. The application
// hands the result to the delegate before launch.

#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "screens/StationAddresses.h"

class myTabeBare;

struct MainInterface {
    std::unique_ptr<ui::Window> window;
    std::unique_ptr<myTabeBare> tabBarController;
};

// The station's compiled-in addresses.
StationAddresses compiledInAddresses();

// The tabs in order: the live radio screen, then the on-demand list inside a navigation
// controller. The screens fetch from `addresses` (tests pass their own servers').
std::vector<std::unique_ptr<ui::ViewController>> makeTabs(const StationAddresses& addresses);
std::vector<std::unique_ptr<ui::ViewController>> makeTabs();

MainInterface loadMainInterface(const StationAddresses& addresses);
MainInterface loadMainInterface();
