#include "app/myTabeBare.h"

#include "platform/NotificationCenter.h"

bool myTabeBare::touchesBegan(ui::Point) {
    platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
    return true;
}
