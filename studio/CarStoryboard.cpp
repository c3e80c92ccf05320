#include "studio/CarStoryboard.h"

#include <algorithm>

#include "graphics/NSParagraphStyle.h"
#include "graphics/UIFont.h"
#include "studio/CarStudioResources.h"
#include "studio/CarViewController.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UILabel.h"
#include "uikit/UINib.h"
#include "uikit/UIPanGestureRecognizer.h"
#include "uikit/UIPinchGestureRecognizer.h"
#include "uikit/UIScreen.h"
#include "uikit/UIStoryboard.h"
#include "uikit/UITapGestureRecognizer.h"

namespace {

Ref<UIColor> rgb(int r, int g, int b, double a = 1) {
    return UIColor::colorWithRed(r / 255.0, g / 255.0, b / 255.0, a);
}

using Handler = void (CarViewController::*)(const Ref<NSObject>&);

Ref<UIButton> addButton(const Ref<UIView>& parent, const Ref<CarViewController>& owner, CGRect frame,
                        const std::string& title, Handler action, const std::string& selector) {
    auto button = make<UIButton>(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(CarConsoleTitleColor(), UIControlStateNormal);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(11));
    button->setBackgroundColor(rgb(40, 44, 52, 0.85));
    if (action) button->addTarget(owner, action, selector, UIControlEventTouchUpInside);
    parent->addSubview(button);
    return button;
}

template <class Method>
Ref<UIGestureRecognizer> recognizer(Ref<UIGestureRecognizer> made, const Ref<CarViewController>& owner,
                                    Method method) {
    Weak<CarViewController> weak = owner;
    made->addTarget(owner, [weak, method](const Ref<UIGestureRecognizer>& g) {
        if (auto self = weak.lock()) ((*self).*method)(g);
    });
    return made;
}

Ref<UIView> buildScene(UIViewController& controller) {
    auto owner = controller.selfAs<CarViewController>();
    CGSize screen = UIScreen::mainScreen()->bounds().size;
    const double W = std::max(screen.width, screen.height);
    const double H = std::min(screen.width, screen.height);

    auto root = make<UIView>(CGRect{{0, 0}, {W, H}});
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->setBackgroundColor(rgb(22, 24, 30));

    // The showcase: the area the car is drawn in, with its gestures.
    auto showcase = make<UIView>(CGRect{{0, 0}, {W, H}});
    showcase->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    showcase->setBackgroundColor(rgb(58, 62, 72));
    showcase->addGestureRecognizer(
        recognizer(make<UITapGestureRecognizer>(), owner, &CarViewController::tapOnShowcaseView));
    showcase->addGestureRecognizer(
        recognizer(make<UIPanGestureRecognizer>(), owner, &CarViewController::panOnContainer));
    showcase->addGestureRecognizer(
        recognizer(make<UIPinchGestureRecognizer>(), owner, &CarViewController::pinchShowcase));
    root->addSubview(showcase);
    owner->showcaseView = showcase;

    // The console, placed by constraints so that its bottom offset slides it.
    auto console = make<UIView>(CGRect{{0, H - kCarConsoleHeight}, {W, kCarConsoleHeight}});
    console->setBackgroundColor(rgb(18, 20, 26, 0.92));
    console->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(console);
    root->addConstraint(NSLayoutConstraint::constraintWithItem(
        console, NSLayoutAttributeLeft, NSLayoutRelationEqual, root, NSLayoutAttributeLeft, 1, 0));
    root->addConstraint(NSLayoutConstraint::constraintWithItem(
        console, NSLayoutAttributeWidth, NSLayoutRelationEqual, root, NSLayoutAttributeWidth, 1, 0));
    root->addConstraint(NSLayoutConstraint::constraintWithItem(
        console, NSLayoutAttributeHeight, NSLayoutRelationEqual, nullptr, NSLayoutAttributeNotAnAttribute, 1,
        kCarConsoleHeight));
    auto bottom = NSLayoutConstraint::constraintWithItem(root, NSLayoutAttributeBottom, NSLayoutRelationEqual,
                                                         console, NSLayoutAttributeBottom, 1, 0);
    root->addConstraint(bottom);
    owner->consoleView = console;
    owner->cstConsole = bottom;

    auto handle = addButton(console, owner, CGRect{{W / 2 - 30, 0}, {60, kCarConsoleHandleHeight}}, "",
                            &CarViewController::consoleButtonTapped, "consoleButtonTapped:");
    handle->setBackgroundColor(rgb(90, 96, 110));
    // The arrow shows where a tap sends the console: down while it is up, up once it is lowered
    // (the studio marks the handle selected then).
    auto lower = UIImage::imageNamed(CarStudioResources::kConsoleLowerImage);
    auto raise = UIImage::imageNamed(CarStudioResources::kConsoleRaiseImage);
    handle->setImage(lower, UIControlStateNormal);
    handle->setImage(lower, UIControlStateHighlighted);
    handle->setImage(raise, UIControlStateSelected);
    handle->setImage(raise, UIControlStateSelected | UIControlStateHighlighted);
    owner->btnConsole = handle;
    auto row1 = make<UIScrollView>(CGRect{{0, kCarConsoleHandleHeight}, {W, kCarFirstRowHeight}});
    auto row2 = make<UIScrollView>(
        CGRect{{0, kCarConsoleHandleHeight + kCarFirstRowHeight}, {W, kCarSecondRowHeight}});
    console->addSubview(row1);
    console->addSubview(row2);
    owner->scrollView1 = row1;
    owner->scrollView2 = row2;

    // Buttons along the top and the right edge.
    auto back = addButton(root, owner, CGRect{{10, 10}, {44, 44}}, "", nullptr, "");
    // Its picture is a disc of its own: a square behind it would frame the disc.
    back->setBackgroundColor(UIColor::clearColor());
    owner->returnBtn = back;
    owner->btnShare = addButton(root, owner, CGRect{{W - 54, 10}, {44, 44}}, "分享",
                                &CarViewController::shareButtonTapped, "shareButtonTapped:");
    owner->screenShotButton = addButton(root, owner, CGRect{{W - 108, 10}, {44, 44}}, "截图",
                                        &CarViewController::screenShot, "screenShot:");
    owner->saveTuningListButton =
        addButton(root, owner, CGRect{{W - 162, 10}, {44, 44}}, "参与",
                  &CarViewController::joinEventButtonDidTouch, "joinEventButtonDidTouch:");
    owner->tuningListButton = addButton(root, owner, CGRect{{W - 216, 10}, {44, 44}}, "清单",
                                        &CarViewController::readTuningList, "readTuningList:");
    owner->tuningListDetailButton =
        addButton(root, owner, CGRect{{W - 270, 10}, {44, 44}}, "详情",
                  &CarViewController::showTuningListDetail, "showTuningListDetail:");
    owner->btnColorWheel = addButton(root, owner, CGRect{{W - 54, 64}, {44, 44}}, "颜色",
                                     &CarViewController::colorWheelButtonTapped, "colorWheelButtonTapped:");
    owner->btnPartsReset = addButton(root, owner, CGRect{{W - 54, 118}, {44, 44}}, "重置",
                                     &CarViewController::partResetButtonTapped, "partResetButtonTapped:");
    auto suspension = make<UIView>(CGRect{{W - 54, 118}, {44, 92}});
    addButton(suspension, owner, CGRect{{0, 0}, {44, 44}}, "升", &CarViewController::upSuspensionButtonTapped,
              "upSuspensionButtonTapped:");
    addButton(suspension, owner, CGRect{{0, 48}, {44, 44}}, "降",
              &CarViewController::downSuspensionButtonTapped, "downSuspensionButtonTapped:");
    root->addSubview(suspension);
    owner->btnSuspension = suspension;

    // The colour panel.
    auto panel = make<UIView>(CGRect{{W - 260, 60}, {196, 218}});
    panel->setBackgroundColor(rgb(18, 20, 26, 0.85));
    auto wheel = make<UIImageView>(UIImage::imageNamed("color_wheel"));
    wheel->setFrame(CGRect{{23, 0}, {150, 150}});
    wheel->setUserInteractionEnabled(true);
    wheel->addGestureRecognizer(
        recognizer(make<UITapGestureRecognizer>(), owner, &CarViewController::pickColor));
    wheel->addGestureRecognizer(
        recognizer(make<UIPanGestureRecognizer>(), owner, &CarViewController::pickColor));
    panel->addSubview(wheel);
    owner->colorWheel = wheel;
    auto colours = make<UIScrollView>(CGRect{{0, 156}, {196, 30}});
    int i = 0;
    for (const auto& c : kCarPresetColours) {
        auto swatch = make<UIButton>(UIButtonTypeCustom);
        swatch->setFrame(CGRect{{5.0 + 39.0 * i, 0}, {30, 30}});
        swatch->setBackgroundColor(rgb(c[0], c[1], c[2]));
        swatch->addTarget(owner, &CarViewController::colorPickerPreinstallButtonTapped,
                          "colorPickerPreinstallButtonTapped:", UIControlEventTouchUpInside);
        colours->addSubview(swatch);
        ++i;
    }
    panel->addSubview(colours);
    owner->colorPickerScrollView = colours;
    addButton(panel, owner, CGRect{{4, 190}, {90, 24}}, "整车",
              &CarViewController::colorPickerCarButtonTapped, "colorPickerCarButtonTapped:");
    addButton(panel, owner, CGRect{{102, 190}, {90, 24}}, "还原",
              &CarViewController::colorPickerResetButtonTapped, "colorPickerResetButtonTapped:");
    root->addSubview(panel);
    owner->colorPicker = panel;

    root->layoutIfNeeded();
    return root;
}

// The loading overlay: a dark sheet with the logo and a turning indicator in its middle.
std::vector<Ref<NSObject>> buildEntrance(const Ref<NSObject>& owner, const Dictionary&) {
    CGSize screen = UIScreen::mainScreen()->bounds().size;
    const double W = std::max(screen.width, screen.height);
    const double H = std::min(screen.width, screen.height);
    auto sheet = make<UIView>(CGRect{{0, 0}, {W, H}});
    sheet->setBackgroundColor(rgb(12, 12, 16));
    auto logo = make<UIImageView>(CGRect{{W / 2 - 40, H / 2 - 40}, {80, 80}});
    logo->setBackgroundColor(rgb(200, 30, 40));
    auto indicator = make<UIImageView>(CGRect{{W / 2 - 50, H / 2 - 50}, {100, 100}});
    indicator->setImage(UIImage::imageNamed("zhengti_up"));
    sheet->addSubview(indicator);
    sheet->addSubview(logo);
    if (auto studio = asKind<CarViewController>(owner)) {
        studio->modifyEntranceLogo = logo;
        studio->modifyEntranceIndicator = indicator;
    }
    return {sheet};
}

}  // namespace

Ref<UIColor> CarConsoleTitleColor() {
    return UIColor::whiteColor();
}

void CarStoryboardRegister() {
    {
        UIStoryboard::registerStoryboard("Car", std::string("CarViewController"));
        UIStoryboard::registerScene("Car", "CarViewController", [](UIStoryboard&) -> Ref<UIViewController> {
            auto studio = make<CarViewController>();
            studio->setViewLoader(buildScene);
            studio->declareSegue(CarSegueShowTuningLists, UIStoryboardSegueKind::Present,
                                 "TuningListTableViewController");
            studio->declareSegue(CarSegueShowTuningListDetail, UIStoryboardSegueKind::Present,
                                 "TuningDetailViewController");
            studio->declareSegue(CarSegueShowSaveTuningList, UIStoryboardSegueKind::Present,
                                 "TuningListSaveViewController");
            return studio;
        });
        UINib::registerNib("ModifyEntranceView", buildEntrance);
    }
}
