#include "controls/SNStatusBarNotification.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "controls/ControlsTesting.h"
#include "controls/SNStatusBarNotificationViewController.h"
#include "controls/UIApplication+mainWindow.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/UIApplication.h"
#include "uikit/UIDevice.h"
#include "uikit/UIScreen.h"

namespace {

constexpr double kAnimationDuration = 0.4;
constexpr double kBounceDuration = 0.66;
constexpr char kBounceKey[] = "SNBounceAnimation";

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

Ref<SNStatusBarNotification>& sharedSlot() {
    static Ref<SNStatusBarNotification> shared;
    return shared;
}

// The bounce ease-out curve, 0 at t = 0 and 1 at t = 1.
float bounce(float t) {
    if (t < 1 / 2.75f) return 7.5625f * t * t;
    if (t < 2 / 2.75f) {
        t -= 1.5f / 2.75f;
        return 7.5625f * t * t + 0.75f;
    }
    if (t < 2.5f / 2.75f) {
        t -= 2.25f / 2.75f;
        return 7.5625f * t * t + 0.9375f;
    }
    t -= 2.625f / 2.75f;
    return 7.5625f * t * t + 0.984375f;
}

CGAffineTransform hiddenAbove(const Ref<UIView>& bar) {
    return CGAffineTransformMakeTranslation(0, -bar->frame().size.height);
}

}  // namespace

// ---- creation ----------------------------------------------------------------------------------

SNStatusBarNotification::SNStatusBarNotification() {
    setupDefaultStyles();
}

void SNStatusBarNotification::didInit() {
    Weak<SNStatusBarNotification> weak = selfAs<SNStatusBarNotification>();
    NSNotificationCenter::defaultCenter()->addObserver(
        self(), "willChangeStatusBarFrame:",
        [weak](const Ref<NSNotification>& n) {
            if (auto self = weak.lock()) self->willChangeStatusBarFrame(n);
        },
        std::string(UIApplicationWillChangeStatusBarFrameNotification), nullptr);
}

SNStatusBarNotification::~SNStatusBarNotification() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
    if (dismissTimer_) dismissTimer_->invalidate();
}

void SNStatusBarNotification::setupDefaultStyles() {
    NS_ASSERT_MAIN_THREAD();
    defaultStyle_ = SNStatusBarStyle::defaultStyleWithName(SNStatusBarStyleDefault);
    userStyles_.clear();
    for (const auto& name : SNStatusBarStyle::allDefaultStyleIdentifier()) {
        userStyles_[name] = SNStatusBarStyle::defaultStyleWithName(name);
    }
}

Ref<SNStatusBarNotification> SNStatusBarNotification::sharedInstance() {
    std::lock_guard<std::mutex> guard(sharedMutex());
    auto& shared = sharedSlot();
    if (!shared) shared = make<SNStatusBarNotification>();
    return shared;
}

void ControlsTesting::resetStatusBarNotification() {
    Ref<SNStatusBarNotification> shared;
    {
        std::lock_guard<std::mutex> guard(sharedMutex());
        shared.swap(sharedSlot());
    }
    if (!shared) return;
    if (shared->dismissTimer_) shared->dismissTimer_->invalidate();
    shared->dismissTimer_ = nullptr;
    if (shared->topBar_) shared->topBar_->layer()->removeAllAnimations();
    if (shared->overlayWindow_) {
        shared->overlayWindow_->setHidden(true);
        shared->overlayWindow_->setRootViewController(nullptr);
    }
    NSNotificationCenter::defaultCenter()->removeObserver(shared);
}

// ---- class operations --------------------------------------------------------------------------

Ref<UIView> SNStatusBarNotification::showWithStatus(const std::string& status) {
    return sharedInstance()->showBarWithStatus(status, std::optional<std::string>());
}

Ref<UIView> SNStatusBarNotification::showWithStatus(const std::string& status,
                                                    const std::optional<std::string>& styleName) {
    return sharedInstance()->showBarWithStatus(status, styleName);
}

Ref<UIView> SNStatusBarNotification::showWithStatus(const std::string& status, double dismissAfterSeconds) {
    auto bar = showWithStatus(status);
    dismissAfter(dismissAfterSeconds);
    return bar;
}

Ref<UIView> SNStatusBarNotification::showWithStatus(const std::string& status, double dismissAfterSeconds,
                                                    const std::optional<std::string>& styleName) {
    auto bar = showWithStatus(status, styleName);
    dismissAfter(dismissAfterSeconds);
    return bar;
}

void SNStatusBarNotification::dismiss() {
    NS_ASSERT_MAIN_THREAD();
    dismissAnimated(true);
}

void SNStatusBarNotification::dismissAnimated(bool animated) {
    sharedInstance()->dismissBarAnimated(animated);
}

void SNStatusBarNotification::dismissAfter(double seconds) {
    sharedInstance()->setDismissTimerWithInterval(seconds);
}

void SNStatusBarNotification::setDefaultStyle(const PrepareBlock& prepare) {
    auto shared = sharedInstance();
    if (!prepare) return;
    shared->defaultStyle_ = prepare(shared->defaultStyle_ ? shared->defaultStyle_->copy() : nullptr);
}

std::string SNStatusBarNotification::addStyleNamed(const std::string& name, const PrepareBlock& prepare) {
    return sharedInstance()->addBarStyleNamed(name, prepare);
}

void SNStatusBarNotification::showProgress(double progress) {
    sharedInstance()->setProgress(progress);
}

void SNStatusBarNotification::showActivityIndicator(bool show, UIActivityIndicatorViewStyle style) {
    sharedInstance()->showBarActivityIndicator(show, style);
}

bool SNStatusBarNotification::isVisible() {
    return sharedInstance()->isBarVisible();
}

// ---- styles ------------------------------------------------------------------------------------

std::string SNStatusBarNotification::addBarStyleNamed(const std::string& name, const PrepareBlock& prepare) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (prepare) userStyles_[name] = prepare(defaultStyle_ ? defaultStyle_->copy() : nullptr);
    return name;
}

Ref<SNStatusBarStyle> SNStatusBarNotification::styleInForce() const {
    auto active = activeStyle();
    return active ? active : defaultStyle_;
}

// ---- showing -----------------------------------------------------------------------------------

Ref<UIView> SNStatusBarNotification::showBarWithStatus(const std::string& status,
                                                       const std::optional<std::string>& styleName) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    Ref<SNStatusBarStyle> style = defaultStyle_;
    if (styleName) {
        auto it = userStyles_.find(*styleName);
        if (it != userStyles_.end() && it->second) style = it->second;
    }
    return showBarWithStatus(status, style);
}

void SNStatusBarNotification::putBarInHiddenStateForStyle(const Ref<SNStatusBarStyle>& style) {
    if (style && style->animationType() == SNStatusBarAnimationTypeFade) {
        topBar_->setAlpha(0.0);
        topBar_->setTransform(CGAffineTransformIdentity);
    } else {
        topBar_->setAlpha(1.0);
        topBar_->setTransform(hiddenAbove(topBar_));
    }
}

Ref<UIView> SNStatusBarNotification::showBarWithStatus(const std::string& status,
                                                       const Ref<SNStatusBarStyle>& style) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (UIApplication::sharedApplication()->isStatusBarHidden()) return nullptr;
    if (!style) return nullptr;

    // A new message is not ended by a timed dismissal of an earlier one.
    if (dismissTimer_) dismissTimer_->invalidate();
    dismissTimer_ = nullptr;

    const auto& bar = topBar();
    if (style != activeStyle()) {
        activeStyle_ = style;
        putBarInHiddenStateForStyle(style);
    }
    bar->layer()->removeAllAnimations();
    overlayWindow()->setHidden(false);

    bar->setBackgroundColor(style->barColor());
    bar->setTextVerticalPositionAdjustment(style->textVerticalPositionAdjustment());
    const auto& label = bar->textLabel();
    label->setTextColor(style->textColor());
    label->setFont(style->font());
    label->setAccessibilityLabel(status);
    label->setText(status);
    if (const auto& shadow = style->textShadow()) {
        label->setShadowColor(shadow->shadowColor());
        label->setShadowOffset(shadow->shadowOffset());
    } else {
        label->setShadowColor(nullptr);
        label->setShadowOffset(CGSizeZero);
    }

    setProgress(0.0);
    showBarActivityIndicator(false, UIActivityIndicatorViewStyleWhiteLarge);

    const SNStatusBarAnimationType type = style->animationType();
    if (type == SNStatusBarAnimationTypeBounce) {
        animateInWithBounceAnimation();
    } else if (type == SNStatusBarAnimationTypeNone) {
        bar->setAlpha(1.0);
        bar->setTransform(CGAffineTransformIdentity);
    } else {
        Ref<SNStatusBarView> shown = bar;
        UIView::animateWithDuration(kAnimationDuration, [shown] {
            shown->setAlpha(1.0);
            shown->setTransform(CGAffineTransformIdentity);
        });
    }
    return bar;
}

void SNStatusBarNotification::animateInWithBounceAnimation() {
    NS_ASSERT_MAIN_THREAD();
    const auto& bar = topBar();
    // Only a bar still above the screen bounces in.
    if (bar->frame().origin.y >= 0) return;

    std::vector<Value> values;
    values.reserve(100);
    for (int i = 1; i <= 100; ++i) {
        const float t = static_cast<float>(i) / 100.0f;
        const float offset = 20.0f * bounce(t) - 20.0f;
        values.emplace_back(
            NSValue_CATransform3D::valueWithCATransform3D(CATransform3DMakeTranslation(0, offset, 0)));
    }
    auto animation = CAKeyframeAnimation::animationWithKeyPath("transform");
    animation->setTimingFunction(CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear));
    animation->setDuration(kBounceDuration);
    animation->setValues(std::move(values));
    animation->setRemovedOnCompletion(false);
    animation->setFillMode(kCAFillModeForwards);
    animation->setDelegate(std::static_pointer_cast<CAAnimationDelegate>(selfAs<SNStatusBarNotification>()));
    // The model takes its end state at once; the animation shows the way there.
    bar->setTransform(CGAffineTransformIdentity);
    bar->layer()->addAnimation(animation, std::string(kBounceKey));
}

void SNStatusBarNotification::animationDidStop(const Ref<CAAnimation>&, bool) {
    if (!topBar_) return;
    topBar_->setTransform(CGAffineTransformIdentity);
    topBar_->layer()->removeAllAnimations();
}

// ---- dismissing --------------------------------------------------------------------------------

void SNStatusBarNotification::setDismissTimerWithInterval(double interval) {
    NS_ASSERT_MAIN_THREAD();
    if (dismissTimer_) dismissTimer_->invalidate();
    dismissTimer_ = NSTimer::timerWithTimeInterval(interval, selfAs<SNStatusBarNotification>(),
                                                   &SNStatusBarNotification::dismiss, Value(), false);
    NSRunLoop::currentRunLoop()->addTimer(dismissTimer_, NSRunLoopCommonModes);
}

void SNStatusBarNotification::dismiss(const Ref<NSTimer>&) {
    NS_ASSERT_MAIN_THREAD();
    dismissBarAnimated(true);
}

void SNStatusBarNotification::dismissBarAnimated(bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (dismissTimer_) dismissTimer_->invalidate();
    dismissTimer_ = nullptr;

    auto style = activeStyle();
    const SNStatusBarAnimationType type = style ? style->animationType() : SNStatusBarAnimationTypeNone;
    const double duration = (animated && type != SNStatusBarAnimationTypeNone) ? kAnimationDuration : 0.0;

    auto self = selfAs<SNStatusBarNotification>();
    Ref<SNStatusBarView> bar = topBar_;
    auto hide = [bar, type] {
        if (!bar) return;
        if (type == SNStatusBarAnimationTypeFade) {
            bar->setAlpha(0.0);
        } else {
            bar->setTransform(hiddenAbove(bar));
        }
    };
    auto release = [self](bool) {
        if (self->overlayWindow_) {
            self->overlayWindow_->removeFromSuperview();
            self->overlayWindow_->setHidden(true);
            self->overlayWindow_->setRootViewController(nullptr);
        }
        self->overlayWindow_ = nullptr;
        self->progressView_ = nullptr;
        self->topBar_ = nullptr;
    };
    if (duration <= 0) {
        hide();
        release(true);
        return;
    }
    UIView::animateWithDuration(duration, hide, release);
}

// ---- progress and activity ---------------------------------------------------------------------

void SNStatusBarNotification::setProgress(double progress) {
    NS_ASSERT_MAIN_THREAD();
    if (!topBar_) return;
    progress_ = std::clamp(progress, 0.0, 1.0);
    const auto& view = progressView();
    if (progress_ == 0.0) {
        view->setFrame(CGRectZero);
        return;
    }

    auto style = styleInForce();
    const SNStatusBarProgressBarPosition position =
        style ? style->progressBarPosition() : SNStatusBarProgressBarPositionBottom;
    if (position == SNStatusBarProgressBarPositionBelow || position == SNStatusBarProgressBarPositionNavBar) {
        if (auto parent = topBar_->superview()) parent->addSubview(view);
    } else {
        topBar_->insertSubviewBelow(view, topBar_->textLabel());
    }

    const CGRect barBounds = topBar_->bounds();
    const CGFloat barHeight = barBounds.size.height;
    CGFloat thickness = std::max(style ? style->progressBarHeight() : 1.0, 0.5);
    thickness = std::min(thickness, barHeight);
    if (thickness == 20.0 && barHeight > 20.0) thickness = barHeight;

    CGRect frame;
    frame.size.height = thickness;
    frame.size.width = std::round(barBounds.size.width * progress_);
    frame.origin.x = barBounds.origin.x;
    switch (position) {
        case SNStatusBarProgressBarPositionBottom:
            frame.origin.y = barHeight - thickness;
            break;
        case SNStatusBarProgressBarPositionCenter:
            frame.origin.y = std::round((barHeight - thickness) / 2.0);
            break;
        case SNStatusBarProgressBarPositionTop:
            frame.origin.y = 0;
            break;
        case SNStatusBarProgressBarPositionBelow:
            frame.origin.y = barHeight;
            break;
        case SNStatusBarProgressBarPositionNavBar: {
            CGFloat navigationBarHeight = 44.0;
            if (UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiomPhone) {
                const auto orientation = UIApplication::sharedApplication()->statusBarOrientation();
                const bool landscape = orientation == UIInterfaceOrientationLandscapeLeft ||
                                       orientation == UIInterfaceOrientationLandscapeRight;
                if (landscape) navigationBarHeight = 32.0;
            }
            frame.origin.y = barHeight + navigationBarHeight;
            break;
        }
        default:
            frame.origin.y = barBounds.origin.y;
            break;
    }

    view->setBackgroundColor(style ? style->progressBarColor() : nullptr);
    const double duration = CGRectEqualToRect(view->frame(), CGRectZero) ? 0.0 : 0.05;
    if (duration == 0.0) {
        view->setFrame(frame);
        return;
    }
    Ref<UIView> moving = view;
    UIView::animateWithDuration(
        duration, 0, UIViewAnimationOptionCurveLinear, [moving, frame] { moving->setFrame(frame); }, nullptr);
}

void SNStatusBarNotification::showBarActivityIndicator(bool show, UIActivityIndicatorViewStyle style) {
    NS_ASSERT_MAIN_THREAD();
    if (!topBar_) return;
    const auto& indicator = topBar_->activityIndicatorView();
    if (show) {
        indicator->startAnimating();
        indicator->setActivityIndicatorViewStyle(style);
    } else {
        indicator->stopAnimating();
    }
}

// ---- window and geometry -----------------------------------------------------------------------

const Ref<UIWindow>& SNStatusBarNotification::overlayWindow() {
    if (!overlayWindow_) {
        overlayWindow_ = make<UIWindow>(UIScreen::mainScreen()->bounds());
        overlayWindow_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth |
                                            UIViewAutoresizingFlexibleHeight);
        overlayWindow_->setBackgroundColor(UIColor::clearColor());
        overlayWindow_->setUserInteractionEnabled(false);
        overlayWindow_->setWindowLevel(UIWindowLevelStatusBar);
        auto controller = make<SNStatusBarNotificationViewController>();
        overlayWindow_->setRootViewController(controller);
        controller->view()->setBackgroundColor(UIColor::clearColor());
        updateWindowTransform();
        updateTopBarFrameWithStatusBarFrame(UIApplication::sharedApplication()->statusBarFrame());
    }
    return overlayWindow_;
}

const Ref<UIView>& SNStatusBarNotification::progressView() {
    if (!progressView_) progressView_ = make<UIView>(CGRectZero);
    return progressView_;
}

const Ref<SNStatusBarView>& SNStatusBarNotification::topBar() {
    if (!topBar_) {
        topBar_ = make<SNStatusBarView>();
        auto bar = topBar_;
        const auto& window = overlayWindow();
        if (const auto& root = window->rootViewController()) root->view()->addSubview(bar);
        putBarInHiddenStateForStyle(styleInForce());
    }
    return topBar_;
}

void SNStatusBarNotification::updateWindowTransform() {
    NS_ASSERT_MAIN_THREAD();
    if (!overlayWindow_) return;
    auto mainWindow = UIApplication_mainWindow::mainApplicationWindowIgnoringWindow(
        UIApplication::sharedApplication(), overlayWindow_);
    if (!mainWindow) return;  // nothing to follow: the overlay keeps its own geometry
    overlayWindow_->setTransform(mainWindow->transform());
    overlayWindow_->setFrame(mainWindow->frame());
}

void SNStatusBarNotification::updateTopBarFrameWithStatusBarFrame(CGRect statusBarFrame) {
    NS_ASSERT_MAIN_THREAD();
    const CGFloat width = std::max(statusBarFrame.size.width, statusBarFrame.size.height);
    const CGFloat height = std::min(statusBarFrame.size.width, statusBarFrame.size.height);
    const double systemVersion = std::atof(UIDevice::currentDevice()->systemVersion().c_str());
    // A double-height status bar (a call, navigation) keeps its lower half for the system.
    const CGFloat y = (systemVersion >= 7.0 && height > 20.0) ? -height / 2.0 : 0.0;
    topBar()->setFrame(CGRectMake(0, y, width, height));
}

void SNStatusBarNotification::willChangeStatusBarFrame(const Ref<NSNotification>& notification) {
    NS_ASSERT_MAIN_THREAD();
    const CGRect newFrame = NSValue_Geometry::CGRectValue(
        notification->userInfoValue(UIApplicationStatusBarFrameUserInfoKey).objectAs<NSValue>());
    const double duration = UIApplication::sharedApplication()->statusBarOrientationAnimationDuration();
    auto self = selfAs<SNStatusBarNotification>();
    // Nothing shown: nothing to follow (and no bar to make).
    if (!topBar_) return;
    auto update = [self, newFrame] {
        if (!self->topBar_) return;
        self->updateWindowTransform();
        self->updateTopBarFrameWithStatusBarFrame(newFrame);
        self->setProgress(self->progress_);
    };
    UIView::animateWithDuration(duration, update, [update](bool) { update(); });
}
