// A panel of controls rendered to pixels with real text (labels in Chinese, buttons, a field,
// indicators) and compared with a stored golden picture within a tolerance. The picture is written
// out as PNG ($APP_GOLDEN_OUT when set, else a temporary folder) for a person to look at; with
// APP_UPDATE_GOLDEN=1 the stored golden is replaced by the new render.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "foundation/NSData.h"
#include "graphics/UIImage.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/TestSupport.h"
#include "tests/uikit/ControlsTestSupport.h"
#include "tests/uikit/UIKitTestSupport.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UIPageControl.h"
#include "uikit/UIProgressView.h"
#include "uikit/UITextField.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using controlstest::pixelAt;
using controlstest::RGBA;
using controlstest::solidImage;

std::filesystem::path goldenPath() {
    return testsupport::goldenDirectory("uikit") / "ControlsPanel.png";
}

std::string outputFolder() {
    if (const char* out = std::getenv("APP_GOLDEN_OUT"); out && *out) {
        std::filesystem::create_directories(out);
        return out;
    }
    static testsupport::TemporaryDirectory* dir = new testsupport::TemporaryDirectory();
    return dir->path();
}

Ref<UILabel> label(CGRect frame, const std::string& text, const Ref<UIFont>& font,
                   const Ref<UIColor>& color) {
    auto l = make<UILabel>(frame);
    l->setText(text);
    l->setFont(font);
    l->setTextColor(color);
    return l;
}

// The panel: 320 × 250 points.
Ref<UIView> makePanel() {
    auto panel = make<UIView>(CGRectMake(0, 0, 320, 250));
    panel->setBackgroundColor(UIColor::whiteColor());

    panel->addSubview(label(CGRectMake(10, 8, 300, 30), "车友问答 · 改装", UIFont::boldSystemFontOfSize(20),
                            UIColor::blackColor()));
    auto wrapped = label(CGRectMake(10, 40, 300, 44), "汽车改装爱好者的社区，分享你的爱车与改装心得。",
                         UIFont::systemFontOfSize(15), UIColor::darkGrayColor());
    wrapped->setNumberOfLines(0);
    wrapped->setTextAlignment(NSTextAlignmentCenter);
    panel->addSubview(wrapped);
    panel->addSubview(label(CGRectMake(10, 88, 160, 20), "一行放不下的很长很长的标题文字",
                            UIFont::systemFontOfSize(14), UIColor::colorWithRed(0.67, 0.01, 0, 1)));

    auto follow = UIButton::buttonWithType(UIButtonTypeCustom);
    follow->setFrame(CGRectMake(10, 120, 90, 36));
    follow->setBackgroundColor(UIColor::colorWithRed(0.9, 0.2, 0.2, 1));
    follow->layer()->setCornerRadius(6);
    follow->setTitle(std::string("关注"), UIControlStateNormal);
    follow->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    panel->addSubview(follow);

    auto like = UIButton::buttonWithType(UIButtonTypeSystem);
    like->setFrame(CGRectMake(110, 120, 120, 36));
    like->setTintColor(UIColor::colorWithRed(0, 0.48, 1, 1));
    like->setImage(solidImage(UIColor::blackColor(), {16, 16}), UIControlStateNormal);
    like->setTitle(std::string(" 点赞 (12)"), UIControlStateNormal);
    like->layer()->setBorderWidth(1);
    like->layer()->setBorderColor(UIColor::lightGrayColor()->CGColor());
    panel->addSubview(like);

    auto send = UIButton::buttonWithType(UIButtonTypeCustom);
    send->setFrame(CGRectMake(240, 120, 70, 36));
    send->setBackgroundImage(solidImage(UIColor::colorWithRed(0.1, 0.6, 0.3, 1), {4, 4}),
                             UIControlStateNormal);
    send->setTitle(std::string("发送"), UIControlStateNormal);
    panel->addSubview(send);

    auto field = make<UITextField>(CGRectMake(10, 166, 200, 30));
    field->setBorderStyle(UITextBorderStyleRoundedRect);
    field->setPlaceholder(std::string("想说的话..."));
    field->setFont(UIFont::systemFontOfSize(14));
    panel->addSubview(field);

    auto filled = make<UITextField>(CGRectMake(10, 202, 200, 24));
    filled->setBorderStyle(UITextBorderStyleLine);
    filled->setText(std::string("已输入的文字 abc"));
    filled->setFont(UIFont::systemFontOfSize(13));
    panel->addSubview(filled);

    auto spinner = make<UIActivityIndicatorView>(UIActivityIndicatorViewStyleGray);
    spinner->setCenter(CGPointMake(260, 181));
    spinner->startAnimating();
    panel->addSubview(spinner);

    auto pages = make<UIPageControl>(CGRectMake(220, 200, 90, 26));
    pages->setNumberOfPages(4);
    pages->setCurrentPage(1);
    pages->setPageIndicatorTintColor(UIColor::lightGrayColor());
    pages->setCurrentPageIndicatorTintColor(UIColor::redColor());
    panel->addSubview(pages);

    auto progress = make<UIProgressView>(CGRectMake(10, 238, 300, 4));
    progress->setProgress(0.6f);
    progress->setProgressTintColor(UIColor::colorWithRed(0, 0.48, 1, 1));
    panel->addSubview(progress);

    panel->layoutIfNeeded();
    return panel;
}

// The share of pixels whose colour differs by more than `channelTolerance` on some channel.
double differingShare(const Ref<UIImage>& a, const Ref<UIImage>& b, int channelTolerance) {
    const int w = static_cast<int>(a->CGImage()->width()), h = static_cast<int>(a->CGImage()->height());
    const controlstest::PixelReader pa(a), pb(b);
    long differing = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            RGBA p = pa.at(x, y), q = pb.at(x, y);
            if (std::abs(p.r - q.r) > channelTolerance || std::abs(p.g - q.g) > channelTolerance ||
                std::abs(p.b - q.b) > channelTolerance || std::abs(p.a - q.a) > channelTolerance) {
                ++differing;
            }
        }
    }
    return double(differing) / (double(w) * h);
}

// How many pixels inside the rectangle (in pixels) are dark enough to be text of the colour.
int inkIn(const Ref<UIImage>& image, CGRect r, int threshold = 160) {
    const controlstest::PixelReader pixels(image);
    int ink = 0;
    for (int y = int(r.origin.y); y < int(CGRectGetMaxY(r)); ++y) {
        for (int x = int(r.origin.x); x < int(CGRectGetMaxX(r)); ++x) {
            RGBA p = pixels.at(x, y);
            if (p.a > 200 && (p.r + p.g + p.b) / 3 < threshold) ++ink;
        }
    }
    return ink;
}

class ControlsGoldenTest : public uikittest::UIKitTest {};

TEST_F(ControlsGoldenTest, PanelMatchesTheGoldenPicture) {
    auto panel = makePanel();
    auto picture = UIWindowRenderer::imageOfView(panel, 2, true);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->CGImage()->width(), 640u);
    ASSERT_EQ(picture->CGImage()->height(), 500u);
    const std::string written = outputFolder() + "/ControlsPanel.png";
    ASSERT_TRUE(UIWindowRenderer::writePNG(picture, written));
    std::cout << "controls panel written to " << written << "\n";

    // What must be there whatever the golden says: text in each label, the buttons' colours.
    EXPECT_GT(inkIn(picture, CGRectMake(20, 16, 600, 60)), 400) << "title label";
    EXPECT_GT(inkIn(picture, CGRectMake(20, 80, 600, 88), 200), 400) << "wrapped label";
    EXPECT_PIXEL(picture, 24, 252, 230, 51, 51, 255);     // follow button, clear of its title
    EXPECT_PIXEL(picture, 486, 246, 26, 153, 77, 255);    // send button background image
    EXPECT_PIXEL(picture, 30, 476, 0, 122, 255, 255);     // progress, filled part
    EXPECT_PIXEL(picture, 600, 476, 184, 184, 184, 255);  // progress, track

    const auto golden = goldenPath();
    const char* update = std::getenv("APP_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::filesystem::create_directories(golden.parent_path());
        ASSERT_TRUE(UIWindowRenderer::writePNG(picture, golden.string()));
        GTEST_SKIP() << "golden picture written to " << golden;
    }
    auto stored = UIImage::imageWithContentsOfFile(golden.string());
    ASSERT_TRUE(stored) << "no golden picture at " << golden << " (run with APP_UPDATE_GOLDEN=1 to make it)";
    ASSERT_EQ(stored->CGImage()->width(), picture->CGImage()->width());
    ASSERT_EQ(stored->CGImage()->height(), picture->CGImage()->height());
    // Anti-aliasing may move a little between library versions; the layout may not.
    EXPECT_LT(differingShare(picture, stored, 40), 0.01);
}

TEST_F(ControlsGoldenTest, TheComparisonNoticesAMovedLabel) {
    auto panel = makePanel();
    auto before = UIWindowRenderer::imageOfView(panel, 1, true);
    panel->subviews()[0]->setFrame(CGRectOffset(panel->subviews()[0]->frame(), 0, 6));
    auto after = UIWindowRenderer::imageOfView(panel, 1, true);
    EXPECT_GT(differingShare(before, after, 40), 0.002);
    EXPECT_DOUBLE_EQ(differingShare(before, before, 0), 0);
}

TEST_F(ControlsGoldenTest, HighlightedAndDisabledButtonsLookDifferent) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(CGRectMake(0, 0, 60, 30));
    button->setImage(solidImage(UIColor::redColor(), {20, 20}), UIControlStateNormal);
    button->layoutIfNeeded();
    auto normal = UIWindowRenderer::imageOfView(button, 1);
    EXPECT_PIXEL(normal, 30, 15, 255, 0, 0, 255);
    button->setHighlighted(true);
    auto pressed = UIWindowRenderer::imageOfView(button, 1);
    RGBA p = pixelAt(pressed, 30, 15);
    EXPECT_LT(p.r, 200);  // darkened
    button->setHighlighted(false);
    button->setEnabled(false);
    RGBA d = pixelAt(UIWindowRenderer::imageOfView(button, 1), 30, 15);
    EXPECT_GT(d.g, 60);  // lightened
}

}  // namespace
