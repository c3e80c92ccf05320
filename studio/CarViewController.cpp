// The studio's shell: entering, the five UI states, the console slide, the HUD, the loading
// overlay, alerts, orientation and the transitioning delegate.

#include "studio/CarViewController.h"
#include "studio/CarViewControllerInternal.h"

#include <cmath>

#include "app/QVNTAAnalyticsHelper.h"
#include "controls/VHProgressHUD.h"
#include "foundation/NSMainThreadCheck.h"
#include "net/Reachability.h"
#include "sdk/analytics/collection/Tally.h"
#include "uikit/UINib.h"

namespace detail::carstudio {
int modifyEntranceStep = 0;
long timedTurnSteps = -1;
double pinchStartScale = 0;
}  // namespace detail::carstudio

namespace {

// The indicator turns by half a turn plus a hundredth per step.
constexpr double kIndicatorTurn = 3.151592653589793;

std::map<std::string, CarViewController::SegueReceiver>& receivers() {
    static std::map<std::string, CarViewController::SegueReceiver> all;
    return all;
}

CarViewController::AnimatorFactory& presentingAnimator() {
    static CarViewController::AnimatorFactory factory;
    return factory;
}

CarViewController::AnimatorFactory& dismissingAnimator() {
    static CarViewController::AnimatorFactory factory;
    return factory;
}

void setHidden(const Weak<UIView>& view, bool hidden) {
    if (auto v = view.lock()) v->setHidden(hidden);
}

void setHidden(const Weak<UIButton>& view, bool hidden) {
    if (auto v = view.lock()) v->setHidden(hidden);
}

}  // namespace

CarViewController::CarViewController() = default;

CarViewController::~CarViewController() = default;

int CarViewController::modifyEntranceStep() {
    return detail::carstudio::modifyEntranceStep;
}

long CarViewController::timedTurnSteps() {
    return detail::carstudio::timedTurnSteps;
}

double CarViewController::pinchStartScale() {
    return detail::carstudio::pinchStartScale;
}

void CarViewController::resetSharedState() {
    detail::carstudio::modifyEntranceStep = 0;
    detail::carstudio::timedTurnSteps = -1;
    detail::carstudio::pinchStartScale = 0;
}

void CarViewController::registerSegueReceiver(const std::string& identifier, SegueReceiver receiver) {
    if (receiver)
        receivers()[identifier] = std::move(receiver);
    else
        receivers().erase(identifier);
}

void CarViewController::setTransitionAnimators(AnimatorFactory presenting, AnimatorFactory dismissing) {
    presentingAnimator() = std::move(presenting);
    dismissingAnimator() = std::move(dismissing);
}

// ---- life cycle ---------------------------------------------------------------------------------

void CarViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    setHidden(saveTuningListButton, activity_ == nullptr);
    configureSubViews();
}

void CarViewController::configureSubViews() {
    NS_ASSERT_MAIN_THREAD();
    setHidden(screenShotButton, !(activity_ && !tuningList_));
    setShowcaseState(CarShowcaseStateInitial);
    setupLoadingView();
}

void CarViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    QVNTAAnalyticsHelper::beginLogPageView(*this);
    Tally::beginLogPageView(std::string("CarViewController"));
}

void CarViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    QVNTAAnalyticsHelper::endLogPageView(*this);
    Tally::endLogPageView(std::string("CarViewController"));
}

void CarViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    if (auto row = colorPickerScrollView.lock()) row->setContentSize(CGSize{597, 30});
    if (showcaseState_ == CarShowcaseStateInitial) setShowcaseState(CarShowcaseStateChooseCar);
    showModifyEntranceAnimations();
}

void CarViewController::didReceiveMemoryWarning() {
    UIViewController::didReceiveMemoryWarning();
    for (const auto& brand : brands_) {
        for (const auto& car : brand->carList<QVNCar>())
            if (car != selectedCar_) car->clearOptionsCacheFromMemory();
    }
}

UIInterfaceOrientationMask CarViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskLandscape;
}

UIInterfaceOrientation CarViewController::preferredInterfaceOrientationForPresentation() const {
    return UIInterfaceOrientationLandscapeLeft;
}

bool CarViewController::isExistNetWork() {
    auto reachability = Reachability::reachabilityForInternetConnection();
    return reachability && reachability->currentReachabilityStatus() != 0;
}

void CarViewController::enterCarsSelecting() {
    NS_ASSERT_MAIN_THREAD();
    setShowcaseState(CarShowcaseStateChooseCar);
}

void CarViewController::dismissSelf(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    dismissViewControllerAnimated(true, [] {});
}

// ---- states -------------------------------------------------------------------------------------

void CarViewController::setReturnButtonAction(bool dismisses) {
    auto button = returnBtn.lock();
    if (!button) return;
    button->setImage(UIImage::imageNamed("back_up"), UIControlStateNormal);
    button->setImage(UIImage::imageNamed("back_down"), UIControlStateHighlighted);
    button->setImage(UIImage::imageNamed("back_down"), UIControlStateDisabled);
    auto self = strongSelf();
    button->removeTarget(self, std::nullopt, UIControlEventTouchUpInside);
    if (dismisses)
        button->addTarget(self, &CarViewController::dismissSelf, "dismissSelf:", UIControlEventTouchUpInside);
    else
        button->addTarget(self, &CarViewController::enterCarsSelecting, "enterCarsSelecting",
                          UIControlEventTouchUpInside);
}

void CarViewController::setShowcaseState(unsigned long state) {
    NS_ASSERT_MAIN_THREAD();
    showcaseState_ = state;
    switch (state) {
        case CarShowcaseStateInitial:
            setHidden(btnSuspension, true);
            setHidden(btnPartsReset, true);
            setHidden(colorPicker, true);
            setHidden(btnColorWheel, true);
            setHidden(btnShare, true);
            showcaseScale_ = 0.5;
            UIView::performWithoutAnimation([this] { setConsoleHidden(false); });
            break;
        case CarShowcaseStateChooseCar:
            setHidden(btnSuspension, true);
            setHidden(btnPartsReset, true);
            setHidden(btnColorWheel, true);
            setHidden(btnShare, true);
            setReturnButtonAction(true);
            setHidden(colorPicker, true);
            if (consoleHidden_) setConsoleHidden(false);
            enterChooseCarRows();
            break;
        case CarShowcaseStateModify:
            setHidden(btnSuspension, true);
            setHidden(btnPartsReset, false);
            setHidden(btnColorWheel, false);
            setConsoleHidden(false);
            setHidden(colorPicker, true);
            setReturnButtonAction(false);
            if (selectedCar_) {
                setUpPartButtons(selectedCar_);
                if (!scrollView1Subviews_.empty()) carModificatorsTapped(scrollView1Subviews_.front());
            }
            break;
        case CarShowcaseStateColorWheel:
            setConsoleHidden(true);
            setHidden(colorPicker, false);
            setHidden(btnSuspension, false);
            setHidden(btnPartsReset, true);
            break;
        case CarShowcaseStatePlain:
            setConsoleHidden(true);
            setHidden(colorPicker, true);
            setHidden(btnSuspension, false);
            setHidden(btnPartsReset, true);
            break;
        default:
            break;
    }
}

void CarViewController::consoleButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    setConsoleHidden(!consoleHidden_);
    setShowcaseState(consoleHidden_ ? CarShowcaseStatePlain : CarShowcaseStateModify);
}

void CarViewController::colorWheelButtonTapped(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    setShowcaseState(CarShowcaseStateColorWheel);
}

void CarViewController::setConsoleHidden(bool hidden) {
    NS_ASSERT_MAIN_THREAD();
    if (hidden == consoleHidden_) return;
    consoleHidden_ = hidden;
    auto console = consoleView.lock();
    auto handle = btnConsole.lock();
    if (handle) handle->setSelected(hidden);
    double d = (console ? console->bounds().size.height : 0) - (handle ? handle->bounds().size.height : 0);
    auto container = carContainer_.lock();
    CGPoint centre = container ? container->center() : CGPoint{0, 0};
    auto root = view();
    root->setUserInteractionEnabled(false);
    Weak<CarViewController> weak = weakStudio();
    Weak<UIView> weakContainer = container;
    UIView::animateWithDuration(
        0.2,
        [weak, weakContainer, hidden, d, centre] {
            auto self = weak.lock();
            if (!self) return;
            if (auto constraint = self->cstConsole.lock()) constraint->setConstant(hidden ? -d : 0);
            self->view()->layoutIfNeeded();
            if (auto box = weakContainer.lock())
                box->setCenter(CGPoint{centre.x, hidden ? centre.y + d / 2 : centre.y - d / 2});
        },
        [weak](bool) {
            if (auto self = weak.lock()) self->view()->setUserInteractionEnabled(true);
        });
}

// ---- HUD and alerts -----------------------------------------------------------------------------

Ref<VHProgressHUD> CarViewController::hud() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!hud_) {
        auto root = view();
        hud_ = make<VHProgressHUD>(root);
        if (auto panel = colorPicker.lock(); panel && panel->superview() == root)
            root->insertSubviewBelow(hud_, panel);
        else
            root->addSubview(hud_);
    }
    return hud_;
}

void CarViewController::showHUDWithText(const std::string& text) {
    auto h = hud();
    h->setLabelText(text);
    h->show(true);
}

void CarViewController::failHUDWithText(const std::string& text) {
    auto h = hud();
    h->setLabelText(text);
    h->hide(true, 2.0);
}

void CarViewController::presentSimpleAlert(const std::optional<std::string>& title,
                                           const std::optional<std::string>& message,
                                           const std::string& cancel, bool studioIsDelegate) {
    Ref<UIAlertViewDelegate> delegate;
    if (studioIsDelegate)
        delegate = Ref<UIAlertViewDelegate>(strongSelf(), static_cast<UIAlertViewDelegate*>(this));
    auto alert = make<UIAlertView>(title, message, delegate, cancel);
    alert->show();
}

void CarViewController::alertViewClickedButtonAtIndex(const Ref<UIAlertView>&, long buttonIndex) {
    if (buttonIndex == 0) dismissViewControllerAnimated(true, {});
}

// ---- loading overlay ----------------------------------------------------------------------------

void CarViewController::setupLoadingView() {
    NS_ASSERT_MAIN_THREAD();
    auto objects = loadNibNamed("ModifyEntranceView", strongSelf());
    Ref<UIView> entrance;
    for (const auto& object : objects) {
        if (auto v = asKind<UIView>(object)) {
            entrance = v;
            break;
        }
    }
    if (!entrance) return;
    auto root = view();
    modifyEntranceView = entrance;
    entrance->setTranslatesAutoresizingMaskIntoConstraints(false);
    root->addSubview(entrance);
    root->addConstraints(NSLayoutConstraint::constraintsWithVisualFormat(
        "V:|-0-[entrance]-0-|", 0, Dictionary(), Dictionary{{"entrance", Value(entrance)}}));
    auto left = NSLayoutConstraint::constraintWithItem(entrance, NSLayoutAttributeLeft, NSLayoutRelationEqual,
                                                       root, NSLayoutAttributeLeft, 1, 0);
    auto width = NSLayoutConstraint::constraintWithItem(
        entrance, NSLayoutAttributeWidth, NSLayoutRelationEqual, root, NSLayoutAttributeWidth, 1, 0);
    root->addConstraint(left);
    root->addConstraint(width);
    modifyEntranceConstraint = left;
}

void CarViewController::showModifyEntranceAnimations() {
    NS_ASSERT_MAIN_THREAD();
    int step = detail::carstudio::modifyEntranceStep++;
    auto indicator = modifyEntranceIndicator.lock();
    Weak<CarViewController> weak = weakStudio();
    if (step < 4) {
        Weak<UIImageView> weakIndicator = indicator;
        UIView::animateWithDuration(
            0.5, 0, UIViewAnimationOptionCurveLinear,
            [weakIndicator] {
                if (auto turning = weakIndicator.lock())
                    turning->setTransform(CGAffineTransformRotate(turning->transform(), kIndicatorTurn));
            },
            [weak](bool) {
                if (auto self = weak.lock()) self->showModifyEntranceAnimations();
            });
        return;
    }
    if (indicator) indicator->layer()->removeAllAnimations();
    CGAffineTransform turned = indicator ? indicator->transform() : CGAffineTransformIdentity;
    Weak<UIImageView> weakIndicator = indicator;
    UIView::animateWithDuration(
        0.4,
        [weak, turned] {
            auto self = weak.lock();
            if (!self) return;
            if (auto logo = self->modifyEntranceLogo.lock())
                logo->setTransform(CGAffineTransformRotate(turned, -M_PI / 2));
        },
        [weak, weakIndicator](bool) {
            UIView::animateWithDuration(
                1.0,
                [weak] {
                    auto self = weak.lock();
                    if (!self) return;
                    if (auto constraint = self->modifyEntranceConstraint.lock())
                        constraint->setConstant(self->view()->bounds().size.width);
                    self->view()->layoutIfNeeded();
                },
                [weakIndicator](bool) {
                    if (auto turning = weakIndicator.lock()) turning->setTransform(CGAffineTransformIdentity);
                });
        });
    detail::carstudio::modifyEntranceStep = 0;
}

// ---- transitioning delegate ---------------------------------------------------------------------

Ref<UIViewControllerAnimatedTransitioning> CarViewController::animationControllerForPresentedController(
    const Ref<UIViewController>&, const Ref<UIViewController>&, const Ref<UIViewController>&) {
    return presentingAnimator() ? presentingAnimator()() : nullptr;
}

Ref<UIViewControllerAnimatedTransitioning>
CarViewController::animationControllerForDismissedController(const Ref<UIViewController>&) {
    return dismissingAnimator() ? dismissingAnimator()() : nullptr;
}

const std::map<std::string, CarViewController::SegueReceiver>& detail::carstudio::segueReceivers() {
    return receivers();
}
