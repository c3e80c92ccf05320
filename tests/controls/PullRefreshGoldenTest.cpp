// The normal header as a user sees it, rendered through the window renderer: pulled part way
// (arrow and idle texts) and refreshing (spinner and the refreshing text). Probed where the
// drawing rules fix the colours, compared with the stored pictures (golden/pullrefresh_*.png)
// within a tolerance, and written out as PNG ($APP_GOLDEN_OUT, else the test temporary folder)
// for a person to look at. APP_UPDATE_GOLDEN=1 replaces the stored pictures with the new renders.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ControlsTestSupport.h"
#include "PullRefreshTestSupport.h"
#include "controls/PullRefreshNormalHeader.h"
#include "graphics/TextMeasurer.h"
#include "tests/support/GoldenImage.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindowRenderer.h"

using namespace pullrefreshtest;
using controlstest::pixelAt;

namespace {

constexpr CGFloat kScale = 2;

using testsupport::differingShare;

void compareWithGolden(const Ref<UIImage>& image, const std::string& name) {
    testsupport::compareWithGolden(image, testsupport::goldenDirectory("controls"), name, "controls-golden");
}

// The darkest red channel inside a rectangle of points.
int darkest(const Ref<UIImage>& image, CGRect rect) {
    int best = 255;
    for (int y = int(rect.origin.y * kScale); y < int(CGRectGetMaxY(rect) * kScale); ++y) {
        for (int x = int(rect.origin.x * kScale); x < int(CGRectGetMaxX(rect) * kScale); ++x) {
            auto p = pixelAt(image, x, y);
            if (p.a > 0) best = std::min(best, p.r);
        }
    }
    return best;
}

class PullRefreshGoldenTest : public PullRefreshFixture {
  protected:
    void SetUp() override {
        PullRefreshFixture::SetUp();
        UIScreen::mainScreen()->setScale(kScale);
        TextMeasurer::useDeterministic(false);
        showTable({10}, 160);
        window->setBackgroundColor(UIColor::whiteColor());
        table->setBackgroundColor(UIColor::whiteColor());
        header = PullRefreshNormalHeader::headerWithRefreshingBlock([] {});
        // A fixed time text, so the picture does not depend on the day it is made.
        header->setLastUpdatedTimeText(
            [](const std::optional<NSDate>&) { return std::string("最后更新：今天 09:05"); });
        header->setLastUpdatedTimeKey(header->lastUpdatedTimeKey());
        UIScrollView_PullRefresh::setHeader(table, header);
    }
    void TearDown() override {
        TextMeasurer::useDeterministic(true);
        UIScreen::mainScreen()->resetToConfiguration();
        PullRefreshFixture::TearDown();
    }
    Ref<UIImage> renderWindow() {
        testsupport::drainMainRunLoop();
        window->layoutIfNeeded();
        return UIWindowRenderer::imageOfView(window, kScale);
    }

    Ref<PullRefreshNormalHeader> header;
};

}  // namespace

TEST_F(PullRefreshGoldenTest, NormalHeaderMidPull) {
    dragTo(table, -50);
    ASSERT_EQ(header->state(), PullRefreshState::Idle);
    auto image = renderWindow();
    compareWithGolden(image, "pullrefresh_header_pulling.png");

    // The header's strip: 50 points shown, its top 4 points above the window. The arrow (grey
    // 90) stands 100 points left of the middle; the space right of the text stays white.
    const CGFloat top = -4;
    const CGPoint arrow = CGPointMake(60, top + 27);
    EXPECT_PX(image, int(arrow.x * kScale), int((arrow.y - 10) * kScale), 90, 90, 90, 255);
    EXPECT_PX(image, int(300 * kScale), int(20 * kScale), 255, 255, 255, 255);
    // Both texts are drawn in the labels' grey.
    EXPECT_LT(darkest(image, CGRectMake(100, 0, 120, top + 27)), 140);
    EXPECT_LT(darkest(image, CGRectMake(90, top + 27, 140, 27)), 140);
}

TEST_F(PullRefreshGoldenTest, NormalHeaderRefreshing) {
    dragTo(table, -60);
    release(table);
    clock.advance(1.0 / 60);
    ASSERT_EQ(header->state(), PullRefreshState::Refreshing);
    auto image = renderWindow();
    compareWithGolden(image, "pullrefresh_header_refreshing.png");

    // Held fully in view: the arrow is gone, the spinner's spokes sit around its place.
    EXPECT_TRUE(header->arrowView()->isHidden());
    EXPECT_LT(darkest(image, CGRectMake(50, 17, 20, 20)), 200);
    EXPECT_PX(image, int(60 * kScale), int(5 * kScale), 255, 255, 255, 255);
    EXPECT_LT(darkest(image, CGRectMake(100, 0, 120, 27)), 140);
}

TEST_F(PullRefreshGoldenTest, TheComparisonNoticesTheOtherState) {
    dragTo(table, -50);
    auto pulling = renderWindow();
    dragTo(table, -60);
    auto armed = renderWindow();
    EXPECT_GT(differingShare(pulling, armed, 24), 0.001) << "the arrow turned and the text changed";
    EXPECT_EQ(differingShare(pulling, nullptr, 24), 1);
}
