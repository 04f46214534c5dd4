#pragma once
// The players' background: the station's night-blue field, an optional heading, and darker
// bands behind the marquees so that their white text reads well whatever is behind it.
// Drawn in code; it takes no touches of its own, so they go on to the screen's controller.
// Main thread only.

#include <string>
#include <vector>

#include "platform/ui/View.h"

class StationBackdrop : public ui::View {
public:
    explicit StationBackdrop(ui::Rect frame);

    // A heading centred at the top, `subtitle` in smaller type below it.
    void setHeading(std::string title, std::string subtitle, float top);
    // A darker strip across the view, in the view's points.
    void addBand(ui::Rect band);

protected:
    void drawContents(QPainter& painter) override;

private:
    std::string title_;
    std::string subtitle_;
    float headingTop_ = 0;
    std::vector<ui::Rect> bands_;
};
