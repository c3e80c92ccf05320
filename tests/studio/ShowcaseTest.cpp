// The car on show: angles and their wrap, layout with console and suspension, gestures, the alpha
// hit test and the pixel reader, option and preset rows, the colour wheel, the screenshot and the
// hand-over to the tuning-list screens, rendered pictures against golden ones, and hostile input.

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

#include "app/QVNUserManager.h"
#include "graphics/CGContext.h"
#include "studio/UIImage+ColorAtPixel.h"
#include "tests/studio/CarViewControllerTestSupport.h"
#include "tests/support/GoldenImage.h"
#include "tests/support/ScreenTestSupport.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIPinchGestureRecognizer.h"
#include "uikit/UIWindowRenderer.h"

using namespace carstudiotest;

namespace {

class ShowcaseTest : public CarStudioTest {
  protected:
    // Opens the studio with the default car, lets the overlay leave and goes to modify.
    void openInModify() {
        openWithDefaultCar();
        clock_.advance(3.5);
        studio->carButtonTapped(studio->scrollView2Subviews().front());
        clock_.advance(0.3);
        ASSERT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    }

    template <class T>
    Ref<T> recognizerOf(const Ref<UIView>& view) {
        for (const auto& g : view->gestureRecognizers())
            if (auto r = asKind<T>(g)) return r;
        return nullptr;
    }

    // The first point of a layer (in the showcase) whose pixel is solid.
    std::optional<CGPoint> solidPointOf(const Ref<UIImageView>& layer) {
        CGSize size = layer->bounds().size;
        for (double y = 1; y < size.height; y += 2)
            for (double x = 1; x < size.width; x += 2)
                if (CarViewController::isAlphaVisibleAtPoint(CGPoint{x, y}, layer)) {
                    bool coveredAbove = false;
                    CGPoint inShowcase =
                        layer->convertPointToView(CGPoint{x, y}, studio->showcaseView.lock());
                    const auto& layers = studio->carContainerSubviews();
                    for (auto i = layers.size(); i-- > 0 && layers[i] != layer;) {
                        CGPoint p = layers[i]->convertPointFromView(inShowcase, studio->showcaseView.lock());
                        coveredAbove = coveredAbove || CarViewController::isAlphaVisibleAtPoint(p, layers[i]);
                    }
                    if (!coveredAbove) return inShowcase;
                }
        return std::nullopt;
    }

    Ref<UIImageView> layerOfSelector(const std::string& selector) {
        for (const auto& layer : studio->carContainerSubviews()) {
            auto part = CarViewController::getPartWithImageView(layer);
            if (part && part->selector() == selector) return layer;
        }
        return nullptr;
    }

    testsupport::ManualClock clock_;
};

// A w x h picture whose pixel (x, y) has alpha `alpha(x, y)` and red x, green y.
Ref<UIImage> pictureWith(int w, int h, const std::function<int(int, int)>& alpha) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * w + x) * 4];
            int a = alpha(x, y);
            p[0] = static_cast<std::uint8_t>(std::min(x, a));
            p[1] = static_cast<std::uint8_t>(std::min(y, a));
            p[2] = 0;
            p[3] = static_cast<std::uint8_t>(a);
        }
    auto context = CGBitmapContextCreate(pixels.data(), w, h, 8, w * 4, CGColorSpaceCreateDeviceRGB(),
                                         kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    return UIImage::imageWithCGImage(CGBitmapContextCreateImage(context));
}

}  // namespace

// ---- pixel reader and hit test (no server needed) -------------------------------------------------

TEST(ShowcasePixelTest, ColorAtPixelReadsTheAskedRowAndColumn) {
    auto picture = pictureWith(8, 10, [](int, int) { return 255; });
    CGFloat r, g, b, a;
    auto colour = UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{3, 5});
    ASSERT_NE(colour, nullptr);
    ASSERT_TRUE(colour->getRed(&r, &g, &b, &a));
    EXPECT_NEAR(r * 255, 3, 0.01);
    EXPECT_NEAR(g * 255, 5, 0.01);
    EXPECT_NEAR(a, 1, 0.001);
    // Row 0 is read too (not the row above it), and fractions truncate.
    colour = UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{2.9, 0.7});
    ASSERT_TRUE(colour->getRed(&r, &g, &b, &a));
    EXPECT_NEAR(r * 255, 2, 0.01);
    EXPECT_NEAR(g * 255, 0, 0.01);
    EXPECT_NEAR(a, 1, 0.001);
}

TEST(ShowcasePixelTest, ColorAtPixelOutsideThePictureIsNil) {
    auto picture = pictureWith(8, 10, [](int, int) { return 255; });
    EXPECT_EQ(UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{8, 10}), nullptr);
    EXPECT_EQ(UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{8, 0}), nullptr);
    EXPECT_EQ(UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{-0.1, 3}), nullptr);
    EXPECT_EQ(UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{NAN, 3}), nullptr);
    EXPECT_EQ(UIImage_ColorAtPixel::colorAtPixel(picture, CGPoint{INFINITY, INFINITY}), nullptr);
    EXPECT_EQ(UIImage_ColorAtPixel::colorAtPixel(nullptr, CGPoint{1, 1}), nullptr);
}

TEST(ShowcasePixelTest, HitTestNeedsAlphaAboveFourTenthsAndNonZeroBounds) {
    // Column 0 has alpha 102 (exactly 0.4), column 1 alpha 103.
    auto picture = pictureWith(2, 2, [](int x, int) { return x == 0 ? 102 : 103; });
    auto layer = make<UIImageView>(picture);
    layer->setFrame(CGRect{{0, 0}, {20, 20}});  // shown at ten times the picture's size
    EXPECT_FALSE(CarViewController::isAlphaVisibleAtPoint(CGPoint{5, 5}, layer));
    EXPECT_TRUE(CarViewController::isAlphaVisibleAtPoint(CGPoint{15, 5}, layer));
    EXPECT_FALSE(CarViewController::isAlphaVisibleAtPoint(CGPoint{25, 5}, layer));
    layer->setFrame(CGRectZero);
    EXPECT_FALSE(CarViewController::isAlphaVisibleAtPoint(CGPoint{0, 0}, layer));
    EXPECT_FALSE(CarViewController::isAlphaVisibleAtPoint(CGPoint{0, 0}, make<UIImageView>()));
    EXPECT_FALSE(CarViewController::isAlphaVisibleAtPoint(CGPoint{0, 0}, nullptr));
}

TEST(ShowcasePixelTest, RandomAndHostilePointsNeverCrash) {
    auto picture = pictureWith(16, 12, [](int x, int y) { return (x * 16 + y) % 256; });
    auto layer = make<UIImageView>(picture);
    layer->setFrame(CGRect{{0, 0}, {33, 7}});
    std::mt19937 random(7);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    const double specials[] = {NAN, INFINITY, -INFINITY, 0, -0.0, 1e308, -1e308, 15.999999, 16, 11.9999};
    for (int i = 0; i < 2000; ++i) {
        CGPoint p{any(random), any(random)};
        if (i % 10 == 0) p = CGPoint{specials[i / 10 % 10], specials[(i / 100) % 10]};
        auto colour = UIImage_ColorAtPixel::colorAtPixel(picture, p);
        if (colour) {
            EXPECT_TRUE(p.x >= 0 && p.x < 16 && p.y >= 0 && p.y < 12);
        }
        (void)CarViewController::isAlphaVisibleAtPoint(p, layer);
    }
}

// ---- angles and layout --------------------------------------------------------------------------

TEST_F(ShowcaseTest, AnglesWrapAndPicturesFollowTheAngle) {
    openWithDefaultCar();
    auto hood = layerOfSelector("yinqinggai");
    ASSERT_NE(hood, nullptr);
    for (auto [asked, shown] :
         std::vector<std::pair<long, long>>{{0, 25}, {26, 1}, {-5, 25}, {40, 1}, {7, 7}, {12, 12}}) {
        studio->setCurrentAngle(asked);
        EXPECT_EQ(studio->currentAngle(), shown) << asked;
        auto part = CarViewController::getPartWithImageView(hood);
        EXPECT_EQ(hood->image(),
                  part->imageForAngle(shown < 10 ? "0" + std::to_string(shown) : std::to_string(shown)));
    }
}

TEST_F(ShowcaseTest, ConsoleUpRaisesTheCarAndSuspensionGrowsTheContainer) {
    openInModify();
    auto car = studio->selectedCar();
    const double k = studio->showcaseScale();
    const double d =
        studio->consoleView.lock()->bounds().size.height - studio->btnConsole.lock()->bounds().size.height;
    studio->setCurrentAngle(3);
    CGRect up = studio->carContainer()->frame();
    studio->consoleButtonTapped(nullptr);
    clock_.advance(0.25);
    studio->refreshShowcaseWithAngle(3);
    CGRect down = studio->carContainer()->frame();
    EXPECT_NEAR(down.origin.y - up.origin.y, d / 2, 1e-9);
    EXPECT_NEAR(down.size.height, car->showcaseSize().height * k, 1e-9);

    auto wheels = layerOfSelector("lunke");  // not suspensible
    auto body = layerOfSelector("qianbaowei");
    CGRect wheelsBefore = wheels->frame(), bodyBefore = body->frame();
    studio->downSuspensionButtonTapped(nullptr);
    EXPECT_TRUE(car->suspensionSwitch());
    CGRect lowered = studio->carContainer()->frame();
    EXPECT_NEAR(lowered.size.height - down.size.height, car->suspension() * k, 1e-9);
    EXPECT_NEAR(body->frame().origin.y - bodyBefore.origin.y, car->suspension() * k, 1e-9);
    EXPECT_NEAR(wheels->frame().origin.y, wheelsBefore.origin.y, 1e-9);
    studio->upSuspensionButtonTapped(nullptr);
    EXPECT_FALSE(car->suspensionSwitch());
    EXPECT_NEAR(studio->carContainer()->frame().size.height, down.size.height, 1e-9);
}

// ---- gestures -----------------------------------------------------------------------------------

TEST_F(ShowcaseTest, DragOfTwentyPointsDoesNothingAndTwentyOneTurnsOneStep) {
    openInModify();
    auto showcase = studio->showcaseView.lock();
    auto pan = recognizerOf<UIPanGestureRecognizer>(showcase);
    ASSERT_NE(pan, nullptr);
    studio->setCurrentAngle(10);
    UITestDriver::setGestureRecognizerState(pan, UIGestureRecognizerStateBegan);
    pan->setTranslation(CGPoint{20, 0}, showcase);
    UITestDriver::setGestureRecognizerState(pan, UIGestureRecognizerStateChanged);
    EXPECT_EQ(studio->currentAngle(), 10);
    pan->setTranslation(CGPoint{21, 0}, showcase);
    UITestDriver::setGestureRecognizerState(pan, UIGestureRecognizerStateChanged);
    EXPECT_EQ(studio->currentAngle(), 9);
    EXPECT_DOUBLE_EQ(pan->translationInView(showcase).x, 0);
    pan->setTranslation(CGPoint{-21, 0}, showcase);
    UITestDriver::setGestureRecognizerState(pan, UIGestureRecognizerStateChanged);
    EXPECT_EQ(studio->currentAngle(), 10);
    UITestDriver::setGestureRecognizerState(pan, UIGestureRecognizerStateEnded);
}

TEST_F(ShowcaseTest, RealDragToTheLeftRaisesTheAngle) {
    openInModify();
    studio->setCurrentAngle(5);
    auto showcase = studio->showcaseView.lock();
    UITestDriver::drag(showcase, CGPoint{400, 120}, CGPoint{250, 120}, 15);
    EXPECT_GT(studio->currentAngle(), 5);
    EXPECT_LE(studio->currentAngle(), 12);
}

TEST_F(ShowcaseTest, PinchZoomsAndClampsWhenItEnds) {
    openInModify();
    auto pinch = recognizerOf<UIPinchGestureRecognizer>(studio->showcaseView.lock());
    ASSERT_NE(pinch, nullptr);
    auto run = [&](double start, double scale) {
        studio->setShowcaseScale(start);
        pinch->setScale(scale);
        studio->pinchShowcase(pinch);  // state possible: no change
        UITestDriver::setGestureRecognizerState(pinch, UIGestureRecognizerStateBegan);
        pinch->setScale(scale);
        UITestDriver::setGestureRecognizerState(pinch, UIGestureRecognizerStateChanged);
        double during = studio->showcaseScale();
        UITestDriver::setGestureRecognizerState(pinch, UIGestureRecognizerStateEnded);
        UITestDriver::setGestureRecognizerState(pinch, UIGestureRecognizerStatePossible);
        return std::make_pair(during, studio->showcaseScale());
    };
    auto [d1, e1] = run(0.5, 1.2);
    EXPECT_NEAR(d1, 0.7, 1e-9);
    EXPECT_NEAR(e1, 0.7, 1e-9);
    auto [d2, e2] = run(0.5, 0.7);
    EXPECT_NEAR(d2, 0.4, 1e-9);
    EXPECT_NEAR(e2, 0.5, 1e-9);
    auto [d3, e3] = run(1.4, 1.5);
    EXPECT_NEAR(d3, 1.65, 1e-9);
    EXPECT_NEAR(e3, 1.5, 1e-9);
}

TEST_F(ShowcaseTest, DoubleTapTogglesBetweenHalfAndOneAndAHalf) {
    openInModify();
    studio->setShowcaseScale(0.7);
    studio->doubleTappedOnCarCantainer(nullptr);
    EXPECT_DOUBLE_EQ(studio->showcaseScale(), 0.5);
    studio->doubleTappedOnCarCantainer(nullptr);
    EXPECT_DOUBLE_EQ(studio->showcaseScale(), 1.5);
    EXPECT_NEAR(studio->carContainer()->frame().size.width, studio->selectedCar()->showcaseSize().width * 1.5,
                1e-9);
}

TEST_F(ShowcaseTest, TimedTurnStepsOnePerTickWithTouchesOff) {
    openInModify();
    studio->setCurrentAngle(3);
    studio->showcaseAnimateToAngle(3);
    EXPECT_TRUE(studio->view()->isUserInteractionEnabled());
    EXPECT_EQ(CarViewController::timedTurnSteps(), -1);
    studio->setCurrentAngle(5);
    studio->showcaseAnimateToAngle(9);
    EXPECT_FALSE(studio->view()->isUserInteractionEnabled());
    std::vector<long> seen;
    for (int i = 0; i < 4; ++i) {
        clock_.advance(0.02);
        seen.push_back(studio->currentAngle());
    }
    EXPECT_EQ(seen, (std::vector<long>{6, 7, 8, 9}));
    EXPECT_TRUE(studio->view()->isUserInteractionEnabled());
    EXPECT_EQ(CarViewController::timedTurnSteps(), -1);
    clock_.advance(0.2);
    EXPECT_EQ(studio->currentAngle(), 9);
    // The turn follows the numbers: 24 to 2 steps down 22 times.
    studio->setCurrentAngle(24);
    studio->showcaseAnimateToAngle(2);
    clock_.advance(0.02 * 22 + 0.001);
    EXPECT_EQ(studio->currentAngle(), 2);
}

TEST_F(ShowcaseTest, ChoosingAPartTurnsTheCarToItsAngle) {
    openInModify();
    studio->setCurrentAngle(1);
    auto button = buttonOfPartSelector("qianbaowei");
    ASSERT_NE(button, nullptr);
    button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(studio->selectedPart()->selector(), std::string("qianbaowei"));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(studio->scrollView2Subviews().size(), studio->selectedPart()->options().size());
    clock_.advance(0.02 * 25);
    EXPECT_EQ(studio->currentAngle(), studio->selectedPart()->modifyAngle());
}

TEST_F(ShowcaseTest, TapSelectsTheActivePartUnderTheFingerAndMissGoesPlain) {
    openInModify();
    studio->setCurrentAngle(4);
    auto wheels = layerOfSelector("lunke");
    ASSERT_NE(wheels, nullptr);
    auto point = solidPointOf(wheels);
    ASSERT_TRUE(point.has_value());
    auto showcase = studio->showcaseView.lock();
    UITestDriver::tapAt(showcase, *point);
    clock_.advance(0.5);
    ASSERT_NE(studio->selectedPart(), nullptr);
    EXPECT_EQ(studio->selectedPart()->selector(), std::string("lunke"));
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    EXPECT_DOUBLE_EQ(wheels->alpha(), 1.0);
    // A corner of the showcase, far from the car: nothing is hit.
    UITestDriver::tapAt(showcase, CGPoint{3, 60});
    clock_.advance(0.5);
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStatePlain);
}

TEST_F(ShowcaseTest, TapOnTheInactiveBodyAloneGoesPlain) {
    openInModify();
    auto body = layerOfSelector("cheshen");
    ASSERT_NE(body, nullptr);
    auto point = solidPointOf(body);
    ASSERT_TRUE(point.has_value());
    UITestDriver::tapAt(studio->showcaseView.lock(), *point);
    clock_.advance(0.5);
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStatePlain);
}

// ---- rows ---------------------------------------------------------------------------------------

TEST_F(ShowcaseTest, PartRowGeometryFillsTheRow) {
    openInModify();
    auto row = studio->scrollView1.lock();
    const double g = (row->bounds().size.width - 400) / 9;
    const auto& buttons = studio->scrollView1Subviews();
    long modifiable = 0;
    for (const auto& part : studio->selectedCar()->parts()) modifiable += part->canModify() ? 1 : 0;
    ASSERT_EQ(static_cast<long>(buttons.size()), modifiable + 1);
    for (std::size_t i = 0; i < buttons.size(); ++i)
        EXPECT_NEAR(buttons[i]->frame().origin.x, g + (g + 50) * i, 1e-9);
    EXPECT_NEAR(row->contentSize().width, g + (g + 50) * static_cast<double>(buttons.size()), 1e-9);
}

TEST_F(ShowcaseTest, AnOptionSwapsThePictureAndTheSameOptionOnlyTellsSo) {
    openInModify();
    studio->setCurrentAngle(23);
    buttonOfPartSelector("qianbaowei")->sendActionsForControlEvents(UIControlEventTouchUpInside);
    clock_.advance(0.6);
    auto layer = layerOfSelector("qianbaowei");
    auto before = layer->image();
    auto part = studio->selectedPart();
    Ref<UIButton> other;
    for (const auto& button : studio->scrollView2Subviews())
        if (CarViewController::optionOfButton(button) != part->selectedOption()) other = button;
    ASSERT_NE(other, nullptr);
    other->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_TRUE(waitFor([&] {
        return part->selectedOption() == CarViewController::optionOfButton(other) && layer->image() != before;
    }));
    EXPECT_EQ(studio->selectedOptionButton(), other);
    // Again: only the text HUD, for 0.8 s.
    auto hudsBefore = VHProgressHUD::allHUDsForView(studio->view()).size();
    other->sendActionsForControlEvents(UIControlEventTouchUpInside);
    auto huds = VHProgressHUD::allHUDsForView(studio->view());
    ASSERT_EQ(huds.size(), hudsBefore + 1);
    EXPECT_EQ(huds.back()->labelText(), std::string("该零件已加载到汽车上"));
    EXPECT_EQ(huds.back()->mode(), VHProgressHUDModeText);
}

TEST_F(ShowcaseTest, APresetDressesTheCarAndASecondTapDoesNothing) {
    openInModify();
    auto car = studio->selectedCar();
    Ref<UIButton> track;
    for (const auto& button : studio->scrollView2Subviews())
        if (CarViewController::modificatorOfButton(button)->name() == std::string("赛道套件")) track = button;
    ASSERT_NE(track, nullptr);
    track->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(studio->selectedModificatorButton(), track);
    auto spoiler = car->selectedPartWithPartSelector("weiyi");
    ASSERT_TRUE(waitFor([&] {
        return spoiler->selectedOption()->identifier() == std::string("weiyi_wing") &&
               !spoiler->selectedOption()->images().empty();
    }));
    ASSERT_TRUE(waitFor([&] { return studio->showcaseState() == CarShowcaseStateModify; }));
    studio->modificatorButtonTapped(track);
    EXPECT_EQ(studio->selectedModificatorButton(), track);
    EXPECT_EQ(studio->scrollView2.lock()->contentSize().width,
              20 + 100.0 * static_cast<double>(car->modificators().size()));
}

// ---- the names under the row thumbnails -----------------------------------------------------------

using testsupport::contrastRatio;

// The cars of the chosen brand, then (a tap on the car on show) the presets, then (a tap on a part)
// its options: every name under a thumbnail is in the console's title colour, which reads on the
// console, and shows so in the rendered window, below the thumbnail.
TEST_F(ShowcaseTest, TheNamesUnderTheThumbnailsReadOnTheConsole) {
    using testsupport::RenderedPixels;
    openWithDefaultCar();
    clock_.advance(3.5);  // the entrance overlay leaves
    const RenderedPixels::RGB title = testsupport::rgbOf(CarConsoleTitleColor());
    const RenderedPixels::RGB ground = testsupport::rgbOf(studio->consoleView.lock()->backgroundColor());
    EXPECT_GE(contrastRatio(title, ground), 4.5);

    auto checkNames = [&](const std::string& rowName, std::size_t expected) {
        SCOPED_TRACE(rowName);
        const auto& buttons = studio->scrollView2Subviews();
        ASSERT_EQ(buttons.size(), expected);
        ASSERT_GT(expected, 0u);
        window->layoutIfNeeded();
        // At twice the size, so that the thin strokes of the small names reach their full colour.
        auto image = UIWindowRenderer::imageOfView(window, 2);
        UIWindowRenderer::writePNG(image, testsupport::goldenOutputFolder("studio") + "/row-names-" +
                                              rowName + ".png");
        RenderedPixels pixels(image);
        long drawn = 0;
        for (const auto& button : buttons) {
            Ref<UILabel> name;
            for (const auto& sub : button->subviews())
                if (auto label = asKind<UILabel>(sub)) name = label;
            ASSERT_NE(name, nullptr);
            ASSERT_TRUE(name->text() && !name->text()->empty());
            const RenderedPixels::RGB colour = testsupport::rgbOf(name->textColor());
            EXPECT_EQ(std::tie(colour.red, colour.green, colour.blue),
                      std::tie(title.red, title.green, title.blue))
                << *name->text();
            // The part of the label below the thumbnail, in the window, where only its text draws.
            CGRect below = CGRectIntersection(
                name->convertRectToView(name->bounds(), window),
                button->convertRectToView(CGRect{{-40, button->bounds().size.height}, {400, 100}}, window));
            below = CGRectApplyAffineTransform(below, CGAffineTransformMakeScale(2, 2));
            if (CGRectGetMaxX(below) > pixels.width()) continue;  // scrolled out of sight
            EXPECT_TRUE(pixels.anyNear(below, title, 40)) << *name->text() << " does not show in its colour";
            ++drawn;
        }
        EXPECT_GT(drawn, 0);
    };

    ASSERT_EQ(studio->showcaseState(), CarShowcaseStateChooseCar);
    checkNames("cars", 2);
    UITestDriver::tap(studio->scrollView2Subviews().front());
    clock_.advance(0.3);
    ASSERT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    checkNames("presets", studio->selectedCar()->modificators().size());
    auto bumper = buttonOfPartSelector("qianbaowei");
    ASSERT_NE(bumper, nullptr);
    UITestDriver::tap(bumper);
    clock_.advance(0.6);
    ASSERT_EQ(studio->selectedPart(), CarViewController::partOfButton(bumper));
    checkNames("options", studio->selectedPart()->options().size());
}

// ---- tint ---------------------------------------------------------------------------------------

TEST_F(ShowcaseTest, TheWheelTintsTheSelectedPartAndResetClearsEveryTint) {
    openInModify();
    studio->setCurrentAngle(25);
    auto hood = studio->selectedCar()->selectedPartWithPartSelector("yinqinggai");
    studio->setSelectedPart(hood);
    studio->colorWheelButtonTapped(nullptr);
    clock_.advance(0.3);
    auto wheel = studio->colorWheel.lock();
    // A point on the wheel's rim, right of the centre: a saturated red.
    UITestDriver::tapAt(wheel, CGPoint{140, 75});
    clock_.advance(0.5);
    ASSERT_NE(hood->tintColor(), nullptr);
    CGFloat r, g, b, a;
    ASSERT_TRUE(hood->tintColor()->getRed(&r, &g, &b, &a));
    EXPECT_GT(r, 0.8);
    EXPECT_LT(b, 0.3);
    EXPECT_NEAR(studio->colorPickerIndicator()->center().x, 140, 1e-9);
    auto layer = layerOfSelector("yinqinggai");
    EXPECT_EQ(layer->image(), hood->imageForAngle("25"));
    EXPECT_NE(hood->selectedOption()->tintedImages().size(), 0u);

    studio->colorPickerResetButtonTapped(nullptr);
    for (const auto& part : studio->selectedCar()->parts()) {
        EXPECT_EQ(part->tintColor(), nullptr);
        for (const auto& option : part->options()) EXPECT_EQ(option->tintColor(), nullptr);
    }
}

// The wheel and its cross-hair are drawn at the screen's scale: the wheel's rim is smooth (pixels
// partly covered between the solid wheel and the clear outside), the cross-hair's bars land on whole
// pixels; a tap still reads the colour under the finger, from the centre's white to the rim's hue.
TEST_F(ShowcaseTest, TheWheelAndItsCrossHairAreDrawnAtTheScreensScale) {
    openInModify();
    const CGFloat scale = UIScreen::mainScreen()->scale();
    UITestDriver::tap(studio->btnColorWheel.lock());
    clock_.advance(0.3);
    ASSERT_EQ(studio->showcaseState(), CarShowcaseStateColorWheel);
    auto wheel = studio->colorWheel.lock();
    ASSERT_TRUE(wheel && wheel->image());
    const Ref<UIImage>& picture = wheel->image();
    EXPECT_EQ(picture->scale(), scale);
    EXPECT_EQ(picture->size(), wheel->bounds().size);
    const NSData pixels = detail::pixelsAsPremultipliedBGRA(*picture->CGImage());
    const long side = static_cast<long>(picture->CGImage()->width());
    ASSERT_EQ(side, std::lround(150 * scale));
    auto alpha = [&](long x, long y) { return pixels.bytes()[(y * side + x) * 4 + 3]; };
    long partial = 0;
    for (long y = 0; y < side; ++y)
        for (long x = 0; x < side; ++x) partial += alpha(x, y) > 0 && alpha(x, y) < 255;
    EXPECT_GT(partial, side) << "a stepped rim";
    EXPECT_EQ(alpha(side / 2, side / 2), 255);
    EXPECT_EQ(alpha(0, 0), 0);

    auto hood = studio->selectedCar()->selectedPartWithPartSelector("yinqinggai");
    studio->setSelectedPart(hood);
    struct Tap {
        CGPoint at;
        int red, green, blue;  // the colour expected, within 40
    };
    for (const Tap& tap :
         {Tap{{75, 75}, 255, 255, 255}, Tap{{147, 75}, 255, 8, 8}, Tap{{75, 147}, 134, 255, 8}}) {
        SCOPED_TRACE(testing::Message() << tap.at.x << "," << tap.at.y);
        UITestDriver::tapAt(wheel, tap.at);
        clock_.advance(0.5);
        CGFloat r, g, b, a;
        ASSERT_TRUE(hood->tintColor());
        ASSERT_TRUE(hood->tintColor()->getRed(&r, &g, &b, &a));
        EXPECT_NEAR(r * 255, tap.red, 40);
        EXPECT_NEAR(g * 255, tap.green, 40);
        EXPECT_NEAR(b * 255, tap.blue, 40);
    }

    auto crossHair = studio->colorPickerIndicator();
    ASSERT_TRUE(crossHair->image());
    EXPECT_EQ(crossHair->image()->scale(), scale);
    EXPECT_EQ(crossHair->image()->size(), CGSizeMake(15, 15));
    // Its bars are solid, not greys spread over a pixel's edge.
    const NSData hair = detail::pixelsAsPremultipliedBGRA(*crossHair->image()->CGImage());
    const long hairSide = static_cast<long>(crossHair->image()->CGImage()->width());
    long solid = 0;
    for (long x = 0; x < hairSide; ++x) {
        const int a = hair.bytes()[(1 * hairSide + x) * 4 + 3];
        EXPECT_TRUE(a == 0 || a == 255) << "soft edge at " << x;
        solid += a == 255;
    }
    EXPECT_EQ(solid, std::lround(2 * scale));
}

TEST_F(ShowcaseTest, APresetColourWithoutPartTintsTheWholeCarWithAFlash) {
    openInModify();
    studio->colorPickerCarButtonTapped(nullptr);
    EXPECT_EQ(studio->selectedPart(), nullptr);
    auto swatch = make<UIButton>();
    swatch->setBackgroundColor(UIColor::colorWithRed(0.1, 0.3, 0.9, 1));
    auto before = VHProgressHUD::allHUDsForView(studio->view()).size();
    studio->colorPickerPreinstallButtonTapped(swatch);
    EXPECT_EQ(VHProgressHUD::allHUDsForView(studio->view()).size(), before + 1);
    for (const auto& part : studio->selectedCar()->parts())
        if (part->canColor()) {
            EXPECT_NE(part->tintColor(), nullptr) << part->selector().value_or("");
        }
    clock_.advance(0.6);
    EXPECT_EQ(VHProgressHUD::allHUDsForView(studio->view()).size(), before);
}

// ---- tuning list, screenshot, hand-over ---------------------------------------------------------

TEST_F(ShowcaseTest, TheBuiltListNamesOptionsAndTints) {
    openInModify();
    auto car = studio->selectedCar();
    car->selectedPartWithPartSelector("qianbaowei")->setTintColor(UIColor::colorWithRed(1, 0, 0, 1));
    car->selectedPartWithPartSelector("houbaowei")->setTintColor(UIColor::colorWithWhite(0.5, 1));
    car->selectedPartWithPartSelector("weiyi")->setSelectedOption(nullptr);
    auto list = studio->createTuningListWithCarId(car->cars_id);
    EXPECT_EQ(list->car_id, car->cars_id);
    ASSERT_TRUE(list->optionGroup.has_value());
    const Dictionary& group = *list->optionGroup;
    EXPECT_FALSE(group.containsKey("weiyi"));
    EXPECT_FALSE(group.containsKey("cheshen"));
    EXPECT_EQ(group["lunke"], Value("原厂"));
    const Value& red = group["qianbaowei_color"];
    EXPECT_DOUBLE_EQ(red["r"].doubleValue(), 255);
    EXPECT_DOUBLE_EQ(red["g"].doubleValue(), 0);
    EXPECT_EQ(red["isColor"], Value(1));
    EXPECT_DOUBLE_EQ(group["houbaowei_color"]["g"].doubleValue(), 127.5);
}

TEST_F(ShowcaseTest, ScreenshotShowsAngle24FromTheWindowAndOpensTheSaveScreen) {
    auto screen = makeStudio();
    screen->setActivity(make<QVNActivity>());
    present(screen);
    ASSERT_TRUE(waitFor([&] { return studio->selectedCar() != nullptr; }));
    clock_.advance(3.5);
    studio->joinEventButtonDidTouch(nullptr);
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->title, std::string("请先点击截图按钮"));
    UIAlertTestDriver::tapAlertButton(0);
    clock_.advance(0.1);

    studio->screenShotButton.lock()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(studio->currentAngle(), 24);
    EXPECT_DOUBLE_EQ(studio->showcaseScale(), 1.0);
    EXPECT_EQ(studio->showcaseState(), CarShowcaseStatePlain);
    EXPECT_FALSE(studio->view()->isUserInteractionEnabled());
    EXPECT_EQ(studio->screenShotImage(), nullptr);
    clock_.advance(0.5);
    ASSERT_NE(studio->screenShotImage(), nullptr);
    CGSize screenSize = UIScreen::mainScreen()->bounds().size;
    EXPECT_EQ(studio->screenShotImage()->size().width, screenSize.width);
    EXPECT_EQ(studio->screenShotImage()->scale(), 1);
    EXPECT_TRUE(studio->view()->isUserInteractionEnabled());
    alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->message, std::string("截图成功,你可以进行参与活动"));
    UIAlertTestDriver::tapAlertButton(0);
    UIWindowRenderer::writePNG(studio->screenShotImage(),
                               testsupport::goldenOutputFolder("studio") + "/screenshot_angle24.png");

    studio->saveTuningListButton.lock()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    clock_.advance(1.0);
    auto save = asKind<HandOverScreen>(studio->presentedViewController());
    ASSERT_NE(save, nullptr);
    ASSERT_TRUE(save->handOver.has_value());
    EXPECT_EQ(save->handOver->identifier, CarSegueShowSaveTuningList);
    EXPECT_EQ(save->handOver->screenShotImage, studio->screenShotImage());
    EXPECT_EQ(save->handOver->activity, studio->activity());
    ASSERT_NE(save->handOver->tuningList, nullptr);
    EXPECT_EQ(save->handOver->tuningList->car_id, studio->selectedCar()->cars_id);
    EXPECT_EQ(save->modalPresentationStyle(), UIModalPresentationCustom);
    EXPECT_NE(save->transitioningDelegate(), nullptr);
}

TEST_F(ShowcaseTest, ListScreensNeedASignedInUser) {
    openInModify();
    ASSERT_FALSE(QVNUserManager::shareObject()->hasCurrentUser());
    studio->readTuningList(nullptr);
    auto alert = UIAlertTestDriver::frontmostAlert();
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->title, std::string("请先登录"));
    EXPECT_EQ(alert->buttonTitles, std::vector<std::string>{"确定"});
    UIAlertTestDriver::tapAlertButton(0);
    studio->showTuningListDetail(nullptr);
    EXPECT_EQ(UIAlertTestDriver::frontmostAlert()->title, std::string("请先登录"));
    EXPECT_EQ(studio->presentedViewController(), nullptr);
}

TEST_F(ShowcaseTest, HostileTuningListsNeverBreakTheStudio) {
    openInModify();
    auto car = studio->selectedCar();
    const std::string valid =
        R"({"lunke":"运动轮毂","weiyi":"鸭尾","qianbaowei_color":{"r":255,"g":0,"b":0,"isColor":1}})";
    for (unsigned seed = 0; seed < 60; ++seed) {
        std::string text = seed == 0 ? valid : testsupport::mutate(valid, seed);
        auto list = make<QVNTuningList>(
            Dictionary{{"car_id", car->cars_id ? Value(*car->cars_id) : Value()}, {"jsontxt", text}});
        studio->didSelectTuningList(list);
        ASSERT_TRUE(
            waitFor([&] { return studio->hud()->alpha() == 0 || studio->selectedCar() != nullptr; }, 20));
        clock_.advance(2.5);
    }
    // Ids of the wrong kind or absent find nothing.
    for (Value id : {Value("abc"), Value(), Value(Array{}), Value(-1), Value(1e300)}) {
        auto list = make<QVNTuningList>(Dictionary{{"car_id", id}});
        EXPECT_EQ(studio->getCarFromTuningList(list), nullptr);
    }
    EXPECT_EQ(studio->getCarFromTuningList(nullptr), nullptr);
    ASSERT_TRUE(waitFor([&] { return studio->selectedCar() != nullptr; }, 20));
}

// ---- rendered studio against golden pictures ----------------------------------------------------

TEST_F(ShowcaseTest, RenderedStudioMatchesGoldenPictures) {
    openInModify();
    auto car = studio->selectedCar();
    studio->consoleButtonTapped(nullptr);
    clock_.advance(0.3);
    const std::filesystem::path golden = testsupport::goldenDirectory("studio");
    auto render = [&](const std::string& name) {
        window->layoutIfNeeded();
        auto image = UIWindowRenderer::imageOfView(window, 1);
        testsupport::compareWithGolden(image, golden, name, "studio", 24, 0.01);
    };
    studio->setCurrentAngle(4);
    render("studio_stock_angle04.png");
    // The track preset with a red hood, seen from behind.
    Ref<QVNModificator> track;
    for (const auto& preset : car->modificators())
        if (preset->name() == std::string("赛道套件")) track = preset;
    ASSERT_NE(track, nullptr);
    car->configureSelectedOptionsWithModificator(track);
    int failures = 0, successes = 0;
    auto recorder = make<studiotest::RecordingCarDelegate>();
    car->setDelegate(recorder);
    car->downLoadAndSetupOptionsWithProgress([](std::int64_t, std::int64_t) {},
                                             [&](bool ok) { failures += ok ? 0 : 1; });
    ASSERT_TRUE(waitFor([&] { return recorder->successes > 0 || failures > 0; }));
    ASSERT_EQ(failures, 0);
    (void)successes;
    car->selectedPartWithPartSelector("yinqinggai")->setTintColor(UIColor::colorWithRed(0.85, 0.1, 0.1, 1));
    studio->setCurrentAngle(16);
    render("studio_track_angle16.png");
}
