#pragma once
// The splash shown over the tab bar at launch; the application delegate fades it out. It has
// no behaviour of its own: its view is the station's artwork, drawn in code.

#include "platform/ui/ViewController.h"

class splashScreen : public ui::ViewController {
public:
    void didReceiveMemoryWarning() override { ui::ViewController::didReceiveMemoryWarning(); }
    void viewDidUnload() override { ui::ViewController::viewDidUnload(); }

protected:
    void loadView() override;
};
