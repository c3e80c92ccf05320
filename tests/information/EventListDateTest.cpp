// The event list's date as the app draws it: the app measures text with the measurer of its
// layout, but a label is always drawn with the real font, so the date's label must be laid out at
// least as wide as the real font needs for "2026-11-05", or the row shows "202…1-05".

#include <gtest/gtest.h>

#include "graphics/TextMeasurer.h"
#include "information/ActivityListViewController.h"
#include "information/InformationScenes.h"
#include "tests/information/InformationTestSupport.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UIWindow.h"

using namespace infotest;

namespace {

class EventListDateTest : public InformationServerTest {
  protected:
    void TearDown() override {
        if (window) window->setHidden(true);
        window = nullptr;
        InformationServerTest::TearDown();
    }
    // The width a text takes when drawn: drawing always lays out with the real measurer.
    static CGFloat drawnWidth(const std::string& text, const Ref<UIFont>& font) {
        TextLayoutRequest request;
        request.runs.push_back(TextRun{text, font, nullptr, 0});
        request.wraps = false;
        return TextMeasurer::real().layout(request).size.width;
    }
    Ref<UIWindow> window;
};

}  // namespace

TEST_F(EventListDateTest, TheRowsDateShowsWhole) {
    devserver::EventItem event;
    event.event_title = "秋季改装聚会";
    event.event_summary = "带上你的车来聚会。";
    event.event_content = "<p>聚会。</p>";
    event.addtime = "2026-11-05 09:30:00";
    information->addEvent(event);

    InformationScenes::registerAll();
    auto screen = std::dynamic_pointer_cast<ActivityListViewController>(
        UIStoryboard::storyboardWithName("MyActivity", nullptr)
            ->instantiateViewControllerWithIdentifier("ActivityListViewController"));
    ASSERT_TRUE(screen);
    window = make<UIWindow>(UIScreen::mainScreen()->bounds());
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    ASSERT_TRUE(waitUntil([&] { return screen->dataProvider()->activities().size() == 4; }));
    auto table = screen->tableView();
    table->layoutIfNeeded();

    Ref<QVNActivityCell> row;
    for (const auto& cell : table->visibleCells()) {
        auto shown = std::dynamic_pointer_cast<QVNActivityCell>(cell);
        if (shown && shown->activity() && shown->activity()->addtime == event.addtime) row = shown;
    }
    ASSERT_TRUE(row) << "the new event is not on screen";
    row->layoutIfNeeded();
    auto button = row->dateButton.lock();
    button->layoutIfNeeded();
    auto label = button->titleLabel();
    EXPECT_EQ(label->text(), std::optional<std::string>("2026-11-05"));
    EXPECT_FALSE(label->isHidden());
    const CGRect frame = label->frame();
    // Wide enough for what layout measured and for what drawing needs, and inside the button.
    EXPECT_GE(frame.size.width, label->sizeThatFits(CGSizeZero).width);
    EXPECT_GE(frame.size.width, drawnWidth("2026-11-05", label->font()));
    EXPECT_GE(frame.origin.x, 0);
    EXPECT_LE(CGRectGetMaxX(frame), button->bounds().size.width);
}
