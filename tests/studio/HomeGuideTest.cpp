// The first-launch guide over the home screen, as a user reads it: captions on their own cards,
// each with an arrow down to the round button it names, nothing of the page's text showing through
// its words, drawn at the screen's scale, and gone at a tap on "我知道了".

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "studio/HomeStandInPages.h"
#include "tests/studio/MainViewControllerTestSupport.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIScreen.h"
#include "uikit/UIWindowRenderer.h"

using namespace hometest;

namespace {

struct Pixel {
    int red, green, blue, alpha;  // not premultiplied
    // The guide's words are white or nearly; its arrows and card edges are the accent.
    bool ink() const { return alpha > 128 && std::min({red, green, blue}) > 190; }
    bool accent() const { return alpha > 200 && red < 140 && green > 180 && blue > 190; }
};

// A picture's pixels, read once, addressed in points.
class Pixels {
  public:
    explicit Pixels(const Ref<UIImage>& image)
        : scale_(image->scale()),
          width_(image->CGImage()->width()),
          height_(image->CGImage()->height()),
          bgra_(detail::pixelsAsPremultipliedBGRA(*image->CGImage())) {}

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    CGFloat scale() const { return scale_; }
    Pixel pixel(std::size_t x, std::size_t y) const {
        const std::uint8_t* p = bgra_.bytes() + (y * width_ + x) * 4;
        auto plain = [&](int channel) { return p[3] ? std::min(255, channel * 255 / p[3]) : 0; };
        return {plain(p[2]), plain(p[1]), plain(p[0]), p[3]};
    }
    Pixel at(CGPoint point) const {
        auto index = [&](CGFloat at, std::size_t size) {
            return static_cast<std::size_t>(
                std::clamp<CGFloat>(at * scale_, 0, static_cast<CGFloat>(size - 1)));
        };
        return pixel(index(point.x, width_), index(point.y, height_));
    }
    // The pixels of a rectangle in points that match `test`.
    std::size_t count(CGRect rect, const std::function<bool(const Pixel&)>& test) const {
        std::size_t n = 0;
        for (CGFloat y = rect.origin.y; y < CGRectGetMaxY(rect); y += 1 / scale_)
            for (CGFloat x = rect.origin.x; x < CGRectGetMaxX(rect); x += 1 / scale_) n += test(at({x, y}));
        return n;
    }

  private:
    CGFloat scale_;
    std::size_t width_, height_;
    NSData bgra_;
};

// The pixels where two renders of one size differ by more than `tolerance` on a channel.
std::size_t differing(const Pixels& a, const Pixels& b, int tolerance) {
    std::size_t n = 0;
    for (std::size_t y = 0; y < a.height(); ++y) {
        for (std::size_t x = 0; x < a.width(); ++x) {
            Pixel p = a.pixel(x, y), q = b.pixel(x, y);
            n += std::abs(p.red - q.red) > tolerance || std::abs(p.green - q.green) > tolerance ||
                 std::abs(p.blue - q.blue) > tolerance;
        }
    }
    return n;
}

class HomeGuideTest : public HomeScreenTest {
  protected:
    void SetUp() override {
        HomeScreenTest::SetUp();
        registerInformationPage();
    }

    // The guide as it comes one second after a first launch.
    Ref<UIImageView> showGuide() {
        launch(false);
        clock.advance(1.1);
        return home->imageView();
    }

    // News-like rows (a black title and a grey digest) all down the page under the guide.
    std::vector<Ref<UILabel>> fillPageWithRows() {
        std::vector<Ref<UILabel>> labels;
        auto page = home->currentChildViewController()->view();
        CGFloat width = page->bounds().size.width;
        for (int row = 0; row * 72 < page->bounds().size.height; ++row) {
            auto title = make<UILabel>(CGRectMake(12, 8 + row * 72, width - 24, 24));
            title->setText("改装车新闻标题第" + std::to_string(row + 1) + "条，赛道日报名开始");
            title->setTextColor(UIColor::blackColor());
            auto digest = make<UILabel>(CGRectMake(12, 36 + row * 72, width - 24, 20));
            digest->setText("新款轮毂与排气改装指南，一次看懂全部要点");
            digest->setTextColor(UIColor::darkGrayColor());
            for (const auto& label : {title, digest}) {
                page->addSubview(label);
                labels.push_back(label);
            }
        }
        return labels;
    }

    Ref<UIButton> cameraButton() {
        for (const auto& view : home->view()->subviews())
            if (auto button = std::dynamic_pointer_cast<UIButton>(view);
                button && button->titleForState(UIControlStateNormal) == std::string("相机"))
                return button;
        return nullptr;
    }
};

}  // namespace

TEST_F(HomeGuideTest, TheGuideIsDrawnAtTheScreensScale) {
    auto guide = showGuide();
    ASSERT_TRUE(guide);
    auto close = std::dynamic_pointer_cast<UIButton>(guide->subviews().at(0));
    ASSERT_TRUE(close);
    for (const auto& picture : {guide->image(), close->imageForState(UIControlStateNormal)}) {
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->scale(), UIScreen::mainScreen()->scale());
    }
    EXPECT_EQ(guide->image()->size().width, 375);
    EXPECT_EQ(guide->image()->size().height, 667);
    EXPECT_EQ(close->imageForState(UIControlStateNormal)->size().width, 97);
}

TEST_F(HomeGuideTest, EachRoundButtonHasACaptionCardAndAnArrowPointingAtIt) {
    auto guide = showGuide();
    ASSERT_TRUE(guide);
    const Pixels picture(guide->image());
    struct Target {
        const char* name;
        Ref<UIButton> button;
    };
    const Target targets[] = {{"相机", cameraButton()}, {"改装", home->modifyEntranceButton.lock()}};
    for (const Target& target : targets) {
        SCOPED_TRACE(target.name);
        ASSERT_TRUE(target.button);
        CGRect button = target.button->superview()->convertRectToView(target.button->frame(), guide);
        const CGFloat centre = CGRectGetMidX(button);
        // The button itself stays in sight: only the veil lies on it.
        EXPECT_LT(picture.at({centre, CGRectGetMidY(button)}).alpha, 180);
        // The arrow's point just above it, and the shaft on the way up to the card.
        EXPECT_GT(picture.count(CGRectMake(centre - 4, button.origin.y - 12, 8, 12),
                                [](const Pixel& p) { return p.accent(); }),
                  20u);
        // A card with words above it, within reach of the eye.
        CGRect above = CGRectMake(centre - 70, button.origin.y - 140, 140, 120);
        EXPECT_GT(picture.count(above, [](const Pixel& p) { return p.ink(); }), 150u);
    }
}

TEST_F(HomeGuideTest, TheGuidesWordsLieOnItsCardsAndThePageNeverShowsThroughThem) {
    auto guide = showGuide();
    ASSERT_TRUE(guide);
    auto rows = fillPageWithRows();
    window->layoutIfNeeded();
    const Pixels picture(guide->image());
    const Pixels withRows(UIWindowRenderer::imageOfView(window, picture.scale()));
    for (const auto& label : rows) label->setHidden(true);
    const Pixels withoutRows(UIWindowRenderer::imageOfView(window, picture.scale()));
    ASSERT_EQ(withRows.width(), picture.width());
    ASSERT_EQ(withRows.height(), picture.height());

    constexpr int kTolerance = 8;
    std::size_t words = 0, throughWords = 0, offCard = 0, underButton = 0;
    auto close = guide->subviews().at(0);
    const CGRect button = close->frame();
    for (std::size_t y = 0; y < picture.height(); ++y) {
        for (std::size_t x = 0; x < picture.width(); ++x) {
            Pixel p = picture.pixel(x, y);
            if (!p.ink()) continue;
            ++words;
            // Every word pixel is on a card nearly as opaque as paint.
            offCard += p.alpha < 245;
            CGPoint point = CGPointMake(x / picture.scale(), y / picture.scale());
            underButton += CGRectContainsPoint(button, point);
            Pixel a = withRows.pixel(x, y), b = withoutRows.pixel(x, y);
            throughWords += std::abs(a.red - b.red) > kTolerance ||
                            std::abs(a.green - b.green) > kTolerance ||
                            std::abs(a.blue - b.blue) > kTolerance;
        }
    }
    EXPECT_GT(words, 1000u);
    EXPECT_EQ(offCard, 0u);
    EXPECT_EQ(throughWords, 0u);
    EXPECT_EQ(underButton, 0u);
    // The rows do show elsewhere under the veil: the comparison above has something to find.
    EXPECT_GT(differing(withRows, withoutRows, kTolerance), 1000u);
}

TEST_F(HomeGuideTest, ATapOnIKnowDismissesTheGuide) {
    auto guide = showGuide();
    ASSERT_TRUE(guide);
    auto close = std::dynamic_pointer_cast<UIButton>(guide->subviews().at(0));
    ASSERT_TRUE(close);
    CGRect b = close->bounds();
    EXPECT_EQ(
        window->hitTest(close->convertPointToView(CGPointMake(CGRectGetMidX(b), CGRectGetMidY(b)), window),
                        nullptr),
        close);
    UITestDriver::tap(close);
    EXPECT_FALSE(home->imageView());
    EXPECT_FALSE(guide->superview());
    // It never comes back on a later visit.
    clock.advance(2);
    EXPECT_FALSE(home->imageView());
}

namespace {

// The teal buttons of the home screens (the guide's, and the tuning lists' read and save) carry
// white titles that read on their fill, pressed or not, and are drawn at the screen's scale.
TEST(HomeStandInButtonsTest, TheirWhiteTitlesReadOnTheirFill) {
    for (const char* name :
         {"wozhidaole.png", "duquqingdan_up.png", "duquqingdan_down.png", "baocun_up", "baocun_down"}) {
        SCOPED_TRACE(name);
        Ref<UIImage> picture = HomeStandInPages::imageNamed(name);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->scale(), UIScreen::mainScreen()->scale());
        testsupport::RenderedPixels pixels(picture);
        const testsupport::RenderedPixels::RGB fill = pixels.at(1, 1);
        bool titled = false;
        for (long y = 0; y < pixels.height(); ++y)
            for (long x = 0; x < pixels.width(); ++x) {
                auto p = pixels.at(x, y);
                titled = titled || (p.red > 240 && p.green > 240 && p.blue > 240);
            }
        EXPECT_TRUE(titled) << "no white title";
        EXPECT_GE(testsupport::contrastRatio({255, 255, 255}, fill), 4.5);
    }
}

class HomeStudioButtonTest : public HomeScreenTest {};

// The home screen's round studio button: its white title reads on its fill as the screen shows it.
// The disc's middle is read, away from the screen showing at its round edge.
TEST_F(HomeStudioButtonTest, ItsWhiteTitleReadsOnItsFill) {
    launch();
    settle(0.5);
    auto button = home->modifyEntranceButton.lock();
    ASSERT_TRUE(button);
    EXPECT_EQ(button->titleForState(UIControlStateNormal), std::optional<std::string>("改装"));
    EXPECT_TRUE(testsupport::readsWhite(button, CGRectInset(button->bounds(), 14, 14)));
}

}  // namespace
