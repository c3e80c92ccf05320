// A sample window rendered to pixels: coloured, rounded, bordered, transformed, clipped and
// translucent views, images in several content modes, a drawRect view and a shape layer. Checked
// at probe points against the colours the compositing rules give, and written out as PNG (into
// $APP_GOLDEN_OUT when set, else a temporary folder) for a person to look at.

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "UIKitTestSupport.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"
#include "tests/support/TestSupport.h"
#include "uikit/CAShapeLayer.h"
#include "uikit/MKAnnotationView.h"
#include "uikit/UIAlertTestDriver.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIScreen.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"
#include "uikit/UIWindowRenderer.h"

using uikittest::UIKitTest;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct RGBA {
    int r, g, b, a;
};

// The pixel at (x, y) of the image, top-left origin, unpremultiplied.
RGBA pixelAt(const Ref<UIImage>& image, int x, int y) {
    NSData bytes = detail::pixelsAsPremultipliedBGRA(*image->CGImage());
    const std::uint8_t* p = bytes.bytes() + (std::size_t(y) * image->CGImage()->width() + std::size_t(x)) * 4;
    int a = p[3];
    if (a == 0) return {0, 0, 0, 0};
    auto un = [a](int c) { return std::min(255, (c * 255 + a / 2) / a); };
    return {un(p[2]), un(p[1]), un(p[0]), a};
}

::testing::AssertionResult near(RGBA actual, RGBA expected, int tolerance = 3) {
    auto off = [&](int a, int b) { return std::abs(a - b) > tolerance; };
    if (off(actual.r, expected.r) || off(actual.g, expected.g) || off(actual.b, expected.b) ||
        off(actual.a, expected.a)) {
        return ::testing::AssertionFailure()
               << "(" << actual.r << ", " << actual.g << ", " << actual.b << ", " << actual.a << ") is not ("
               << expected.r << ", " << expected.g << ", " << expected.b << ", " << expected.a << ")";
    }
    return ::testing::AssertionSuccess();
}

#define EXPECT_PX(image, x, y, r, g, b, a)                                                                   \
    EXPECT_TRUE(near(pixelAt(image, x, y), RGBA{r, g, b, a})) << "at " << x << ", " << y

// A 20 x 10 picture: left half red, right half blue, with a green top row marking "up".
CGImageRef sampleImage() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(20, 10), false, 1);
    auto c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, 1, 0, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 10, 10));
    CGContextSetRGBFillColor(c, 0, 0, 1, 1);
    CGContextFillRect(c, CGRectMake(10, 0, 10, 10));
    CGContextSetRGBFillColor(c, 0, 1, 0, 1);
    CGContextFillRect(c, CGRectMake(0, 0, 20, 2));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image->CGImage();
}

// Draws a yellow disc filling its bounds.
class DiscView : public UIView {
  public:
    using UIView::UIView;
    int draws = 0;
    void drawRect(CGRect rect) override {
        ++draws;
        auto c = UIGraphicsGetCurrentContext();
        CGContextSetRGBFillColor(c, 1, 1, 0, 1);
        CGContextFillEllipseInRect(c, bounds());
    }
};

std::string outputFolder() {
    if (const char* out = std::getenv("APP_GOLDEN_OUT"); out && *out) {
        std::filesystem::create_directories(out);
        return out;
    }
    static testsupport::TemporaryDirectory* dir = new testsupport::TemporaryDirectory();
    return dir->path();
}

Ref<UIView> imageView(CGRect frame, UIViewContentMode mode, const CGImageRef& image) {
    auto v = make<UIView>(frame);
    v->setBackgroundColor(UIColor::colorWithWhite(0.85, 1));
    v->setContentMode(mode);
    v->layer()->setContents(image);
    v->layer()->setContentsScale(1);
    return v;
}

class WindowRenderingTest : public UIKitTest {};

}  // namespace

TEST_F(WindowRenderingTest, SampleWindowMatchesTheGoldenProbes) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 200, 240));
    window->setBackgroundColor(UIColor::whiteColor());
    window->makeKeyAndVisible();

    // Row 1: a red square; a rounded, bordered green square; a blue square turned 45 degrees.
    auto red = make<UIView>(CGRectMake(10, 10, 40, 40));
    red->setBackgroundColor(UIColor::redColor());
    auto rounded = make<UIView>(CGRectMake(60, 10, 40, 40));
    rounded->setBackgroundColor(UIColor::greenColor());
    rounded->layer()->setCornerRadius(12);
    rounded->layer()->setBorderWidth(4);
    rounded->layer()->setBorderColor(UIColor::blackColor()->CGColor());
    auto turned = make<UIView>(CGRectMake(120, 15, 30, 30));
    turned->setBackgroundColor(UIColor::blueColor());
    turned->setTransform(CGAffineTransformMakeRotation(kPi / 4));
    // Row 2: a clipping, rounded container with an overflowing child; a half-transparent pair.
    auto clipper = make<UIView>(CGRectMake(10, 60, 60, 40));
    clipper->setBackgroundColor(UIColor::colorWithWhite(0.5, 1));
    clipper->setClipsToBounds(true);
    clipper->layer()->setCornerRadius(10);
    auto overflow = make<UIView>(CGRectMake(30, 20, 60, 60));
    overflow->setBackgroundColor(UIColor::magentaColor());
    clipper->addSubview(overflow);
    auto ghost = make<UIView>(CGRectMake(80, 60, 40, 40));
    ghost->setBackgroundColor(UIColor::blueColor());
    ghost->setAlpha(0.5);
    auto ghostChild = make<UIView>(CGRectMake(10, 10, 20, 20));
    ghostChild->setBackgroundColor(UIColor::redColor());
    ghost->addSubview(ghostChild);
    auto hidden = make<UIView>(CGRectMake(130, 60, 40, 40));
    hidden->setBackgroundColor(UIColor::blackColor());
    hidden->setHidden(true);
    // Row 3: images in content modes.
    CGImageRef picture = sampleImage();
    auto fill = imageView(CGRectMake(10, 110, 40, 40), UIViewContentModeScaleToFill, picture);
    auto fit = imageView(CGRectMake(60, 110, 40, 40), UIViewContentModeScaleAspectFit, picture);
    auto aspectFill = imageView(CGRectMake(110, 110, 40, 40), UIViewContentModeScaleAspectFill, picture);
    aspectFill->setClipsToBounds(true);
    auto centre = imageView(CGRectMake(160, 110, 30, 30), UIViewContentModeCenter, picture);
    auto top = imageView(CGRectMake(10, 160, 30, 30), UIViewContentModeTop, picture);
    auto bottomRight = imageView(CGRectMake(50, 160, 30, 30), UIViewContentModeBottomRight, picture);
    // Row 4: a drawRect view, a shape layer ring, a scrolled container, an annotation view.
    auto disc = make<DiscView>(CGRectMake(90, 160, 30, 30));
    auto ringHost = make<UIView>(CGRectMake(130, 160, 30, 30));
    auto ring = CAShapeLayer::layer();
    ring->setFrame(ringHost->bounds());
    ring->setPath(UIBezierPath::bezierPathWithArcCenter({15, 15}, 12, -kPi / 2, 3 * kPi / 2, true)->CGPath());
    ring->setFillColor(nullptr);
    ring->setStrokeColor(UIColor::orangeColor()->CGColor());
    ring->setLineWidth(4);
    ring->setStrokeEnd(0.5);  // the right half only
    ringHost->layer()->addSublayer(ring);
    auto scroller = make<UIView>(CGRectMake(10, 200, 60, 30));
    scroller->setBounds(CGRectMake(0, 30, 60, 30));  // scrolled down by 30
    scroller->setClipsToBounds(true);
    auto firstPage = make<UIView>(CGRectMake(0, 0, 60, 30));
    firstPage->setBackgroundColor(UIColor::redColor());
    auto secondPage = make<UIView>(CGRectMake(0, 30, 60, 30));
    secondPage->setBackgroundColor(UIColor::cyanColor());
    scroller->addSubview(firstPage);
    scroller->addSubview(secondPage);
    auto pin = make<MKAnnotationView>(CGRectMake(170, 200, 1, 1));
    pin->setImage(UIImage::imageWithCGImage(picture));

    for (auto& v :
         std::vector<Ref<UIView>>{red, rounded, turned, clipper, ghost, hidden, fill, fit, aspectFill, centre,
                                  top, bottomRight, disc, ringHost, scroller, pin}) {
        window->addSubview(v);
    }

    auto image = UIWindowRenderer::imageOfView(window, 1);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->CGImage()->width(), 200u);
    std::string path = outputFolder() + "/uikit-sample-window.png";
    EXPECT_TRUE(UIWindowRenderer::writePNG(image, path));
    EXPECT_TRUE(std::filesystem::exists(path));

    // Background and plain colour.
    EXPECT_PX(image, 5, 5, 255, 255, 255, 255);
    EXPECT_PX(image, 30, 30, 255, 0, 0, 255);
    // Rounded and bordered: green inside, black border, white outside the rounded corner.
    EXPECT_PX(image, 80, 30, 0, 255, 0, 255);
    EXPECT_PX(image, 80, 11, 0, 0, 0, 255);
    EXPECT_PX(image, 61, 11, 255, 255, 255, 255);
    // Turned square: its centre is blue; the corner of its old frame is now outside, white; the
    // tip of a corner reaches past the old frame.
    EXPECT_PX(image, 135, 30, 0, 0, 255, 255);
    EXPECT_PX(image, 122, 17, 255, 255, 255, 255);
    EXPECT_PX(image, 135, 11, 0, 0, 255, 255);
    // Clipping: the overflowing child shows only inside the rounded container.
    EXPECT_PX(image, 20, 70, 128, 128, 128, 255);
    EXPECT_PX(image, 50, 90, 255, 0, 255, 255);
    EXPECT_PX(image, 68, 98, 255, 255, 255, 255);   // the rounded corner cuts it off
    EXPECT_PX(image, 80, 105, 255, 255, 255, 255);  // below the container: nothing
    // Group opacity: the red child over its blue parent, the pair at half strength over white.
    EXPECT_PX(image, 83, 63, 127, 127, 255, 255);
    EXPECT_PX(image, 100, 80, 255, 127, 127, 255);
    // Hidden views draw nothing.
    EXPECT_PX(image, 150, 80, 255, 255, 255, 255);
    // Scale to fill: the picture stretched over 40 x 40 (green band at the top, upright).
    EXPECT_PX(image, 15, 112, 0, 255, 0, 255);
    EXPECT_PX(image, 15, 140, 255, 0, 0, 255);
    EXPECT_PX(image, 45, 140, 0, 0, 255, 255);
    // Aspect fit: 40 x 20 in the middle, grey bands above and below.
    EXPECT_PX(image, 80, 115, 217, 217, 217, 255);
    EXPECT_PX(image, 65, 135, 255, 0, 0, 255);
    EXPECT_PX(image, 95, 135, 0, 0, 255, 255);
    // Aspect fill, clipped: 80 x 40 centred, so the middle of the picture fills the view.
    EXPECT_PX(image, 112, 140, 255, 0, 0, 255);
    EXPECT_PX(image, 148, 140, 0, 0, 255, 255);
    EXPECT_PX(image, 155, 140, 255, 255, 255, 255);
    // Centre: 20 x 10 at its own size in the middle of 30 x 30.
    EXPECT_PX(image, 162, 112, 217, 217, 217, 255);
    EXPECT_PX(image, 170, 128, 255, 0, 0, 255);
    EXPECT_PX(image, 180, 128, 0, 0, 255, 255);
    // Top: at the top edge, centred across; bottom right: in that corner.
    EXPECT_PX(image, 15, 161, 0, 255, 0, 255);
    EXPECT_PX(image, 15, 185, 217, 217, 217, 255);
    EXPECT_PX(image, 75, 185, 0, 0, 255, 255);
    EXPECT_PX(image, 55, 165, 217, 217, 217, 255);
    // drawRect content drawn straight into the picture.
    EXPECT_PX(image, 105, 175, 255, 255, 0, 255);
    EXPECT_PX(image, 91, 161, 255, 255, 255, 255);
    EXPECT_EQ(disc->draws, 1);
    // The ring: stroked on the right (3 o'clock), not on the left.
    EXPECT_PX(image, 157, 175, 255, 128, 0, 255);
    EXPECT_PX(image, 133, 175, 255, 255, 255, 255);
    // The scrolled container shows its second page.
    EXPECT_PX(image, 40, 215, 0, 255, 255, 255);
    // The annotation view is its picture, centred where it was.
    EXPECT_PX(image, 165, 198, 255, 0, 0, 255);
    EXPECT_PX(image, 175, 198, 0, 0, 255, 255);
}

TEST_F(WindowRenderingTest, DisplayedContentsAndScaleAndScreenComposite) {
    auto window = make<UIWindow>(CGRectMake(0, 0, 20, 20));
    window->setBackgroundColor(UIColor::blackColor());
    auto disc = make<DiscView>(CGRectMake(0, 0, 20, 20));
    window->addSubview(disc);
    window->makeKeyAndVisible();
    disc->setNeedsDisplay();
    testsupport::drainMainRunLoop();
    EXPECT_EQ(disc->draws, 1);
    // Rendering uses the displayed picture; drawRect does not run again.
    auto image = UIWindowRenderer::imageOfView(window, 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->CGImage()->width(), 40u);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(disc->draws, 1);
    EXPECT_PX(image, 20, 20, 255, 255, 0, 255);
    EXPECT_PX(image, 1, 1, 0, 0, 0, 255);

    // The screen: windows by level, placed by their frames, over black.
    UIScreen::mainScreen()->setBoundsSize({40, 40});
    auto overlay = make<UIWindow>(CGRectMake(20, 20, 20, 20));
    overlay->setWindowLevel(UIWindowLevelStatusBar);
    overlay->setBackgroundColor(UIColor::redColor());
    overlay->makeKeyAndVisible();
    auto screen = UIWindowRenderer::imageOfScreen(1);
    UIScreen::mainScreen()->resetToConfiguration();
    ASSERT_TRUE(screen);
    EXPECT_PX(screen, 10, 10, 255, 255, 0, 255);
    EXPECT_PX(screen, 30, 30, 255, 0, 0, 255);
    EXPECT_PX(screen, 35, 5, 0, 0, 0, 255);

    EXPECT_EQ(UIWindowRenderer::imageOfView(make<UIView>(), 1), nullptr);
    EXPECT_EQ(UIWindowRenderer::imageOfView(nullptr, 1), nullptr);
    EXPECT_FALSE(UIWindowRenderer::writePNG(nullptr, outputFolder() + "/none.png"));
}

TEST_F(WindowRenderingTest, TheScreenShowsEveryWindowByLevelAndTheAlertsAtTheirs) {
    UIScreen::mainScreen()->setBoundsSize({320, 480});
    auto window = [](CGRect frame, UIWindowLevel level, const Ref<UIColor>& color) {
        auto w = make<UIWindow>(frame);
        w->setWindowLevel(level);
        w->setBackgroundColor(color);
        w->setHidden(false);
        return w;
    };
    // Ordered in first, yet above the key window by its level.
    auto bar = window(CGRectMake(0, 0, 320, 20), UIWindowLevelStatusBar, UIColor::greenColor());
    auto main = window(CGRectMake(0, 0, 320, 480), UIWindowLevelNormal, UIColor::redColor());
    main->makeKeyAndVisible();
    auto hidden = window(CGRectMake(0, 0, 320, 480), UIWindowLevelNormal + 1, UIColor::blueColor());
    hidden->setHidden(true);
    auto top = window(CGRectMake(280, 440, 40, 40), UIWindowLevelAlert + 1, UIColor::yellowColor());
    auto screen = UIWindowRenderer::imageOfScreen(1);
    EXPECT_PX(screen, 160, 10, 0, 255, 0, 255);
    EXPECT_PX(screen, 160, 100, 255, 0, 0, 255);
    EXPECT_PX(screen, 300, 460, 255, 255, 0, 255);

    // An alert dims what is below the alert level and shows its panel in the middle.
    auto alert = make<UIAlertView>(std::string("Saved"), std::string("The picture is in the album."), nullptr,
                                   std::string("OK"));
    alert->show();
    screen = UIWindowRenderer::imageOfScreen(1);
    EXPECT_PX(screen, 160, 10, 0, 153, 0, 255);
    EXPECT_PX(screen, 10, 240, 153, 0, 0, 255);
    EXPECT_PX(screen, 300, 460, 255, 255, 0, 255);
    for (int y : {200, 240, 280}) {
        RGBA panel = pixelAt(screen, 28, y);  // inside the panel's left margin
        EXPECT_GT(panel.g, 190) << y;
        EXPECT_EQ(panel.r, panel.g) << y;
    }
    UIAlertTestDriver::tapAlertButton(0);
    screen = UIWindowRenderer::imageOfScreen(1);
    UIScreen::mainScreen()->resetToConfiguration();
    EXPECT_PX(screen, 10, 240, 255, 0, 0, 255);
}

TEST_F(WindowRenderingTest, RenderInContextDrawsInTheLayersOwnSpaceWithMasks) {
    auto layer = CALayer::layer();
    layer->setBounds(CGRectMake(0, 0, 10, 10));
    layer->setBackgroundColor(UIColor::blueColor()->CGColor());
    auto mask = CAShapeLayer::layer();
    mask->setFrame(layer->bounds());
    mask->setPath(CGPathCreateWithRect(CGRectMake(0, 0, 5, 10), nullptr));
    layer->setMask(mask);
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10, 10), false, 1);
    layer->renderInContext(UIGraphicsGetCurrentContext());
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    ASSERT_TRUE(image);
    EXPECT_PX(image, 2, 5, 0, 0, 255, 255);
    EXPECT_PX(image, 8, 5, 0, 0, 0, 0);
    layer->renderInContext(nullptr);  // nothing, no crash
}
