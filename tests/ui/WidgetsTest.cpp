// The controls the screens use: named button images, slider, table with cell reuse, text
// field, volume control, activity indicator, URL opener.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScreenshotTool.h"
#include "UiTestSupport.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/URLOpener.h"
#include "platform/ui/VolumeView.h"
#include "platform/ui/Window.h"

namespace {

class WidgetsTest : public ui_test::VirtualTimeTest {};

// The four button images are compiled in, drawn at two pixels per point, and distinct; the
// same name gives the same image, which is how a screen tells its button's state.
TEST_F(WidgetsTest, NamedButtonImages) {
    const std::vector<std::string> names = {"playbutton.png", "pausebutton.png",
                                            "loadingbutton.png", "stopbutton.png"};
    std::vector<QImage> pictures;
    for (const auto& name : names) {
        ui::ImageRef image = ui::Image::named(name);
        ASSERT_NE(image, nullptr) << name;
        EXPECT_EQ(image->pixmap().size(), QSize(512, 512));
        EXPECT_EQ(image->size(), (ui::Size{64, 64}));
        EXPECT_EQ(ui::Image::named(name), image);
        pictures.push_back(image->pixmap().toImage());
    }
    for (size_t i = 0; i < pictures.size(); ++i) {
        for (size_t j = i + 1; j < pictures.size(); ++j) EXPECT_NE(pictures[i], pictures[j]);
    }
    EXPECT_EQ(ui::Image::named("nosuchbutton.png"), nullptr);

    ui::Button button(ui::Rect(0, 0, 64, 64));
    EXPECT_FALSE(button.currentImageIs("playbutton.png"));
    button.setImage("playbutton.png");
    EXPECT_TRUE(button.currentImageIs("playbutton.png"));
    EXPECT_TRUE(ui::isSameImage(button.currentImage(), ui::Image::named("playbutton.png")));
    button.setImage("pausebutton.png");
    EXPECT_FALSE(button.currentImageIs("playbutton.png"));
    EXPECT_TRUE(button.currentImageIs("pausebutton.png"));
}

// A slider runs 0 to 100; a touch moves the value and runs the action, setValue from code
// clamps and runs none, and a disabled slider ignores touches.
TEST_F(WidgetsTest, SliderValuesAndTouches) {
    ui::Window window(ui::Rect(0, 0, 320, 60));
    auto* slider = new ui::Slider(ui::Rect(10, 10, 300, 30));
    window.addSubview(slider);
    window.show();
    std::vector<float> actions;
    slider->setAction([&](ui::Slider& s) { actions.push_back(s.value()); });
    slider->setValue(150);
    EXPECT_FLOAT_EQ(slider->value(), 100.0f);
    slider->setValue(-3);
    EXPECT_FLOAT_EQ(slider->value(), 0.0f);
    EXPECT_TRUE(actions.empty());

    ui_test::tap(window, {160, 25});  // the middle of the track
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_NEAR(actions[0], 50.0f, 1.0f);

    slider->setEnabled(false);
    ui_test::tap(window, {300, 25});
    EXPECT_EQ(actions.size(), 1u);
}

// A table asks its data source for rows, shows only what fits, takes cells back into the
// reuse pool by identifier, reloads on request, and tells its delegate which row was tapped.
class Rows : public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    int numberOfRowsInSection(ui::TableView&, int) override {
        return static_cast<int>(titles.size());
    }
    ui::TableViewCell* cellForRowAtIndexPath(ui::TableView& table, ui::IndexPath path) override {
        ui::TableViewCell* cell = table.dequeueReusableCell("Cell");
        if (cell) {
            ++reused;
        } else {
            cell = new ui::TableViewCell(ui::TableViewCell::Default, "Cell");
            ++made;
        }
        cell->textLabel().setText(titles[static_cast<size_t>(path.row)]);
        return cell;
    }
    void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath path) override {
        selected.push_back(path.row);
    }

    std::vector<std::string> titles;
    int made = 0;
    int reused = 0;
    std::vector<int> selected;
};

TEST_F(WidgetsTest, TableRowsReuseAndSelection) {
    ui::Window window(ui::Rect(0, 0, 320, 431));
    auto* table = new ui::TableView(ui::Rect(0, 0, 320, 431));
    window.addSubview(table);
    window.show();
    Rows rows;
    table->setDataSource(&rows);
    table->setDelegate(&rows);
    table->reloadData();
    EXPECT_EQ(table->numberOfRows(), 0);

    for (int i = 0; i < 40; ++i) rows.titles.push_back("Programme " + std::to_string(i));
    table->reloadData();
    EXPECT_EQ(table->numberOfRows(), 40);
    EXPECT_EQ(table->visibleCells().size(), 10u);  // 431 / 44 rows, partly cut
    EXPECT_EQ(rows.made, 10);
    table->reloadData();
    EXPECT_EQ(rows.made, 10);
    EXPECT_EQ(rows.reused, 10);
    ASSERT_NE(table->cellForRow({0, 3}), nullptr);
    EXPECT_EQ(table->cellForRow({0, 3})->textLabel().text(), "Programme 3");

    ui_test::tap(window, {100, 44 * 2 + 20});
    EXPECT_EQ(rows.selected, (std::vector<int>{2}));
    EXPECT_TRUE(table->cellForRow({0, 2})->isSelected());

    table->setContentOffset({0, 44 * 30});
    table->reloadData();
    EXPECT_EQ(table->cellForRow({0, 0}), nullptr);
    ASSERT_NE(table->cellForRow({0, 31}), nullptr);
    EXPECT_EQ(rows.made, 10);  // scrolling far down reused the same ten cells
}

// Return in the text field asks the delegate; resigning ends editing.
TEST_F(WidgetsTest, TextFieldReturnDelegate) {
    ui::TextField field(ui::Rect(10, 10, 300, 31));
    field.setText("http://127.0.0.1:8170/");
    int returns = 0;
    field.setShouldReturn([&](ui::TextField& f) {
        ++returns;
        f.resignFirstResponder();
        return true;
    });
    EXPECT_TRUE(field.simulateReturn());
    EXPECT_EQ(returns, 1);
    EXPECT_EQ(field.text(), "http://127.0.0.1:8170/");
}

// The volume control drives the target the application installs, 0 to 1.
TEST_F(WidgetsTest, VolumeViewDrivesTheOutputVolume) {
    float volume = 0.8f;
    ui::VolumeView::setOutputVolumeTarget([&](float v) { volume = v; }, [&] { return volume; });
    ui::Window window(ui::Rect(0, 0, 320, 46));
    auto* control = new ui::VolumeView(ui::Rect(10, 5, 300, 36));
    window.addSubview(control);
    window.show();
    EXPECT_FLOAT_EQ(control->slider().value(), 0.8f);
    control->sizeToFit();
    EXPECT_FLOAT_EQ(control->frame().width(), 300.0f);
    const ui::Rect track = control->slider().frame();
    ui_test::tap(window, {10 + track.x() + 11, 5 + track.height() / 2});  // the track's start
    EXPECT_NEAR(volume, 0.0f, 0.02f);
    ui::VolumeView::setOutputVolumeTarget(nullptr, nullptr);
}

// The indicator is hidden until started, spins on the main queue, and hides again when
// stopped; the indicator the screens make (style 2) is small.
TEST_F(WidgetsTest, ActivityIndicator) {
    ui::View screen(ui::Rect(0, 0, 320, 480));
    auto& spinner = *new ui::ActivityIndicatorView(ui::ActivityIndicatorView::Gray);
    screen.addSubview(&spinner);
    spinner.setCenter({160, 400});
    EXPECT_EQ(spinner.frame(), ui::Rect(150, 390, 20, 20));
    EXPECT_TRUE(spinner.isHidden());
    spinner.startAnimating();
    EXPECT_FALSE(spinner.isHidden());
    EXPECT_TRUE(spinner.isAnimating());
    spinner.stopAnimating();
    EXPECT_TRUE(spinner.isHidden());
    EXPECT_TRUE(queue().pendingCount() == 0);
}

// Only web addresses are handed to the desktop; a handler sees what would be opened.
TEST_F(WidgetsTest, URLOpener) {
    std::vector<std::string> opened;
    ui::setURLOpenHandler([&](const std::string& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_TRUE(ui::openURL("http://127.0.0.1:8171/podcast/"));
    EXPECT_EQ(opened, (std::vector<std::string>{"http://127.0.0.1:8171/podcast/"}));
    ui::setURLOpenHandler(nullptr);
    EXPECT_FALSE(ui::openURL("file:///etc/passwd"));
    EXPECT_FALSE(ui::openURL("not a url at all"));
}

}  // namespace

namespace {

// A page of every control on a player-like screen, for people to look at: the four button
// images, a slider, the volume control, a spinning indicator, a text field and a short table.
TEST_F(WidgetsTest, ScreenshotOfTheControls) {
    ui::Window window;
    window.setBackgroundColor(ui::Color::rgb(0.06f, 0.08f, 0.13f));
    const char* names[] = {"playbutton.png", "pausebutton.png", "loadingbutton.png",
                           "stopbutton.png"};
    for (int i = 0; i < 4; ++i) {
        auto* button = new ui::Button(ui::Rect(12 + 76.0f * static_cast<float>(i), 20, 64, 64));
        button->setImage(names[i]);
        window.addSubview(button);
    }
    auto* field = new ui::TextField(ui::Rect(10, 100, 300, 31));
    field->setText("http://127.0.0.1:8170/");
    window.addSubview(field);
    auto* slider = new ui::Slider(ui::Rect(10, 145, 300, 30));
    slider->setValue(35);
    window.addSubview(slider);
    auto* disabled = new ui::Slider(ui::Rect(10, 180, 300, 30));
    disabled->setValue(70);
    disabled->setEnabled(false);
    window.addSubview(disabled);
    auto* volume = new ui::VolumeView(ui::Rect(10, 220, 300, 36));
    window.addSubview(volume);
    auto* spinner = new ui::ActivityIndicatorView(ui::ActivityIndicatorView::Gray);
    spinner->setCenter({160, 270});
    window.addSubview(spinner);
    spinner->startAnimating();
    advance(0.3);
    auto* table = new ui::TableView(ui::Rect(0, 290, 320, 190));
    Rows rows;
    rows.titles = {"Morning Show", "Harbour Talk", "Night Jazz", "Weekly News", "Kids Corner"};
    table->setDataSource(&rows);
    table->setDelegate(&rows);
    window.addSubview(table);
    table->reloadData();
    table->selectRow({0, 1});
    EXPECT_FALSE(ui_test::saveScreenshot(window, "toolkit-controls").empty());
}

}  // namespace
