// Each control rendered once to a picture: the view-attached HUD in every mode with texts and
// progress, the global HUD with a status and its progress ring, the spinner alone, and the
// status-bar overlay with a styled message, progress and activity indicator. Probed at points
// whose colours the drawing rules give, compared with the stored golden pictures (golden/) within
// a tolerance, and written out as PNG ($APP_GOLDEN_OUT, else the test temporary folder) for a
// person to look at. APP_UPDATE_GOLDEN=1 replaces the stored pictures with the new renders.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "ControlsTestSupport.h"
#include "controls/ControlsTesting.h"
#include "controls/GHIndefiniteAnimatedView.h"
#include "controls/GHProgressHUD.h"
#include "controls/SNStatusBarNotification.h"
#include "controls/VHBarProgressView.h"
#include "controls/VHProgressHUD.h"
#include "graphics/TextMeasurer.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/MainLoop.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindowRenderer.h"

using controlstest::pixelAt;
using controlstest::RGBA;

namespace {

std::filesystem::path goldenPath(const std::string& name) {
    return testsupport::goldenDirectory("controls") / name;
}

std::string outputFolder() {
    return testsupport::goldenOutputFolder("controls-golden");
}

// Writes the render out and compares it with the stored golden picture of that name.
void writeOut(const Ref<UIImage>& image, const std::string& name) {
    testsupport::compareWithGolden(image, testsupport::goldenDirectory("controls"), name, "controls-golden");
}

using testsupport::differingShare;

// The brightest pixel of a rectangle (in pixels), by its red channel.
int brightest(const Ref<UIImage>& image, int x0, int y0, int x1, int y1) {
    int best = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) best = std::max(best, pixelAt(image, x, y).r);
    }
    return best;
}

constexpr CGFloat kScale = 2;
// Black at 0.8 over mid grey (128): 128 x 0.2.
constexpr int kBoxOverGrey = 26;

class ControlsLibraryGoldenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ControlsTesting::resetProgressHUD();
        ControlsTesting::resetStatusBarNotification();
        UIScreen::mainScreen()->setBoundsSize(CGSizeMake(320, 568));
        UIScreen::mainScreen()->setScale(kScale);
        // Laid out with the measurer that draws, so the pictures look as a user would see them.
        TextMeasurer::useDeterministic(false);
    }
    void TearDown() override {
        ControlsTesting::resetProgressHUD();
        ControlsTesting::resetStatusBarNotification();
        if (window) window->setHidden(true);
        UIScreen::mainScreen()->resetToConfiguration();
        TextMeasurer::useDeterministic(true);
    }

    Ref<UIWindow> showWindow(const Ref<UIColor>& color) {
        window = make<UIWindow>(CGRectMake(0, 0, 320, 568));
        auto controller = make<UIViewController>();
        window->setRootViewController(controller);
        controller->view()->setBackgroundColor(color);
        window->makeKeyAndVisible();
        return window;
    }

    // A HUD over a grey 240 x 240 host, shown, with both texts and a progress of 0.6.
    Ref<VHProgressHUD> vhHUD(VHProgressHUDMode mode) {
        host = make<UIView>(CGRectMake(0, 0, 240, 240));
        host->setBackgroundColor(UIColor::colorWithWhite(128 / 255.0, 1));
        auto hud = VHProgressHUD::showHUDAddedTo(host, false);
        if (mode == VHProgressHUDModeCustomView) {
            auto custom = make<UIView>(CGRectMake(0, 0, 30, 30));
            custom->setBackgroundColor(UIColor::redColor());
            hud->setCustomView(custom);
        }
        hud->setMode(mode);
        hud->setLabelText("Uploading");
        hud->setDetailsLabelText("3 of 5 photos");
        hud->setProgress(0.6f);
        host->layoutIfNeeded();
        host->layoutIfNeeded();
        return hud;
    }

    // The box's rectangle in points.
    static CGRect boxOf(const Ref<VHProgressHUD>& hud) {
        CGSize size = hud->size();
        CGRect b = hud->bounds();
        return CGRectMake(std::round((b.size.width - size.width) / 2),
                          std::round((b.size.height - size.height) / 2), size.width, size.height);
    }

    controlstest::HUDResources resources;
    testsupport::ManualClock clock;
    Ref<UIWindow> window;
    Ref<UIView> host;
};

}  // namespace

TEST_F(ControlsLibraryGoldenTest, ViewAttachedHUDInEveryMode) {
    const char* names[] = {"spinner", "round", "bar", "ring", "custom", "text"};
    for (VHProgressHUDMode mode = 0; mode <= 5; ++mode) {
        SCOPED_TRACE(names[mode]);
        auto hud = vhHUD(mode);
        auto image = UIWindowRenderer::imageOfView(host, kScale);
        writeOut(image, std::string("vh-hud-") + names[mode] + ".png");

        CGRect box = boxOf(hud);
        // Host around the box, the translucent box itself near its left edge.
        EXPECT_PX(image, 4, 4, 128, 128, 128, 255);
        EXPECT_PX(image, int((box.origin.x + 3) * kScale), int(CGRectGetMidY(box) * kScale), kBoxOverGrey,
                  kBoxOverGrey, kBoxOverGrey, 255);
        // The main text is drawn in white inside its label.
        CGRect label = hud->label()->frame();
        EXPECT_GT(brightest(image, int(label.origin.x * kScale), int(label.origin.y * kScale),
                            int(CGRectGetMaxX(label) * kScale), int(CGRectGetMaxY(label) * kScale)),
                  200);

        auto indicator = hud->indicator();
        if (mode == VHProgressHUDModeText) {
            EXPECT_EQ(indicator, nullptr);
            continue;
        }
        ASSERT_TRUE(indicator);
        CGRect f = indicator->frame();
        CGPoint c = CGPointMake(CGRectGetMidX(f), CGRectGetMidY(f));
        auto at = [&](CGFloat x, CGFloat y) { return pixelAt(image, int(x * kScale), int(y * kScale)); };
        switch (mode) {
            case VHProgressHUDModeRound:  // 0.6 of the pie: the right half filled, the top left not
                EXPECT_TRUE(controlstest::near(at(c.x + 8, c.y), RGBA{255, 255, 255, 255}, 4));
                EXPECT_TRUE(controlstest::near(at(c.x - 8, c.y - 8), RGBA{49, 49, 49, 255}, 4));
                break;
            case VHProgressHUDModeRing:
                EXPECT_TRUE(controlstest::near(at(f.origin.x + f.size.width - 1.5, c.y),
                                               RGBA{255, 255, 255, 255}, 6));
                EXPECT_TRUE(controlstest::near(at(f.origin.x + 1.5, c.y - 6), RGBA{49, 49, 49, 255}, 6));
                EXPECT_TRUE(
                    controlstest::near(at(c.x, c.y), RGBA{kBoxOverGrey, kBoxOverGrey, kBoxOverGrey, 255}, 4));
                break;
            case VHProgressHUDModeBar:  // filled up to 72 of 120 points
                EXPECT_TRUE(controlstest::near(at(f.origin.x + 40, c.y), RGBA{255, 255, 255, 255}, 4));
                EXPECT_TRUE(controlstest::near(at(f.origin.x + 100, c.y),
                                               RGBA{kBoxOverGrey, kBoxOverGrey, kBoxOverGrey, 255}, 4));
                break;
            case VHProgressHUDModeCustomView:
                EXPECT_TRUE(controlstest::near(at(c.x, c.y), RGBA{255, 0, 0, 255}, 4));
                break;
            case VHProgressHUDModeSpinner:
                EXPECT_GT(brightest(image, int(f.origin.x * kScale), int(f.origin.y * kScale),
                                    int(CGRectGetMaxX(f) * kScale), int(CGRectGetMaxY(f) * kScale)),
                          200);
                break;
        }
    }
}

TEST_F(ControlsLibraryGoldenTest, GlobalHUDWithStatusAndProgress) {
    showWindow(UIColor::colorWithRed(0.2, 0.6, 1.0, 1));
    GHProgressHUD::showProgress(0.4f, "上传中...", GHProgressHUDMaskTypeGradient);
    clock.advance(0.2);
    testsupport::drainMainRunLoop();
    auto image = UIWindowRenderer::imageOfView(window, kScale);
    writeOut(image, "global-hud-progress.png");

    auto hud = GHProgressHUD::sharedView();
    CGRect box = hud->hudView()->frame();  // 124 points wide around (160, 255)
    EXPECT_EQ(box.size.width, 124);
    EXPECT_EQ(CGRectGetMidX(box), 160);
    EXPECT_EQ(CGRectGetMidY(box), 255);
    auto at = [&](CGFloat x, CGFloat y) { return pixelAt(image, int(x * kScale), int(y * kScale)); };
    // The white box, under the clear middle of the gradient.
    EXPECT_TRUE(controlstest::near(at(box.origin.x + 4, box.origin.y + 50), RGBA{255, 255, 255, 255}, 4));
    // The ring at (160, 242): 40 % of the arc from the top (black), the rest the faint track.
    CGPoint ring = CGPointMake(CGRectGetMidX(box), box.origin.y + 36);
    EXPECT_TRUE(controlstest::near(at(ring.x + 17.75, ring.y), RGBA{0, 0, 0, 255}, 12));
    EXPECT_TRUE(controlstest::near(at(ring.x - 17.75, ring.y), RGBA{230, 230, 230, 255}, 12));
    // Dimmed corners: 25 % of the window's colour.
    RGBA corner = at(1, 1);
    EXPECT_NEAR(corner.r, 0.2 * 255 * 0.25, 4);
    EXPECT_NEAR(corner.b, 255 * 0.25, 4);
    // The status, drawn dark on the box.
    CGRect label = hud->stringLabel()->frame();
    label.origin.x += box.origin.x;
    label.origin.y += box.origin.y;
    int darkest = 255;
    for (int y = int(label.origin.y * kScale); y < int(CGRectGetMaxY(label) * kScale); ++y) {
        for (int x = int(label.origin.x * kScale); x < int(CGRectGetMaxX(label) * kScale); ++x) {
            darkest = std::min(darkest, pixelAt(image, x, y).r);
        }
    }
    EXPECT_LT(darkest, 80);
}

TEST_F(ControlsLibraryGoldenTest, GlobalHUDSpinnerAndSuccessImage) {
    showWindow(UIColor::whiteColor());
    GHProgressHUD::showWithStatus("Loading", GHProgressHUDMaskTypeBlack);
    clock.advance(0.2);
    testsupport::drainMainRunLoop();
    auto spinnerImage = UIWindowRenderer::imageOfView(window, kScale);
    writeOut(spinnerImage, "global-hud-spinner.png");
    auto hud = GHProgressHUD::sharedView();
    CGRect box = hud->hudView()->frame();
    auto at = [&](const Ref<UIImage>& image, CGFloat x, CGFloat y) {
        return pixelAt(image, int(x * kScale), int(y * kScale));
    };
    // Half-black mask over white outside the box.
    EXPECT_TRUE(controlstest::near(at(spinnerImage, 5, 5), RGBA{128, 128, 128, 255}, 3));

    GHProgressHUD::showSuccessWithStatus("Saved");
    testsupport::drainMainRunLoop();
    auto successImage = UIWindowRenderer::imageOfView(window, kScale);
    writeOut(successImage, "global-hud-success.png");
    box = hud->hudView()->frame();
    // The tinted tick glyph in the 28-point image view at (w / 2, 36): its ring is black.
    CGPoint glyph = CGPointMake(CGRectGetMidX(box), box.origin.y + 36);
    EXPECT_LT(at(successImage, glyph.x - 12, glyph.y).r, 90);
    EXPECT_TRUE(controlstest::near(at(successImage, glyph.x, glyph.y - 8), RGBA{255, 255, 255, 255}, 40));
}

TEST_F(ControlsLibraryGoldenTest, IndefiniteRingSeenThroughItsMask) {
    auto parent = make<UIView>(CGRectMake(0, 0, 60, 60));
    parent->setBackgroundColor(UIColor::whiteColor());
    auto spinner = make<GHIndefiniteAnimatedView>(CGRectZero);
    spinner->setStrokeThickness(4);
    spinner->setStrokeColor(UIColor::blackColor());
    spinner->setRadius(24);
    spinner->sizeToFit();  // 62 x 62... for a 4-point stroke: c = 31
    parent->setFrame(CGRectMake(0, 0, 62, 62));
    parent->addSubview(spinner);
    auto image = UIWindowRenderer::imageOfView(parent, kScale);
    writeOut(image, "global-hud-ring.png");
    // The artwork the HUD reads, for a person to look at too.
    EXPECT_TRUE(GHProgressHUDResources::writeBundle(outputFolder()));
    auto at = [&](CGFloat x, CGFloat y) { return pixelAt(image, int(x * kScale), int(y * kScale)); };
    const CGFloat c = 31, r = 24;
    // Opacity grows clockwise from twelve o'clock: just left of the top nearly black, just right
    // of it nearly white; a quarter, half and three quarters of the way round in between.
    EXPECT_LT(at(c - 2, c - r).r, 40);
    EXPECT_GT(at(c + 2, c - r).r, 215);
    int right = at(c + r, c).r, bottom = at(c, c + r).r, left = at(c - r, c).r;
    EXPECT_NEAR(right, 255 * 0.75, 20);
    EXPECT_NEAR(bottom, 255 * 0.5, 20);
    EXPECT_NEAR(left, 255 * 0.25, 20);
    EXPECT_PX(image, int(c * kScale), int(c * kScale), 255, 255, 255, 255);
}

TEST_F(ControlsLibraryGoldenTest, StatusBarOverlayWithProgress) {
    showWindow(UIColor::whiteColor());
    SNStatusBarNotification::showWithStatus("Saved to album", SNStatusBarStyleSuccess);
    SNStatusBarNotification::showProgress(0.5);
    SNStatusBarNotification::showActivityIndicator(true, UIActivityIndicatorViewStyleWhite);
    clock.advance(0.5);
    testsupport::drainMainRunLoop();
    auto image = UIWindowRenderer::imageOfScreen(kScale);
    writeOut(image, "status-bar-overlay.png");
    auto at = [&](CGFloat x, CGFloat y) { return pixelAt(image, int(x * kScale), int(y * kScale)); };
    // The success green bar over the top 20 points; the window's white below.
    EXPECT_TRUE(controlstest::near(at(4, 6), RGBA{150, 203, 0, 255}, 3));
    EXPECT_TRUE(controlstest::near(at(4, 30), RGBA{255, 255, 255, 255}, 3));
    // The 1.5-point progress bar along the bottom of the left half.
    EXPECT_TRUE(controlstest::near(at(80, 19.5), RGBA{27, 151, 81, 255}, 3));
    EXPECT_TRUE(controlstest::near(at(240, 19.5), RGBA{150, 203, 0, 255}, 3));
    // White text in the middle of the bar.
    EXPECT_GT(brightest(image, 120 * 2, 4 * 2, 200 * 2, 16 * 2), 230);
}

TEST_F(ControlsLibraryGoldenTest, TheComparisonNoticesADifferentPicture) {
    auto ring = vhHUD(VHProgressHUDModeRing);
    auto image = UIWindowRenderer::imageOfView(host, kScale);
    auto round = UIImage::imageWithContentsOfFile(goldenPath("vh-hud-round.png").string());
    ASSERT_TRUE(round);
    EXPECT_GT(differingShare(image, round, 24), 0.005);
    EXPECT_EQ(differingShare(image, nullptr, 24), 1);
}
