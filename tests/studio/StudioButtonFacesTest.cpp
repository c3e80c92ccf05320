// The studio's buttons say what they are: each part button, tapped as a user taps it, carries the
// part's name in its picture and shows itself chosen; the return button carries an arrow; the
// console handle's arrow follows the console. The tuning-list panels and the save box are opaque:
// a bright screen behind them does not show through.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "graphics/CGImage.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIFont.h"
#include "studio/StudioScenes.h"
#include "studio/TuningDetailViewController.h"
#include "studio/TuningListSaveViewController.h"
#include "studio/TuningListTableViewController.h"
#include "tests/studio/CarViewControllerTestSupport.h"
#include "tests/studio/MainViewControllerTestSupport.h"
#include "tests/support/ScreenTestSupport.h"
#include "tests/support/TestSupport.h"
#include "uikit/UIWindowRenderer.h"

namespace {

using testsupport::RenderedPixels;

using testsupport::contrastRatio;

bool isWhite(RenderedPixels::RGB p) {
    return p.red >= 225 && p.green >= 225 && p.blue >= 225;
}

// White pixels in a rectangle given in points of a picture rendered at `scale`.
long whitePixels(const RenderedPixels& pixels, CGRect points, double scale) {
    long count = 0;
    for (long y = std::lround(points.origin.y * scale); y < std::lround(CGRectGetMaxY(points) * scale); ++y)
        for (long x = std::lround(points.origin.x * scale); x < std::lround(CGRectGetMaxX(points) * scale);
             ++x)
            if (x >= 0 && y >= 0 && x < pixels.width() && y < pixels.height() && isWhite(pixels.at(x, y)))
                ++count;
    return count;
}

std::string pixelBytes(const Ref<UIImage>& image) {
    if (!image || !image->CGImage()) return {};
    NSData bytes = detail::pixelsAsPremultipliedBGRA(*image->CGImage());
    return std::string(reinterpret_cast<const char*>(bytes.bytes()), bytes.length());
}

// The name band of a part button of side 50 points, where its name is written.
constexpr CGRect kNameBand = {{4, 24}, {42, 16}};

struct PartFace {
    const char* selector;
    const char* name;
};

// The names the tuning-list detail gives the parts, in its order.
const std::vector<PartFace> kPartFaces = {
    {"qianbaowei", "前包围"}, {"yinqinggai", "引擎盖"}, {"lunke", "轮壳"}, {"yeziban", "叶子板"},
    {"cequn", "侧裙"},        {"houbaowei", "后包围"},  {"weiyi", "尾翼"},
};

class StudioButtonFacesTest : public carstudiotest::CarStudioTest {
  protected:
    // The default car in the modify state, reached by tapping the car on show in the lower row.
    void openInModify() {
        openWithDefaultCar();
        clock_.advance(3.5);  // the entrance overlay leaves
        ASSERT_FALSE(studio->scrollView2Subviews().empty());
        UITestDriver::tap(studio->scrollView2Subviews().front());
        clock_.advance(0.3);
        ASSERT_EQ(studio->showcaseState(), CarShowcaseStateModify);
    }

    RenderedPixels renderWindow() {
        window->layoutIfNeeded();
        return RenderedPixels(UIWindowRenderer::imageOfView(window, 2));
    }

    testsupport::ManualClock clock_;
};

}  // namespace

TEST(StudioPartNamesTest, TheNamesAreTheTuningListDetailsRowTitles) {
    ASSERT_EQ(TuningDetailViewController::slots().size(), kPartFaces.size());
    for (std::size_t i = 0; i < kPartFaces.size(); ++i) {
        EXPECT_EQ(TuningDetailViewController::slots()[i].first, kPartFaces[i].selector);
        EXPECT_EQ(CarStudioResources::partName(kPartFaces[i].selector), kPartFaces[i].name);
    }
    EXPECT_EQ(CarStudioResources::partName("cheshen"), "车身");
    EXPECT_EQ(CarStudioResources::partName("unknown_part"), "unknown_part");
    EXPECT_EQ(CarStudioResources::partName(""), "");
    EXPECT_FALSE(CarStudioResources::drawPartButton("lunke", false, 0));
    EXPECT_FALSE(CarStudioResources::drawBackButton(false, -4));
}

// Each name fits inside its disc: measured in the button's font it is narrower than the band, and
// no white pixel of the band lies outside the disc's inner edge.
TEST(StudioPartNamesTest, EveryNameFitsInsideItsDisc) {
    Dictionary attributes;
    attributes.setObject(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(11)));
    std::vector<std::pair<std::string, std::string>> faces;
    for (const auto& face : kPartFaces) faces.emplace_back(face.selector, face.name);
    faces.emplace_back("cheshen", "车身");
    for (const auto& [selector, name] : faces) {
        SCOPED_TRACE(selector);
        EXPECT_LT(NSStringDrawing::sizeWithAttributes(name, attributes).width, kNameBand.size.width);
        for (bool pressed : {false, true}) {
            RenderedPixels pixels(CarStudioResources::drawPartButton(selector, pressed));
            long inside = 0;
            for (long y = 24 * 2; y < 40 * 2; ++y)
                for (long x = 0; x < pixels.width(); ++x) {
                    if (!isWhite(pixels.at(x, y))) continue;
                    const double dx = (x + 0.5) / 2 - 25, dy = (y + 0.5) / 2 - 25;
                    // The pressed disc's rim is white: only text within the rim counts.
                    const double rim = pressed ? 21 : 22.5;
                    if (std::hypot(dx, dy) >= rim) continue;
                    ++inside;
                    EXPECT_LT(std::abs(dx), 21) << "a name reaches the rim at x " << x;
                }
            EXPECT_GT(inside, 60) << "no name written";
        }
    }
}

// Table-driven over the parts: a tap on each part's button chooses the part, the button shows its
// pressed picture (red disc, white rim) where the others keep the plain one (dark disc, grey rim),
// the pictures of two parts differ where their names are, and the rendered window shows the name
// in white on the button.
TEST_F(StudioButtonFacesTest, EachPartButtonCarriesItsNameAndShowsWhenChosen) {
    openInModify();
    std::set<std::string> nameBands, upPictures;
    for (const auto& face : kPartFaces) {
        SCOPED_TRACE(face.selector);
        auto button = buttonOfPartSelector(face.selector);
        ASSERT_NE(button, nullptr);
        UITestDriver::tap(button);
        clock_.advance(0.6);
        ASSERT_NE(studio->selectedPart(), nullptr);
        EXPECT_EQ(studio->selectedPart()->selector(), std::string(face.selector));
        EXPECT_FALSE(button->isEnabled());

        Ref<UIImage> up = button->backgroundImageForState(UIControlStateNormal);
        Ref<UIImage> down = button->backgroundImageForState(UIControlStateDisabled);
        ASSERT_TRUE(up && down);
        EXPECT_EQ(button->currentBackgroundImage(), down);
        EXPECT_EQ(button->backgroundImageForState(UIControlStateHighlighted), down);
        // Sharp on the 2x screen, at the button's size.
        EXPECT_EQ(up->scale(), 2);
        EXPECT_EQ(up->size().width, button->bounds().size.width);
        EXPECT_EQ(down->size().height, button->bounds().size.height);

        RenderedPixels upPixels(up), downPixels(down);
        // The rim (at 2.5 points from the edge) and the disc below the name.
        RenderedPixels::RGB upRim = upPixels.at(5, 50), downRim = downPixels.at(5, 50);
        RenderedPixels::RGB upDisc = upPixels.at(50, 90), downDisc = downPixels.at(50, 90);
        EXPECT_TRUE(isWhite(downRim));
        EXPECT_FALSE(isWhite(upRim));
        EXPECT_GT(downDisc.red, 150);
        EXPECT_LT(downDisc.green, 80);
        EXPECT_LT(std::max({upDisc.red, upDisc.green, upDisc.blue}), 80);
        // The name, in white, in both pictures.
        EXPECT_GT(whitePixels(upPixels, kNameBand, 2), 60);
        EXPECT_GT(whitePixels(downPixels, kNameBand, 2), 60);

        UIGraphicsBeginImageContextWithOptions(kNameBand.size, false, 2);
        up->drawAtPoint(CGPointMake(-kNameBand.origin.x, -kNameBand.origin.y));
        nameBands.insert(pixelBytes(UIGraphicsGetImageFromCurrentImageContext()));
        UIGraphicsEndImageContext();
        upPictures.insert(pixelBytes(up));

        // Rendered in the window: the chosen button shows its name in white.
        RenderedPixels shown = renderWindow();
        CGRect band = button->convertRectToView(kNameBand, window);
        EXPECT_GT(whitePixels(shown, band, 2), 60) << "the name does not show on the screen";
        // The other buttons are not marked.
        for (const auto& other : kPartFaces) {
            if (other.selector == face.selector) continue;
            auto plain = buttonOfPartSelector(other.selector);
            EXPECT_TRUE(plain && plain->isEnabled()) << other.selector;
        }
    }
    EXPECT_EQ(nameBands.size(), kPartFaces.size()) << "two parts carry the same name";
    EXPECT_EQ(upPictures.size(), kPartFaces.size());

    // The presets button: its own name, "套件", marked in the same way once tapped.
    auto presets = studio->scrollView1Subviews().front();
    UITestDriver::tap(presets);
    clock_.advance(0.6);
    EXPECT_FALSE(presets->isEnabled());
    RenderedPixels presetsUp(presets->backgroundImageForState(UIControlStateNormal));
    RenderedPixels presetsDown(presets->currentBackgroundImage());
    EXPECT_GT(whitePixels(presetsUp, kNameBand, 2), 60);
    EXPECT_TRUE(isWhite(presetsDown.at(5, 50)));
    EXPECT_EQ(nameBands.count([&] {
        UIGraphicsBeginImageContextWithOptions(kNameBand.size, false, 2);
        presets->backgroundImageForState(UIControlStateNormal)
            ->drawAtPoint(CGPointMake(-kNameBand.origin.x, -kNameBand.origin.y));
        auto band = pixelBytes(UIGraphicsGetImageFromCurrentImageContext());
        UIGraphicsEndImageContext();
        return band;
    }()),
              0u);
}

// The return button is no plain disc: a white arrow pointing left sits on a dark disc, on the
// screen as in the picture.
TEST_F(StudioButtonFacesTest, TheReturnButtonShowsAnArrowOnTheDarkScreen) {
    openWithDefaultCar();
    clock_.advance(3.5);
    auto back = studio->returnBtn.lock();
    ASSERT_NE(back, nullptr);
    Ref<UIImage> face = back->currentImage();
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->scale(), 2);
    RenderedPixels pixels(face);
    // Across the middle row: the arrow's tip left of centre is white, the disc right of it dark.
    EXPECT_TRUE(isWhite(pixels.at(17 * 2, 22 * 2)));
    RenderedPixels::RGB disc = pixels.at(32 * 2, 22 * 2);
    EXPECT_LT(std::max({disc.red, disc.green, disc.blue}), 80);
    // The arrow's two arms, above and below the tip, further right.
    EXPECT_TRUE(isWhite(pixels.at(24 * 2 + 1, 13 * 2 + 1)));
    EXPECT_TRUE(isWhite(pixels.at(24 * 2 + 1, 31 * 2 - 1)));
    EXPECT_NE(pixelBytes(face), pixelBytes(back->imageForState(UIControlStateHighlighted)));

    RenderedPixels shown = renderWindow();
    CGRect frame = back->convertRectToView(back->bounds(), window);
    EXPECT_GT(whitePixels(shown, frame, 2), 40);
    // Outside the disc, in the button's corner, the screen shows: no square frames the disc.
    RenderedPixels::RGB corner =
        shown.at(std::lround(frame.origin.x * 2 + 2), std::lround(frame.origin.y * 2 + 2));
    RenderedPixels::RGB ground = testsupport::rgbOf(studio->showcaseView.lock()->backgroundColor());
    EXPECT_NEAR(corner.red, ground.red, 3);
    EXPECT_NEAR(corner.green, ground.green, 3);
    EXPECT_NEAR(corner.blue, ground.blue, 3);
}

// The handle's arrow shows where a tap sends the console: down while it is up, up once lowered,
// and back.
TEST_F(StudioButtonFacesTest, TheConsoleHandlesArrowFollowsTheConsole) {
    openInModify();
    auto handle = studio->btnConsole.lock();
    ASSERT_NE(handle, nullptr);
    auto lower = UIImage::imageNamed(CarStudioResources::kConsoleLowerImage);
    auto raise = UIImage::imageNamed(CarStudioResources::kConsoleRaiseImage);
    ASSERT_TRUE(lower && raise);
    // The tip of the arrow: low in the picture for "down", high for "up".
    EXPECT_TRUE(isWhite(RenderedPixels(lower).at(24, 22)));
    EXPECT_FALSE(isWhite(RenderedPixels(lower).at(24, 6)));
    EXPECT_TRUE(isWhite(RenderedPixels(raise).at(24, 6)));
    EXPECT_FALSE(isWhite(RenderedPixels(raise).at(24, 22)));

    EXPECT_FALSE(studio->consoleHidden());
    EXPECT_EQ(handle->currentImage(), lower);
    for (bool hidden : {true, false}) {
        UITestDriver::tap(handle);
        clock_.advance(0.3);
        EXPECT_EQ(studio->consoleHidden(), hidden);
        EXPECT_EQ(handle->currentImage(), hidden ? raise : lower);
        RenderedPixels shown = renderWindow();
        CGRect frame = handle->convertRectToView(handle->bounds(), window);
        EXPECT_GT(whitePixels(shown, frame, 2), 20) << "the arrow does not show";
    }
}

// ---- the tuning-list panels ---------------------------------------------------------------------

namespace {

class TuningPanelsTest : public hometest::ScreenTest {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        if (HasFatalFailure()) return;
        home = make<UIViewController>();
        show(home);
        // A bright screen below, which an opaque panel hides.
        behind = make<UIViewController>();
        behind->view()->setBackgroundColor(UIColor::colorWithRed(0, 1, 0, 1));
        home->presentViewController(behind, false);
        settle();
    }
    template <class T>
    Ref<T> scene(const char* identifier) {
        return std::dynamic_pointer_cast<T>(UIStoryboard::storyboardWithName("Car", nullptr)
                                                ->instantiateViewControllerWithIdentifier(identifier));
    }

    Ref<UIViewController> home, behind;
};

struct PanelCase {
    const char* name;
    // Presents the screen over the bright one and gives its panel and a point of the panel (in the
    // panel) where nothing but the panel draws.
    std::function<std::pair<Ref<UIView>, CGPoint>()> open;
};

}  // namespace

TEST_F(TuningPanelsTest, ThePanelsAreOpaqueOverTheScreenBelow) {
    signIn();
    const std::vector<PanelCase> cases = {
        {"list",
         [this] {
             auto list = scene<TuningListTableViewController>(MainStoryboard::kTuningListIdentifier);
             behind->presentViewController(list, false);
             clock.advance(2.5);  // the HUD of the empty list leaves
             auto panel = list->tableView.lock()->superview();
             return std::make_pair(panel, CGPointMake(4, panel->bounds().size.height / 2));
         }},
        {"detail",
         [this] {
             auto detail = scene<TuningDetailViewController>(MainStoryboard::kTuningDetailIdentifier);
             auto list = make<QVNTuningList>();
             list->optionGroup = Dictionary{{"qianbaowei", "竞技前包"}, {"weiyi", "碳纤尾翼"}};
             detail->setTuningList(list);
             behind->presentViewController(detail, false);
             settle();
             auto panel = detail->tableView.lock()->superview();
             return std::make_pair(panel, CGPointMake(4, panel->bounds().size.height / 2));
         }},
        {"save box",
         [this] {
             auto box = scene<TuningListSaveViewController>(MainStoryboard::kTuningSaveIdentifier);
             auto list = make<QVNTuningList>();
             list->car_id = NSNumber::numberWithInt(101);
             box->setTuningList(list);
             behind->presentViewController(box, true);
             clock.advance(1.1);
             // The box's buttons read on their own backgrounds.
             for (const auto& button : {box->configureButton.lock(), box->cancelButton.lock()}) {
                 RenderedPixels::RGB ground = testsupport::rgbOf(button->backgroundColor());
                 if (button->backgroundColor()->alpha() < 1)  // over the panel
                     ground = testsupport::rgbOf(box->popUpView.lock()->backgroundColor());
                 EXPECT_GE(contrastRatio(testsupport::rgbOf(button->titleColorForState(UIControlStateNormal)),
                                         ground),
                           4.5)
                     << button->titleForState(UIControlStateNormal).value_or("");
             }
             return std::make_pair(box->popUpView.lock(), CGPointMake(8, 100));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto [panel, inside] = c.open();
        ASSERT_NE(panel, nullptr);
        CGFloat r = 0, g = 0, b = 0, a = 0;
        ASSERT_TRUE(panel->backgroundColor() && panel->backgroundColor()->getRed(&r, &g, &b, &a));
        EXPECT_EQ(a, 1);
        EXPECT_EQ(panel->alpha(), 1);

        window->layoutIfNeeded();
        RenderedPixels shown(UIWindowRenderer::imageOfView(window, 1));
        const RenderedPixels::RGB colour = testsupport::rgbOf(panel->backgroundColor());
        CGPoint at = panel->convertPointToView(inside, window);
        RenderedPixels::RGB under = shown.at(std::lround(at.x), std::lround(at.y));
        EXPECT_NEAR(under.red, colour.red, 3);
        EXPECT_NEAR(under.green, colour.green, 3);
        EXPECT_NEAR(under.blue, colour.blue, 3);
        // Beside the panel the screen below still shows (dimmed at most).
        CGPoint beside = panel->convertPointToView(CGPointMake(-6, 10), window);
        RenderedPixels::RGB outside = shown.at(std::lround(beside.x), std::lround(beside.y));
        EXPECT_GT(outside.green, outside.red + 40);

        behind->dismissViewControllerAnimated(false);
        settle();
    }
}

namespace {

// A resources folder an earlier version wrote (one-scale pictures of the same names, with no stamp
// or an older one) gets the current pictures; a current folder is left as it is.
TEST(StudioResourcesFolderTest, AFolderOfAnEarlierVersionIsWrittenAgain) {
    for (const char* stamp : {"", "2"}) {
        SCOPED_TRACE(std::string("stamp '") + stamp + "'");
        testsupport::TemporaryDirectory folder;
        const std::filesystem::path root(folder.path());
        for (const char* old : {"color_wheel.png", "shizi.png", "back_up.png", "qianbaowei_up.png"})
            std::ofstream(root / old) << "an earlier picture";
        if (*stamp) std::ofstream(root / "studio-artwork.version") << stamp;
        ASSERT_TRUE(StudioScenes::writeResources(folder.path()));
        for (const char* name : {"back_up", "qianbaowei_up", "color_wheel", "shizi"}) {
            EXPECT_TRUE(std::filesystem::exists(root / (std::string(name) + "@2x.png"))) << name;
            EXPECT_FALSE(std::filesystem::exists(root / (std::string(name) + ".png"))) << name;
        }

        // Written once: a second start keeps what is there.
        std::ofstream(root / "back_up@2x.png", std::ios::trunc) << "kept";
        ASSERT_TRUE(StudioScenes::writeResources(folder.path()));
        EXPECT_EQ(std::filesystem::file_size(root / "back_up@2x.png"), 4u);
    }
}

}  // namespace
