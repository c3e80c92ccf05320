#include "controls/GHProgressHUD.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "controls/ControlsTesting.h"
#include "controls/GHProgressHUDResources.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "graphics/CGGradient.h"
#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/NSValue+Geometry.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"
#include "uikit/UITouch.h"
#include "uikit/UIViewController.h"
#include "uikit/UIWindow.h"

namespace {

constexpr CGFloat kRingRadius = 18;
constexpr CGFloat kRingNoTextRadius = 24;
constexpr double kAnimationDuration = 0.15;
constexpr double kNoProgress = -1;

// One value per process, empty until the shared instance first sets the defaults.
struct Settings {
    Ref<UIColor> backgroundColor;
    Ref<UIColor> foregroundColor;
    Ref<UIFont> font;
    CGFloat ringThickness = 0;
    Ref<UIImage> infoImage;
    Ref<UIImage> successImage;
    Ref<UIImage> errorImage;
    GHProgressHUDMaskType defaultMaskType = 0;
    Ref<UIView> viewForExtension;
};

Settings& settings() {
    static Settings values;
    return values;
}

// Follows the keyboard through the platform's notifications: its height while shown, 0 hidden.
struct KeyboardTracker {
    CGFloat height = 0;
    std::vector<Ref<NSObject>> tokens;

    void start() {
        if (!tokens.empty()) return;
        auto center = NSNotificationCenter::defaultCenter();
        auto shown = [this](const Ref<NSNotification>& n) {
            auto frame = n->userInfoValue(UIKeyboardFrameEndUserInfoKey).objectAs<NSValue>();
            if (!frame) frame = n->userInfoValue(UIKeyboardFrameBeginUserInfoKey).objectAs<NSValue>();
            height = NSValue_Geometry::CGRectValue(frame).size.height;
        };
        auto hidden = [this](const Ref<NSNotification>&) { height = 0; };
        tokens.push_back(
            center->addObserverForName(std::string(UIKeyboardWillShowNotification), nullptr, nullptr, shown));
        tokens.push_back(
            center->addObserverForName(std::string(UIKeyboardDidShowNotification), nullptr, nullptr, shown));
        tokens.push_back(center->addObserverForName(std::string(UIKeyboardWillHideNotification), nullptr,
                                                    nullptr, hidden));
        tokens.push_back(
            center->addObserverForName(std::string(UIKeyboardDidHideNotification), nullptr, nullptr, hidden));
    }
    void stop() {
        auto center = NSNotificationCenter::defaultCenter();
        for (const auto& token : tokens) center->removeObserver(token);
        tokens.clear();
        height = 0;
    }
};

KeyboardTracker& keyboard() {
    static KeyboardTracker tracker;
    return tracker;
}

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

Ref<GHProgressHUD>& sharedSlot() {
    static Ref<GHProgressHUD> shared;
    return shared;
}

std::vector<std::string>& accessibilityLog() {
    static std::vector<std::string> log;
    return log;
}

void postScreenChanged() {
    accessibilityLog().push_back("screen-changed");
}

void postAnnouncement(const std::optional<std::string>& text) {
    accessibilityLog().push_back("announcement:" + text.value_or("(null)"));
}

Ref<UIImage> templateImage(const std::string& name) {
    auto image = GHProgressHUDResources::imageNamed(name);
    return image ? image->imageWithRenderingMode(UIImageRenderingMode::AlwaysTemplate) : nullptr;
}

// The platform's process information answers operatingSystemVersion on every version this
// system runs on, so the status-bar orientation is never applied by hand.
constexpr bool kIgnoreOrientation = true;

}  // namespace

namespace detail {
std::vector<std::string> ghAccessibilityPosts() {
    return accessibilityLog();
}
void ghClearAccessibilityPosts() {
    accessibilityLog().clear();
}
}  // namespace detail

// ---- creation ----------------------------------------------------------------------------------

GHProgressHUD::GHProgressHUD(CGRect frame) : UIView(frame) {
    setUserInteractionEnabled(false);
    setBackgroundColor(UIColor::clearColor());
    setAlpha(0);
    activityCount_ = 0;

    Settings& s = settings();
    s.backgroundColor = UIColor::whiteColor();
    s.foregroundColor = UIColor::blackColor();
    s.font = UIFont::preferredFontForTextStyle(UIFontTextStyleSubheadline);
    s.infoImage = templateImage("info");
    s.successImage = templateImage("success");
    s.errorImage = templateImage("error");
    s.ringThickness = 2;
    s.defaultMaskType = GHProgressHUDMaskTypeNone;
}

GHProgressHUD::~GHProgressHUD() {
    if (fadeOutTimer_) fadeOutTimer_->invalidate();
}

Ref<GHProgressHUD> GHProgressHUD::sharedView() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    auto& shared = sharedSlot();
    if (!shared) {
        shared = make<GHProgressHUD>(UIScreen::mainScreen()->bounds());
        keyboard().start();
    }
    return shared;
}

void ControlsTesting::resetProgressHUD() {
    Ref<GHProgressHUD> shared;
    {
        std::lock_guard<std::mutex> lock(sharedMutex());
        shared.swap(sharedSlot());
    }
    if (shared) {
        shared->retired_ = true;
        shared->setFadeOutTimer(nullptr);
        NSNotificationCenter::defaultCenter()->removeObserver(shared);
        if (shared->overlayView_) shared->overlayView_->removeFromSuperview();
        shared->removeFromSuperview();
    }
    keyboard().stop();
    settings() = Settings();
    accessibilityLog().clear();
}

// ---- class-wide settings -----------------------------------------------------------------------

void GHProgressHUD::setStatus(const Status& status) {
    sharedView()->setHUDStatus(status);
}

void GHProgressHUD::setHUDBackgroundColor(const Ref<UIColor>& color) {
    auto shared = sharedView();
    shared->hudView()->setBackgroundColor(color);
    settings().backgroundColor = color;
}

void GHProgressHUD::setForegroundColor(const Ref<UIColor>& color) {
    sharedView();
    settings().foregroundColor = color;
}

void GHProgressHUD::setFont(const Ref<UIFont>& font) {
    sharedView();
    settings().font = font;
}

void GHProgressHUD::setRingThickness(CGFloat width) {
    sharedView();
    settings().ringThickness = width;
}

void GHProgressHUD::setInfoImage(const Ref<UIImage>& image) {
    sharedView();
    settings().infoImage = image;
}

void GHProgressHUD::setSuccessImage(const Ref<UIImage>& image) {
    sharedView();
    settings().successImage = image;
}

void GHProgressHUD::setErrorImage(const Ref<UIImage>& image) {
    sharedView();
    settings().errorImage = image;
}

void GHProgressHUD::setDefaultMaskType(GHProgressHUDMaskType maskType) {
    sharedView();
    settings().defaultMaskType = maskType;
}

void GHProgressHUD::setViewForExtension(const Ref<UIView>& view) {
    sharedView();
    settings().viewForExtension = view;
}

Ref<UIView> GHProgressHUD::viewForExtension() {
    return settings().viewForExtension;
}

// ---- class show and dismiss --------------------------------------------------------------------

namespace {
GHProgressHUDMaskType defaultMask() {
    GHProgressHUD::sharedView();
    return settings().defaultMaskType;
}
}  // namespace

void GHProgressHUD::show() {
    showWithStatus(std::nullopt);
}

void GHProgressHUD::showWithMaskType(GHProgressHUDMaskType maskType) {
    showProgress(static_cast<float>(kNoProgress), maskType);
}

void GHProgressHUD::showWithStatus(const Status& status) {
    showProgress(static_cast<float>(kNoProgress), status);
}

void GHProgressHUD::showWithStatus(const Status& status, GHProgressHUDMaskType maskType) {
    showProgress(static_cast<float>(kNoProgress), status, maskType);
}

void GHProgressHUD::showProgress(float progress) {
    showProgress(progress, defaultMask());
}

void GHProgressHUD::showProgress(float progress, GHProgressHUDMaskType maskType) {
    showProgress(progress, std::nullopt, maskType);
}

void GHProgressHUD::showProgress(float progress, const Status& status) {
    showProgress(progress, status, defaultMask());
}

void GHProgressHUD::showProgress(float progress, const Status& status, GHProgressHUDMaskType maskType) {
    sharedView()->showHUDProgress(progress, status, maskType);
}

void GHProgressHUD::showInfoWithStatus(const Status& status) {
    showInfoWithStatus(status, defaultMask());
}

void GHProgressHUD::showInfoWithStatus(const Status& status, GHProgressHUDMaskType maskType) {
    sharedView();
    showImage(settings().infoImage, status, maskType);
}

void GHProgressHUD::showSuccessWithStatus(const Status& status) {
    showSuccessWithStatus(status, defaultMask());
}

void GHProgressHUD::showSuccessWithStatus(const Status& status, GHProgressHUDMaskType maskType) {
    sharedView();
    showImage(settings().successImage, status, maskType);
}

void GHProgressHUD::showErrorWithStatus(const Status& status) {
    showErrorWithStatus(status, defaultMask());
}

void GHProgressHUD::showErrorWithStatus(const Status& status, GHProgressHUDMaskType maskType) {
    sharedView();
    showImage(settings().errorImage, status, maskType);
}

void GHProgressHUD::showImage(const Ref<UIImage>& image, const Status& status) {
    NS_ASSERT_MAIN_THREAD();
    showImage(image, status, defaultMask());
}

void GHProgressHUD::showImage(const Ref<UIImage>& image, const Status& status,
                              GHProgressHUDMaskType maskType) {
    NS_ASSERT_MAIN_THREAD();
    auto shared = sharedView();
    shared->showImage(image, status, shared->displayDurationForString(status), maskType);
}

void GHProgressHUD::popActivity() {
    auto shared = sharedView();
    if (shared->activityCount_ > 0) --shared->activityCount_;
    if (shared->activityCount_ == 0) shared->dismissHUD();
}

void GHProgressHUD::dismiss() {
    if (isVisible()) sharedView()->dismissHUD();
}

void GHProgressHUD::setOffsetFromCenter(UIOffset offset) {
    sharedView()->setHUDOffsetFromCenter(offset);
}

void GHProgressHUD::resetOffsetFromCenter() {
    setOffsetFromCenter(UIOffsetZero);
}

bool GHProgressHUD::isVisible() {
    return sharedView()->alpha() == 1;
}

// ---- drawing and layout ------------------------------------------------------------------------

void GHProgressHUD::drawRect(CGRect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    CGRect b = bounds();
    if (maskType_ == GHProgressHUDMaskTypeBlack) {
        UIColor::colorWithWhite(0, 0.5)->set();
        CGContextFillRect(context, b);
    } else if (maskType_ == GHProgressHUDMaskTypeGradient) {
        const CGFloat locations[2] = {0.0, 1.0};
        const CGFloat colors[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.75};
        CGGradientRef gradient =
            CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), colors, locations, 2);
        CGPoint center = CGPointMake(b.size.width / 2, (b.size.height - visibleKeyboardHeight()) / 2);
        float radius = static_cast<float>(std::min(b.size.width, b.size.height));
        CGContextDrawRadialGradient(context, gradient, center, 0, center, radius,
                                    kCGGradientDrawsAfterEndLocation);
    }
}

void GHProgressHUD::updatePosition() {
    NS_ASSERT_MAIN_THREAD();
    CGFloat hudWidth = 100;
    CGFloat hudHeight = 100;
    CGRect labelRect = CGRectZero;

    const bool contentShown = imageView()->image() != nullptr || imageView()->isHidden() ||
                              (progress_ != kNoProgress && progress_ >= 0);
    const Status string = stringLabel()->text();

    if (string) {
        Dictionary attributes{{NSFontAttributeName, Value(stringLabel()->font())}};
        CGRect measured = NSStringDrawing::boundingRectWithSize(*string, CGSizeMake(200, 300),
                                                                NSStringDrawingUsesLineFragmentOrigin |
                                                                    NSStringDrawingUsesFontLeading |
                                                                    NSStringDrawingTruncatesLastVisibleLine,
                                                                attributes);
        CGFloat textHeight = std::ceil(measured.size.height);
        CGFloat textWidth = measured.size.width;
        hudHeight = (contentShown ? 80 : 20) + textHeight;
        if (textWidth > hudWidth) hudWidth = std::ceil(textWidth / 2) * 2;
        CGFloat labelY = contentShown ? 68 : 9;
        if (hudHeight > 100) {
            labelRect = CGRectMake(12, labelY, hudWidth, textHeight);
            hudWidth += 24;
        } else {
            hudWidth += 24;
            labelRect = CGRectMake(0, labelY, hudWidth, textHeight);
        }
    }

    hudView()->setBounds(CGRectMake(0, 0, hudWidth, hudHeight));
    const CGPoint contentCenter =
        string ? CGPointMake(hudWidth / 2, 36) : CGPointMake(hudWidth / 2, hudHeight / 2);
    imageView()->setCenter(contentCenter);
    stringLabel()->setHidden(false);
    stringLabel()->setFrame(labelRect);

    CATransaction::begin();
    CATransaction::setValue(Value(true), kCATransactionDisableActions);
    indefiniteAnimatedView()->setRadius(string ? kRingRadius : kRingNoTextRadius);
    indefiniteAnimatedView()->sizeToFit();
    indefiniteAnimatedView()->setCenter(contentCenter);
    if (progress_ != kNoProgress) {
        backgroundRingLayer()->setPosition(contentCenter);
        ringLayer()->setPosition(contentCenter);
    }
    CATransaction::commit();
}

void GHProgressHUD::setHUDStatus(const Status& status) {
    NS_ASSERT_MAIN_THREAD();
    stringLabel()->setText(status);
    updatePosition();
}

void GHProgressHUD::setFadeOutTimer(const Ref<NSTimer>& timer) {
    NS_ASSERT_MAIN_THREAD();
    if (fadeOutTimer_) fadeOutTimer_->invalidate();
    fadeOutTimer_ = timer;
}

// ---- notifications -----------------------------------------------------------------------------

void GHProgressHUD::registerNotifications() {
    NS_ASSERT_MAIN_THREAD();
    auto center = NSNotificationCenter::defaultCenter();
    Weak<GHProgressHUD> weak = selfAs<GHProgressHUD>();
    auto handler = [weak](const Ref<NSNotification>& n) {
        if (auto self = weak.lock()) self->positionHUD(n);
    };
    for (const char* name :
         {UIApplicationDidChangeStatusBarOrientationNotification, UIKeyboardWillHideNotification,
          UIKeyboardDidHideNotification, UIKeyboardWillShowNotification, UIKeyboardDidShowNotification}) {
        center->addObserver(self(), "positionHUD:", handler, std::string(name), nullptr);
    }
}

std::optional<Dictionary> GHProgressHUD::notificationUserInfo() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const Status& text = stringLabel()->text();
    if (!text) return std::nullopt;
    return Dictionary{{GHProgressHUDStatusUserInfoKey, Value(*text)}};
}

void GHProgressHUD::postNotification(const char* name, const std::optional<Dictionary>& userInfo) {
    NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr, userInfo);
}

// ---- placement ---------------------------------------------------------------------------------

void GHProgressHUD::positionHUD(const Ref<NSNotification>& notification) {
    NS_ASSERT_MAIN_THREAD();
    setFrame(UIScreen::mainScreen()->bounds());
    auto application = UIApplication::sharedApplication();
    const UIInterfaceOrientation orientation = application->statusBarOrientation();
    const bool ignoreOrientation = kIgnoreOrientation;
    const bool portrait = orientation == UIInterfaceOrientationPortrait ||
                          orientation == UIInterfaceOrientationPortraitUpsideDown;
    const bool landscape = orientation == UIInterfaceOrientationLandscapeLeft ||
                           orientation == UIInterfaceOrientationLandscapeRight;

    CGFloat keyboardHeight = 0;
    double animationDuration = 0;
    if (notification) {
        CGRect keyboardFrame = NSValue_Geometry::CGRectValue(
            notification->userInfoValue(UIKeyboardFrameBeginUserInfoKey).objectAs<NSValue>());
        animationDuration = notification->userInfoValue(UIKeyboardAnimationDurationUserInfoKey).doubleValue();
        const std::string& name = notification->name();
        if (name == UIKeyboardWillShowNotification || name == UIKeyboardDidShowNotification) {
            keyboardHeight =
                (ignoreOrientation || portrait) ? keyboardFrame.size.height : keyboardFrame.size.width;
        }
    } else {
        keyboardHeight = visibleKeyboardHeight();
    }

    CGRect orientationFrame = bounds();
    CGRect statusBarFrame = application->statusBarFrame();
    if (!ignoreOrientation && landscape) {
        std::swap(orientationFrame.size.width, orientationFrame.size.height);
        std::swap(statusBarFrame.size.width, statusBarFrame.size.height);
    }

    CGFloat activeHeight = orientationFrame.size.height;
    if (keyboardHeight > 0) activeHeight += statusBarFrame.size.height * 2;
    activeHeight -= keyboardHeight;
    const CGFloat posY = std::floor(activeHeight * 0.45);
    const CGFloat posX = orientationFrame.size.width / 2;

    CGPoint newCenter = CGPointMake(posX, posY);
    CGFloat rotateAngle = 0;
    if (!ignoreOrientation) {
        const CGFloat h = orientationFrame.size.height;
        switch (orientation) {
            case UIInterfaceOrientationPortraitUpsideDown:
                rotateAngle = M_PI;
                newCenter = CGPointMake(posX, h - posY);
                break;
            case UIInterfaceOrientationLandscapeLeft:
                rotateAngle = -M_PI / 2;
                newCenter = CGPointMake(posY, posX);
                break;
            case UIInterfaceOrientationLandscapeRight:
                rotateAngle = M_PI / 2;
                newCenter = CGPointMake(h - posY, posX);
                break;
            default:
                break;
        }
    }

    auto self = selfAs<GHProgressHUD>();
    auto move = [self, newCenter, rotateAngle] {
        self->moveToPoint(newCenter, rotateAngle);
        self->hudView()->setNeedsDisplay();
    };
    if (notification) {
        UIView::animateWithDuration(animationDuration, 0, UIViewAnimationOptionAllowUserInteraction, move,
                                    nullptr);
    } else {
        move();
    }
}

void GHProgressHUD::moveToPoint(CGPoint point, CGFloat rotateAngle) {
    NS_ASSERT_MAIN_THREAD();
    hudView()->setTransform(CGAffineTransformMakeRotation(rotateAngle));
    hudView()->setCenter(
        CGPointMake(point.x + offsetFromCenter_.horizontal, point.y + offsetFromCenter_.vertical));
}

// ---- touches -----------------------------------------------------------------------------------

void GHProgressHUD::overlayViewDidReceiveTouchEvent(const Ref<NSObject>&, const Ref<UIEvent>& event) {
    NS_ASSERT_MAIN_THREAD();
    NSNotificationCenter::defaultCenter()->postNotificationName(GHProgressHUDDidReceiveTouchEventNotification,
                                                                event);
    if (!event || event->allTouches().empty()) return;
    const Ref<UITouch>& touch = *event->allTouches().begin();
    CGPoint location = touch->locationInView(selfAs<UIView>());
    if (CGRectContainsPoint(hudView()->frame(), location)) {
        NSNotificationCenter::defaultCenter()->postNotificationName(
            GHProgressHUDDidTouchDownInsideNotification, event);
    }
}

// ---- showing -----------------------------------------------------------------------------------

void GHProgressHUD::applyAccessibilityAndInteraction(const Status& status) {
    if (maskType_ == GHProgressHUDMaskTypeNone) {
        overlayView()->setUserInteractionEnabled(false);
        hudView()->setAccessibilityLabel(status);
        hudView()->setIsAccessibilityElement(true);
    } else {
        overlayView()->setUserInteractionEnabled(true);
        setAccessibilityLabel(status);
        setIsAccessibilityElement(true);
    }
}

void GHProgressHUD::showHUDProgress(float progress, const Status& status, GHProgressHUDMaskType maskType) {
    NS_ASSERT_MAIN_THREAD();
    // Attach to the frontmost normal window (or come to the front of the one we are in).
    const Ref<UIControl>& overlay = overlayView();
    if (!overlay->superview()) {
        auto windows = UIApplication::sharedApplication()->windows();
        auto screen = UIScreen::mainScreen();
        for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
            const auto& window = *it;
            if (window->screen() == screen && !window->isHidden() && window->alpha() > 0 &&
                window->windowLevel() == UIWindowLevelNormal) {
                window->addSubview(overlay);
                break;
            }
        }
    } else {
        overlay->superview()->bringSubviewToFront(overlay);
    }
    if (!superview()) overlay->addSubview(selfAs<UIView>());

    setFadeOutTimer(nullptr);
    imageView()->setHidden(true);
    maskType_ = maskType;
    progress_ = progress;
    stringLabel()->setText(status);
    updatePosition();

    if (progress >= 0) {
        imageView()->setImage(nullptr);
        imageView()->setHidden(false);
        indefiniteAnimatedView()->removeFromSuperview();
        ringLayer()->setStrokeEnd(progress);
        if (progress == 0) ++activityCount_;
    } else {
        ++activityCount_;
        cancelRingLayerAnimation();
        hudView()->addSubview(indefiniteAnimatedView());
    }

    applyAccessibilityAndInteraction(status);

    overlay->setHidden(false);
    overlay->setBackgroundColor(UIColor::clearColor());
    positionHUD(nullptr);

    if (alpha() == 1 && hudView()->alpha() == 1) return;

    auto userInfo = notificationUserInfo();
    postNotification(GHProgressHUDWillAppearNotification, userInfo);
    registerNotifications();
    hudView()->setTransform(CGAffineTransformScale(hudView()->transform(), 1.3, 1.3));
    if (isClear()) {
        setAlpha(1);
        hudView()->setAlpha(0);
    }
    auto self = selfAs<GHProgressHUD>();
    UIView::animateWithDuration(
        kAnimationDuration, 0,
        UIViewAnimationOptionAllowUserInteraction | UIViewAnimationOptionBeginFromCurrentState,
        [self] {
            self->hudView()->setTransform(
                CGAffineTransformScale(self->hudView()->transform(), 1 / 1.3, 1 / 1.3));
            if (self->isClear()) {
                self->hudView()->setAlpha(1);
            } else {
                self->setAlpha(1);
            }
        },
        [self, userInfo, status](bool) {
            if (self->retired_) return;
            self->postNotification(GHProgressHUDDidAppearNotification, userInfo);
            postScreenChanged();
            postAnnouncement(status);
        });
    setNeedsDisplay();
}

Ref<UIImage> GHProgressHUD::imageWithTintColor(const Ref<UIImage>& image, const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!image) return nullptr;
    CGRect rect = CGRectMake(0, 0, image->size().width, image->size().height);
    UIGraphicsBeginImageContextWithOptions(rect.size, false, image->scale());
    auto context = UIGraphicsGetCurrentContext();
    image->drawInRect(rect);
    if (context && color) {
        CGContextSetFillColorWithColor(context, color->CGColor());
        CGContextSetBlendMode(context, kCGBlendModeSourceAtop);
        CGContextFillRect(context, rect);
    }
    auto tinted = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return tinted;
}

void GHProgressHUD::showImage(const Ref<UIImage>& image, const Status& status, double duration,
                              GHProgressHUDMaskType maskType) {
    NS_ASSERT_MAIN_THREAD();
    progress_ = kNoProgress;
    maskType_ = maskType;
    cancelRingLayerAnimation();

    if (!isVisible()) showWithMaskType(maskType_);

    // Image views take a tint colour here, so the image is used as it is.
    imageView()->setTintColor(settings().foregroundColor);
    imageView()->setImage(image);
    imageView()->setHidden(false);
    stringLabel()->setText(status);
    updatePosition();
    indefiniteAnimatedView()->removeFromSuperview();

    applyAccessibilityAndInteraction(status);
    postScreenChanged();
    postAnnouncement(status);

    auto timer = NSTimer::timerWithTimeInterval(duration, selfAs<GHProgressHUD>(), &GHProgressHUD::dismissHUD,
                                                Value(), false);
    setFadeOutTimer(timer);
    NSRunLoop::mainRunLoop()->addTimer(timer, NSRunLoopCommonModes);
}

void GHProgressHUD::dismissHUD() {
    NS_ASSERT_MAIN_THREAD();
    auto userInfo = notificationUserInfo();
    postNotification(GHProgressHUDWillDisappearNotification, userInfo);
    activityCount_ = 0;

    auto self = selfAs<GHProgressHUD>();
    UIView::animateWithDuration(
        kAnimationDuration, 0,
        UIViewAnimationOptionLayoutSubviews | UIViewAnimationOptionAllowUserInteraction,
        [self] {
            const CGFloat scale = 0.8f;
            self->hudView()->setTransform(CGAffineTransformScale(self->hudView()->transform(), scale, scale));
            if (self->isClear()) {
                self->hudView()->setAlpha(0);
            } else {
                self->setAlpha(0);
            }
        },
        [self, userInfo](bool) {
            if (self->retired_) return;
            // A showing that started meanwhile has put both opacities back to 1: stay up.
            if (self->alpha() != 0 && self->hudView()->alpha() != 0) return;
            self->setAlpha(0);
            self->hudView()->setAlpha(0);
            NSNotificationCenter::defaultCenter()->removeObserver(self);
            self->cancelRingLayerAnimation();
            if (self->hudView_) self->hudView_->removeFromSuperview();
            self->hudView_ = nullptr;
            if (self->overlayView_) self->overlayView_->removeFromSuperview();
            self->overlayView_ = nullptr;
            if (self->indefiniteAnimatedView_) self->indefiniteAnimatedView_->removeFromSuperview();
            self->indefiniteAnimatedView_ = nullptr;
            postScreenChanged();
            self->postNotification(GHProgressHUDDidDisappearNotification, userInfo);
            if (auto keyWindow = UIApplication::sharedApplication()->keyWindow()) {
                if (const auto& root = keyWindow->rootViewController())
                    root->setNeedsStatusBarAppearanceUpdate();
            }
        });
}

// ---- parts -------------------------------------------------------------------------------------

const Ref<GHIndefiniteAnimatedView>& GHProgressHUD::indefiniteAnimatedView() {
    if (!indefiniteAnimatedView_) {
        indefiniteAnimatedView_ = make<GHIndefiniteAnimatedView>(CGRectZero);
        indefiniteAnimatedView_->setStrokeThickness(settings().ringThickness);
        indefiniteAnimatedView_->setStrokeColor(settings().foregroundColor);
        indefiniteAnimatedView_->setRadius(stringLabel()->text() ? kRingRadius : kRingNoTextRadius);
        indefiniteAnimatedView_->sizeToFit();
    }
    return indefiniteAnimatedView_;
}

const Ref<CAShapeLayer>& GHProgressHUD::ringLayer() {
    if (!ringLayer_) {
        CGRect frame = hudView()->frame();
        CGPoint center = CGPointMake(frame.size.width / 2, frame.size.height / 2);
        ringLayer_ = createRingLayerWithCenter(center, kRingRadius, settings().ringThickness,
                                               settings().foregroundColor);
        hudView()->layer()->addSublayer(ringLayer_);
    }
    return ringLayer_;
}

const Ref<CAShapeLayer>& GHProgressHUD::backgroundRingLayer() {
    if (!backgroundRingLayer_) {
        CGRect frame = hudView()->frame();
        CGPoint center = CGPointMake(frame.size.width / 2, frame.size.height / 2);
        auto color =
            settings().foregroundColor ? settings().foregroundColor->colorWithAlphaComponent(0.1) : nullptr;
        backgroundRingLayer_ =
            createRingLayerWithCenter(center, kRingRadius, settings().ringThickness, color);
        backgroundRingLayer_->setStrokeEnd(1);
        hudView()->layer()->addSublayer(backgroundRingLayer_);
    }
    return backgroundRingLayer_;
}

const Ref<UIControl>& GHProgressHUD::overlayView() {
    if (!overlayView_) {
        overlayView_ = make<UIControl>(UIScreen::mainScreen()->bounds());
        overlayView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        overlayView_->setBackgroundColor(UIColor::clearColor());
        overlayView_->addTarget(selfAs<GHProgressHUD>(), &GHProgressHUD::overlayViewDidReceiveTouchEvent,
                                "overlayViewDidReceiveTouchEvent:forEvent:", UIControlEventTouchDown);
    }
    return overlayView_;
}

const Ref<UIView>& GHProgressHUD::hudView() {
    if (!hudView_) {
        hudView_ = make<UIView>(CGRectZero);
        hudView_->setBackgroundColor(settings().backgroundColor);
        hudView_->layer()->setCornerRadius(14);
        hudView_->layer()->setMasksToBounds(true);
        hudView_->setAutoresizingMask(
            UIViewAutoresizingFlexibleBottomMargin | UIViewAutoresizingFlexibleTopMargin |
            UIViewAutoresizingFlexibleRightMargin | UIViewAutoresizingFlexibleLeftMargin);
    }
    if (!hudView_->superview()) addSubview(hudView_);
    return hudView_;
}

const Ref<UILabel>& GHProgressHUD::stringLabel() {
    if (!stringLabel_) {
        stringLabel_ = make<UILabel>(CGRectZero);
        stringLabel_->setBackgroundColor(UIColor::clearColor());
        stringLabel_->setAdjustsFontSizeToFitWidth(true);
        stringLabel_->setTextAlignment(NSTextAlignmentCenter);
        stringLabel_->setBaselineAdjustment(UIBaselineAdjustmentAlignCenters);
        stringLabel_->setNumberOfLines(0);
    }
    if (!stringLabel_->superview()) hudView()->addSubview(stringLabel_);
    stringLabel_->setTextColor(settings().foregroundColor);
    stringLabel_->setFont(settings().font);
    return stringLabel_;
}

const Ref<UIImageView>& GHProgressHUD::imageView() {
    if (!imageView_) imageView_ = make<UIImageView>(CGRectMake(0, 0, 28, 28));
    if (!imageView_->superview()) hudView()->addSubview(imageView_);
    return imageView_;
}

void GHProgressHUD::cancelRingLayerAnimation() {
    NS_ASSERT_MAIN_THREAD();
    CATransaction::begin();
    CATransaction::setValue(Value(true), kCATransactionDisableActions);
    hudView()->layer()->removeAllAnimations();
    if (ringLayer_) {
        ringLayer_->setStrokeEnd(0);
        ringLayer_->removeFromSuperlayer();
    }
    if (backgroundRingLayer_) backgroundRingLayer_->removeFromSuperlayer();
    ringLayer_ = nullptr;
    backgroundRingLayer_ = nullptr;
    CATransaction::commit();
}

Ref<CAShapeLayer> GHProgressHUD::createRingLayerWithCenter(CGPoint center, CGFloat radius, CGFloat lineWidth,
                                                           const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto path = UIBezierPath::bezierPathWithArcCenter(CGPointMake(radius, radius), radius, -M_PI / 2,
                                                      M_PI + M_PI / 2, true);
    auto layer = CAShapeLayer::layer();
    layer->setContentsScale(UIScreen::mainScreen()->scale());
    layer->setFrame(CGRectMake(center.x - radius, center.y - radius, radius * 2, radius * 2));
    layer->setFillColor(UIColor::clearColor()->CGColor());
    if (color) layer->setStrokeColor(color->CGColor());
    layer->setLineWidth(lineWidth);
    layer->setLineCap(kCALineCapRound);
    layer->setLineJoin(kCALineJoinBevel);
    layer->setPath(path->CGPath());
    return layer;
}

double GHProgressHUD::displayDurationForString(const Status& string) const {
    float length = string ? static_cast<float>(NSString::length(*string)) : 0.0f;
    return std::min(static_cast<double>(length) * 0.06 + 0.5, 5.0);
}

bool GHProgressHUD::isClear() const {
    return maskType_ == GHProgressHUDMaskTypeClear || maskType_ == GHProgressHUDMaskTypeNone;
}

CGFloat GHProgressHUD::visibleKeyboardHeight() const {
    return keyboard().height;
}
