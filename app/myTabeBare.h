#pragma once
// The root tab bar controller. Its only behaviour: any touch that reaches it (one no control
// took) posts "ShowControls", which brings back the players' faded controls. The touch goes
// no further. Main thread only.

#include "platform/ui/TabBarController.h"

class myTabeBare : public ui::TabBarController {
public:
    bool touchesBegan(ui::Point location) override;
};
