// The watermark camera as a user reads it after the shot and in its watermark strip: the save bar's
// and the share sheet's white titles read on their fills, and a plate-shaped watermark shows whole
// in its thumbnail, both rounded ends clear of the frame around it. Every screen is reached by taps
// and measured on the rendered screen.

#include <cmath>
#include <optional>

#include "tests/studio/CameraTestSupport.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIWindowRenderer.h"

using namespace cameratest;
using testsupport::RenderedPixels;

namespace {

class CameraSheetsTest : public CameraTest {
  protected:
    void tapTagged(long tag, const Ref<UIView>& root) {
        Ref<UIButton> b = buttonTagged(tag, root);
        ASSERT_TRUE(b) << "no button " << tag;
        UITestDriver::tap(b);
    }
    // Lets the HUDs and the sheet's appearance run out on the manual clock.
    void settleFor(double seconds) {
        for (double t = 0; t < seconds; t += 0.05) settle(0.05);
        settle(0);
    }
};

// Where a watermark's pixels lie along one line of the screen: the first and the last white one
// (its rim is white), in screen pixels; nullopt when the line crosses none.
struct Span {
    long first, last;
};

enum class Line { Row, Column };

// Along row `at` from x = from to x = to (exclusive), or along column `at` from y = from.
std::optional<Span> whiteAlong(const RenderedPixels& screen, Line line, long at, long from, long to) {
    std::optional<Span> span;
    for (long i = from; i < to; ++i) {
        if (!testsupport::isWhiteish(line == Line::Row ? screen.at(i, at) : screen.at(at, i))) continue;
        if (!span) span = Span{i, i};
        span->last = i;
    }
    return span;
}

// The width over the height of the opaque part of a picture.
double opaqueProportion(const Ref<UIImage>& picture) {
    const CGImage& image = *picture->CGImage();
    const long width = static_cast<long>(image.width()), height = static_cast<long>(image.height());
    NSData pixels = detail::pixelsAsPremultipliedBGRA(image);
    long left = width, right = -1, top = height, bottom = -1;
    for (long y = 0; y < height; ++y)
        for (long x = 0; x < width; ++x) {
            if (pixels.bytes()[(static_cast<std::size_t>(y) * width + x) * 4 + 3] == 0) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    if (right < 0) return 0;
    return double(right - left + 1) / double(bottom - top + 1);
}

}  // namespace

TEST_F(CameraSheetsTest, TheSaveBarsAndTheShareSheetsWhiteTitlesRead) {
    open();
    tapTagged(QVNCustomCameryViewController::kShootTag, camera->view());
    ASSERT_TRUE(waitUntil([&] { return camera->saveView()->superview() && camera->originalImage(); }));
    settleFor(0.5);
    Ref<SaveView> bar = camera->saveView();
    for (const auto& [title, button] :
         {std::pair{"取消", bar->cancelBtn.lock()}, std::pair{"保存", bar->saveBtn.lock()},
          std::pair{"分享", bar->shareBtn.lock()}}) {
        SCOPED_TRACE(title);
        ASSERT_TRUE(button);
        EXPECT_TRUE(testsupport::readsWhite(button));
    }

    UITestDriver::tap(bar->shareBtn.lock());
    Ref<ShareView> sheet = camera->shareView();
    ASSERT_TRUE(waitUntil([&] { return sheet->superview() == camera->view(); }));
    // The album's report comes and goes over the screen before the sheet is read.
    ASSERT_TRUE(waitUntil([&] { return testsupport::hudText(camera->view()).has_value(); }));
    settleFor(2.5);
    for (const auto& [title, button] :
         {std::pair{"朋友圈", sheet->pengyouBtn.lock()}, std::pair{"微信", sheet->weixinBtn.lock()},
          std::pair{"取消", sheet->cancelBtn.lock()}}) {
        SCOPED_TRACE(title);
        ASSERT_TRUE(button);
        ASSERT_FALSE(button->isHidden());
        EXPECT_TRUE(testsupport::readsWhite(button));
    }
    // The chat and moments buttons stay two greens a user tells apart.
    auto moments = testsupport::readingOf(sheet->pengyouBtn.lock()).ground;
    auto chat = testsupport::readingOf(sheet->weixinBtn.lock()).ground;
    EXPECT_GT(testsupport::contrastRatio(moments, chat), 1.3);
    EXPECT_GT(chat.green, std::max(chat.red, chat.blue) + 40);
    EXPECT_GT(moments.green, std::max(moments.red, moments.blue) + 40);

    // And the sheet still answers a finger.
    UITestDriver::tap(sheet->cancelBtn.lock());
    settle();
    EXPECT_FALSE(sheet->superview());
}

// The side list's watermarks are plates with rounded ends (twice as wide as high). In each thumbnail
// of the strip the plate keeps its proportions, each end curves as a half disc of half the plate's
// height, and the strip's ground shows between each end and the frame: nothing covers or cuts an end.
TEST_F(CameraSheetsTest, APlatesThumbnailShowsBothRoundedEndsWhole) {
    open();
    tapTagged(QVNCustomCameryViewController::kPanelTag, camera->view());
    settle(0.4);
    tapTagged(QVNCustomCameryViewController::kSideListTag, camera->view());
    settle(0.2);
    auto strip = camera->horizontalTableView;
    ASSERT_TRUE(strip);
    window->layoutIfNeeded();
    const long shownRows = 3;  // wholly on the screen's width
    ASSERT_GE(camera->tableViewDatasArray.size(), std::size_t(shownRows));
    auto thumbnailAt = [&](long row) {
        return std::dynamic_pointer_cast<UIImageView>(
            camera->viewForIndexPath(NSIndexPath::indexPathForRow(row, 0), strip));
    };
    ASSERT_TRUE(waitUntil([&] {
        for (long row = 0; row < shownRows; ++row)
            if (auto thumbnail = thumbnailAt(row); !thumbnail || !thumbnail->image()) return false;
        return true;
    }));
    settle(0.2);

    const CGFloat scale = UIScreen::mainScreen()->scale();
    const RenderedPixels screen(UIWindowRenderer::imageOfScreen(scale));
    const RenderedPixels::RGB ground = testsupport::rgbOf(strip->tableView()->backgroundColor());
    auto isGround = [&](RenderedPixels::RGB c) {
        return std::abs(c.red - ground.red) <= 12 && std::abs(c.green - ground.green) <= 12 &&
               std::abs(c.blue - ground.blue) <= 12;
    };
    for (long row = 0; row < shownRows; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        Ref<UIImageView> thumbnail = thumbnailAt(row);
        ASSERT_EQ(camera->tableViewDatasArray[std::size_t(row)]->type, 2);
        const double proportion = opaqueProportion(thumbnail->image());
        ASSERT_NEAR(proportion, 2.0, 0.1);  // the stand-in's plate, whole in its picture

        // The cell on the screen, in pixels.
        Ref<UIView> cellView = thumbnail->superview();
        CGRect cell = cellView->convertRectToView(cellView->bounds(), window);
        const long left = std::lround(CGRectGetMinX(cell) * scale),
                   right = std::lround(CGRectGetMaxX(cell) * scale);
        const long top = std::lround(CGRectGetMinY(cell) * scale),
                   bottom = std::lround(CGRectGetMaxY(cell) * scale);
        const long midX = (left + right) / 2, midY = (top + bottom) / 2;

        auto across = whiteAlong(screen, Line::Row, midY, left, right);
        auto down = whiteAlong(screen, Line::Column, midX, top, bottom);
        ASSERT_TRUE(across && down) << "no plate in the cell";
        const double width = across->last - across->first + 1, height = down->last - down->first + 1;
        EXPECT_NEAR(width / height, proportion, 0.08) << width << " x " << height;

        // The ends: a half disc of radius height / 2 sets each end back by r - sqrt(r^2 - dy^2) at dy
        // from the middle line; an end cut straight would not be set back.
        const double r = height / 2;
        const long centreY = (down->first + down->last) / 2;
        for (double share : {0.6, 0.8}) {
            const long dy = std::lround(share * r);
            const double setBack = r - std::sqrt(r * r - double(dy) * dy);
            for (long y : {centreY - dy, centreY + dy}) {
                auto line = whiteAlong(screen, Line::Row, y, left, right);
                ASSERT_TRUE(line) << "at " << share << " of the height";
                EXPECT_NEAR(line->first - across->first, setBack, 3) << "left end, " << share;
                EXPECT_NEAR(across->last - line->last, setBack, 3) << "right end, " << share;
            }
        }
        // Beside each end, before the frame, the strip's ground.
        bool groundLeft = false, groundRight = false;
        for (long step = 1; step <= 4; ++step) {
            groundLeft = groundLeft || isGround(screen.at(across->first - step, midY));
            groundRight = groundRight || isGround(screen.at(across->last + step, midY));
        }
        EXPECT_TRUE(groundLeft) << "the left end touches the frame";
        EXPECT_TRUE(groundRight) << "the right end touches the frame";
    }
}
