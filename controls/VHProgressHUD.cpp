#include "controls/VHProgressHUD.h"

#include <algorithm>
#include <cmath>

#include "controls/VHBarProgressView.h"
#include "controls/VHProgressSettable.h"
#include "controls/VHRoundProgressView.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSThread.h"
#include "graphics/CGGradient.h"
#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIGraphics.h"
#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIApplication.h"

namespace {

constexpr CGFloat kPadding = 4;
constexpr double kAnimationDuration = 0.30;
constexpr CGFloat kLabelFontSize = 16;
constexpr CGFloat kDetailsLabelFontSize = 12;

CGFloat roundPoint(CGFloat x) {
    return std::round(x);
}

}  // namespace

// ---- creation ----------------------------------------------------------------------------------

VHProgressHUD::VHProgressHUD(CGRect frame) : UIView(frame) {
    animationType_ = VHProgressHUDAnimationFade;
    mode_ = VHProgressHUDModeSpinner;
    labelText_ = std::nullopt;
    detailsLabelText_ = std::nullopt;
    opacity_ = 0.8f;
    color_ = nullptr;
    labelFont_ = UIFont::boldSystemFontOfSize(kLabelFontSize);
    labelColor_ = UIColor::whiteColor();
    detailsLabelFont_ = UIFont::boldSystemFontOfSize(kDetailsLabelFontSize);
    detailsLabelColor_ = UIColor::whiteColor();
    activityIndicatorColor_ = UIColor::whiteColor();
    xOffset_ = 0;
    yOffset_ = 0;
    dimBackground_ = false;
    margin_ = 20;
    cornerRadius_ = 10;
    graceTime_ = 0;
    minShowTime_ = 0;
    removeFromSuperViewOnHide_ = false;
    minSize_ = CGSizeZero;
    square_ = false;

    setContentMode(UIViewContentModeCenter);
    setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin |
                        UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin);
    setOpaque(false);
    setBackgroundColor(UIColor::clearColor());
    setAlpha(0);
    taskInProgress_ = false;
    rotationTransform_ = CGAffineTransformIdentity;

    setupLabels();
}

VHProgressHUD::VHProgressHUD(const Ref<UIView>& view) : VHProgressHUD(view ? view->bounds() : CGRectZero) {}

void VHProgressHUD::didInit() {
    updateIndicators();
    registerForKVO();
    registerForNotifications();
}

VHProgressHUD::~VHProgressHUD() {
    unregisterFromNotifications();
    unregisterFromKVO();
    if (graceTimer_) graceTimer_->invalidate();
    if (minShowTimer_) minShowTimer_->invalidate();
}

void VHProgressHUD::setupLabels() {
    label_ = make<UILabel>(bounds());
    label_->setAdjustsFontSizeToFitWidth(false);
    label_->setTextAlignment(NSTextAlignmentCenter);
    label_->setOpaque(false);
    label_->setBackgroundColor(UIColor::clearColor());
    label_->setTextColor(labelColor_);
    label_->setFont(labelFont_);
    label_->setText(labelText_);
    addSubview(label_);

    detailsLabel_ = make<UILabel>(bounds());
    detailsLabel_->setFont(detailsLabelFont_);
    detailsLabel_->setAdjustsFontSizeToFitWidth(false);
    detailsLabel_->setTextAlignment(NSTextAlignmentCenter);
    detailsLabel_->setOpaque(false);
    detailsLabel_->setBackgroundColor(UIColor::clearColor());
    detailsLabel_->setTextColor(detailsLabelColor_);
    detailsLabel_->setNumberOfLines(0);
    detailsLabel_->setText(detailsLabelText_);
    addSubview(detailsLabel_);
}

// ---- class operations --------------------------------------------------------------------------

Ref<VHProgressHUD> VHProgressHUD::showHUDAddedTo(const Ref<UIView>& view, bool animated) {
    auto hud = make<VHProgressHUD>(view);
    hud->setRemoveFromSuperViewOnHide(true);
    if (view) view->addSubview(hud);
    hud->show(animated);
    return hud;
}

bool VHProgressHUD::hideHUDForView(const Ref<UIView>& view, bool animated) {
    auto hud = HUDForView(view);
    if (!hud) return false;
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(animated);
    return true;
}

unsigned long VHProgressHUD::hideAllHUDsForView(const Ref<UIView>& view, bool animated) {
    auto huds = allHUDsForView(view);
    for (const auto& hud : huds) {
        hud->setRemoveFromSuperViewOnHide(true);
        hud->hide(animated);
    }
    return huds.size();
}

Ref<VHProgressHUD> VHProgressHUD::HUDForView(const Ref<UIView>& view) {
    if (!view) return nullptr;
    const auto& subviews = view->subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
        if (auto hud = asKind<VHProgressHUD>(*it)) return hud;
    }
    return nullptr;
}

std::vector<Ref<VHProgressHUD>> VHProgressHUD::allHUDsForView(const Ref<UIView>& view) {
    std::vector<Ref<VHProgressHUD>> huds;
    if (!view) return huds;
    for (const auto& subview : std::vector(view->subviews())) {
        if (auto hud = asKind<VHProgressHUD>(subview)) huds.push_back(hud);
    }
    return huds;
}

// ---- showing and hiding ------------------------------------------------------------------------

void VHProgressHUD::show(bool animated) {
    NS_ASSERT_MAIN_THREAD();
    useAnimation_ = animated;
    const float grace = graceTime();
    if (grace > 0.0) {
        auto timer = NSTimer::scheduledTimerWithTimeInterval(
            grace, selfAs<VHProgressHUD>(), &VHProgressHUD::handleGraceTimer, Value(), false);
        std::lock_guard<std::mutex> guard(lock_);
        graceTimer_ = timer;
        return;
    }
    showUsingAnimation(useAnimation_);
}

void VHProgressHUD::hide(bool animated) {
    NS_ASSERT_MAIN_THREAD();
    useAnimation_ = animated;
    // A HUD hidden while it waits for its grace time stays hidden.
    if (auto grace = graceTimer()) grace->invalidate();
    const float minimum = minShowTime();
    const auto started = showStarted();
    if (minimum > 0.0 && started) {
        double elapsed = NSDate::date().timeIntervalSinceDate(*started);
        if (elapsed < minimum) {
            auto timer =
                NSTimer::scheduledTimerWithTimeInterval(minimum - elapsed, selfAs<VHProgressHUD>(),
                                                        &VHProgressHUD::handleMinShowTimer, Value(), false);
            std::lock_guard<std::mutex> guard(lock_);
            minShowTimer_ = timer;
            return;
        }
    }
    hideUsingAnimation(useAnimation_);
}

void VHProgressHUD::hide(bool animated, double delay) {
    NS_ASSERT_MAIN_THREAD();
    Weak<VHProgressHUD> weak = selfAs<VHProgressHUD>();
    performSelectorAfterDelay(
        self(), "hideDelayed:", Value(animated),
        [weak, animated] {
            if (auto hud = weak.lock()) hud->hideDelayed(animated);
        },
        delay);
}

void VHProgressHUD::hideDelayed(bool animated) {
    NS_ASSERT_MAIN_THREAD();
    hide(animated);
}

void VHProgressHUD::handleGraceTimer(const Ref<NSTimer>&) {
    NS_ASSERT_MAIN_THREAD();
    // Shown only while the task still runs.
    if (taskInProgress()) showUsingAnimation(useAnimation_);
}

void VHProgressHUD::handleMinShowTimer(const Ref<NSTimer>&) {
    NS_ASSERT_MAIN_THREAD();
    hideUsingAnimation(useAnimation_);
}

void VHProgressHUD::showUsingAnimation(bool animated) {
    cancelPreviousPerformRequestsWithTarget(this);
    // A hide held back by an earlier showing does not end this one.
    if (auto held = minShowTimer()) held->invalidate();
    setNeedsDisplay();
    const VHProgressHUDAnimation type = animationType();
    if (animated && type == VHProgressHUDAnimationShrink) {
        setTransform(CGAffineTransformConcat(rotationTransform_, CGAffineTransformMakeScale(1.5, 1.5)));
    } else if (animated && type == VHProgressHUDAnimationGrow) {
        setTransform(CGAffineTransformConcat(rotationTransform_, CGAffineTransformMakeScale(0.5, 0.5)));
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        showStarted_ = NSDate::date();
    }
    if (animated) {
        auto self = selfAs<VHProgressHUD>();
        UIView::animateWithDuration(kAnimationDuration, [self, type] {
            self->setAlpha(1.0);
            if (type == VHProgressHUDAnimationShrink || type == VHProgressHUDAnimationGrow) {
                self->setTransform(self->rotationTransform_);
            }
        });
    } else {
        setAlpha(1.0);
    }
}

void VHProgressHUD::hideUsingAnimation(bool animated) {
    const bool wasShown = showStarted().has_value();
    {
        std::lock_guard<std::mutex> guard(lock_);
        showStarted_.reset();
    }
    if (animated && wasShown) {
        const VHProgressHUDAnimation type = animationType();
        auto self = selfAs<VHProgressHUD>();
        // 0.02 rather than 0, so that the view still counts as shown while it fades.
        UIView::animateWithDuration(
            kAnimationDuration,
            [self, type] {
                if (type == VHProgressHUDAnimationShrink) {
                    self->setTransform(CGAffineTransformConcat(self->rotationTransform_,
                                                               CGAffineTransformMakeScale(0.5, 0.5)));
                } else if (type == VHProgressHUDAnimationGrow) {
                    self->setTransform(CGAffineTransformConcat(self->rotationTransform_,
                                                               CGAffineTransformMakeScale(1.5, 1.5)));
                }
                self->setAlpha(0.02);
            },
            [self](bool) { self->done(); });
    } else {
        setAlpha(0.0);
        done();
    }
}

void VHProgressHUD::done() {
    auto keepAlive = selfAs<VHProgressHUD>();
    cancelPreviousPerformRequestsWithTarget(this);
    setAlpha(0.0);
    if (removeFromSuperViewOnHide()) removeFromSuperview();
    Block completion;
    {
        std::lock_guard<std::mutex> guard(lock_);
        completion = std::move(completionBlock_);
        completionBlock_ = nullptr;
    }
    if (completion) completion();
    if (auto delegate = this->delegate(); delegate && delegate->implementsHudWasHidden()) {
        delegate->hudWasHidden(keepAlive);
    }
}

// ---- task variants -----------------------------------------------------------------------------

void VHProgressHUD::showWhileExecuting(TargetTask task, const Ref<NSObject>& target, const Value& object,
                                       bool animated) {
    NS_ASSERT_MAIN_THREAD();
    methodForExecution_ = std::move(task);
    targetForExecution_ = target;
    objectForExecution_ = object;
    setTaskInProgress(true);
    auto self = selfAs<VHProgressHUD>();
    NSThread::detachNewThreadWithBlock([self] { self->launchExecution(); });
    show(animated);
}

void VHProgressHUD::launchExecution() {
    if (methodForExecution_) methodForExecution_(targetForExecution_, objectForExecution_);
    auto self = selfAs<VHProgressHUD>();
    performSelectorOnMainThread(
        self, [self] { self->cleanUp(); }, false);
}

void VHProgressHUD::showAnimated(bool animated, Block task) {
    NS_ASSERT_MAIN_THREAD();
    showAnimated(animated, std::move(task), dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                 nullptr);
}

void VHProgressHUD::showAnimated(bool animated, Block task, Block completion) {
    NS_ASSERT_MAIN_THREAD();
    showAnimated(animated, std::move(task), dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                 std::move(completion));
}

void VHProgressHUD::showAnimated(bool animated, Block task, dispatch_queue_t queue) {
    NS_ASSERT_MAIN_THREAD();
    showAnimated(animated, std::move(task), std::move(queue), nullptr);
}

void VHProgressHUD::showAnimated(bool animated, Block task, dispatch_queue_t queue, Block completion) {
    NS_ASSERT_MAIN_THREAD();
    setTaskInProgress(true);
    setCompletionBlock(std::move(completion));
    auto self = selfAs<VHProgressHUD>();
    dispatch_async(queue, [self, task = std::move(task)] {
        if (task) task();
        dispatch_async(dispatch_get_main_queue(), [self] { self->cleanUp(); });
    });
    show(animated);
}

void VHProgressHUD::cleanUp() {
    setTaskInProgress(false);
    targetForExecution_ = nullptr;
    objectForExecution_ = Value();
    methodForExecution_ = nullptr;
    hide(useAnimation_);
}

// ---- indicators --------------------------------------------------------------------------------

void VHProgressHUD::updateIndicators() {
    NS_ASSERT_MAIN_THREAD();
    Ref<UIView> indicator = this->indicator();
    const VHProgressHUDMode mode = this->mode();
    auto replace = [&](const Ref<UIView>& replacement) {
        if (indicator) indicator->removeFromSuperview();
        indicator = replacement;
        if (indicator) addSubview(indicator);
    };

    switch (mode) {
        case VHProgressHUDModeSpinner: {
            if (!isKindOf<UIActivityIndicatorView>(indicator)) {
                auto spinner = make<UIActivityIndicatorView>(UIActivityIndicatorViewStyleWhiteLarge);
                spinner->startAnimating();
                replace(spinner);
            }
            asKind<UIActivityIndicatorView>(indicator)->setColor(activityIndicatorColor());
            break;
        }
        case VHProgressHUDModeRound:
        case VHProgressHUDModeRing: {
            if (!isKindOf<VHRoundProgressView>(indicator)) replace(make<VHRoundProgressView>());
            if (mode == VHProgressHUDModeRing) asKind<VHRoundProgressView>(indicator)->setAnnular(true);
            break;
        }
        case VHProgressHUDModeBar:
            replace(make<VHBarProgressView>());
            break;
        case VHProgressHUDModeCustomView: {
            auto custom = customView();
            if (custom != indicator) replace(custom);
            break;
        }
        case VHProgressHUDModeText:
            replace(nullptr);
            break;
        default:
            break;
    }
    std::lock_guard<std::mutex> guard(lock_);
    indicator_ = indicator;
}

// ---- observation -------------------------------------------------------------------------------

const std::vector<std::string>& VHProgressHUD::observableKeypaths() {
    static const std::vector<std::string> keys{"mode",
                                               "customView",
                                               "labelText",
                                               "labelFont",
                                               "labelColor",
                                               "detailsLabelText",
                                               "detailsLabelFont",
                                               "detailsLabelColor",
                                               "progress",
                                               "activityIndicatorColor"};
    return keys;
}

void VHProgressHUD::registerForKVO() {
    Weak<VHProgressHUD> weak = selfAs<VHProgressHUD>();
    for (const auto& key : observableKeypaths()) {
        observations_.push_back(detail::addObservationBlock(
            *this, key, NSKeyValueObservingOptionNew, [weak, key](const Ref<NSObject>&, const Dictionary&) {
                if (NSThread::isMainThread()) {
                    if (auto hud = weak.lock()) hud->updateUIForKeypath(key);
                    return;
                }
                // Changes made by task code on another thread are applied on the main thread.
                dispatch_async(dispatch_get_main_queue(), [weak, key] {
                    if (auto hud = weak.lock()) hud->updateUIForKeypath(key);
                });
            }));
    }
}

void VHProgressHUD::unregisterFromKVO() {
    for (auto id : observations_) detail::removeObservation(*this, id);
    observations_.clear();
}

void VHProgressHUD::updateUIForKeypath(const std::string& keyPath) {
    NS_ASSERT_MAIN_THREAD();
    if (keyPath == "mode" || keyPath == "customView" || keyPath == "activityIndicatorColor") {
        updateIndicators();
    } else if (keyPath == "labelText") {
        label_->setText(labelText());
    } else if (keyPath == "labelFont") {
        label_->setFont(labelFont());
    } else if (keyPath == "labelColor") {
        label_->setTextColor(labelColor());
    } else if (keyPath == "detailsLabelText") {
        detailsLabel_->setText(detailsLabelText());
    } else if (keyPath == "detailsLabelFont") {
        detailsLabel_->setFont(detailsLabelFont());
    } else if (keyPath == "detailsLabelColor") {
        detailsLabel_->setTextColor(detailsLabelColor());
    } else if (keyPath == "progress") {
        if (auto settable = dynamic_cast<detail::VHProgressSettable*>(indicator().get())) {
            settable->setProgress(progress());
        }
        // A progress change touches the indicator only.
        return;
    }
    setNeedsLayout();
    setNeedsDisplay();
}

// ---- orientation -------------------------------------------------------------------------------

void VHProgressHUD::registerForNotifications() {
    Weak<VHProgressHUD> weak = selfAs<VHProgressHUD>();
    NSNotificationCenter::defaultCenter()->addObserver(
        self(), "statusBarOrientationDidChange:",
        [weak](const Ref<NSNotification>& n) {
            if (auto hud = weak.lock()) hud->statusBarOrientationDidChange(n);
        },
        std::string(UIApplicationDidChangeStatusBarOrientationNotification), nullptr);
}

void VHProgressHUD::unregisterFromNotifications() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
}

void VHProgressHUD::statusBarOrientationDidChange(const Ref<NSNotification>&) {
    if (superviewPointer()) updateForCurrentOrientationAnimated(true);
}

void VHProgressHUD::updateForCurrentOrientationAnimated(bool) {
    NS_ASSERT_MAIN_THREAD();
    if (auto parent = superview()) {
        setBounds(parent->bounds());
        setNeedsDisplay();
    }
}

void VHProgressHUD::didMoveToSuperview() {
    updateForCurrentOrientationAnimated(false);
}

// ---- layout and drawing ------------------------------------------------------------------------

void VHProgressHUD::layoutSubviews() {
    UIView::layoutSubviews();
    if (auto parent = superview()) setFrame(parent->bounds());
    const CGRect b = bounds();
    const CGFloat W = b.size.width;
    const CGFloat H = b.size.height;
    const CGFloat m = margin();
    const CGFloat maxWidth = W - 4 * m;
    CGSize total = CGSizeZero;

    Ref<UIView> indicator = this->indicator();
    CGRect indicatorFrame = indicator ? indicator->bounds() : CGRectZero;
    indicatorFrame.size.width = std::min(indicatorFrame.size.width, maxWidth);
    total.width = std::max(total.width, indicatorFrame.size.width);
    total.height += indicatorFrame.size.height;

    CGSize labelSize = CGSizeZero;
    if (const auto& text = label_->text(); text && !text->empty()) {
        labelSize = NSStringDrawing::sizeWithAttributes(
            *text, Dictionary{{NSFontAttributeName, Value(label_->font())}});
    }
    labelSize.width = std::min(labelSize.width, maxWidth);
    total.width = std::max(total.width, labelSize.width);
    total.height += labelSize.height;
    if (labelSize.height > 0 && indicatorFrame.size.height > 0) total.height += kPadding;

    const CGFloat remainingHeight = H - total.height - kPadding - 4 * m;
    CGSize detailsSize = CGSizeZero;
    if (const auto& text = detailsLabel_->text(); text && !text->empty()) {
        detailsSize = NSStringDrawing::boundingRectWithSize(
                          *text, CGSizeMake(maxWidth, remainingHeight), NSStringDrawingUsesLineFragmentOrigin,
                          Dictionary{{NSFontAttributeName, Value(detailsLabel_->font())}})
                          .size;
    }
    total.width = std::max(total.width, detailsSize.width);
    total.height += detailsSize.height;
    if (detailsSize.height > 0 && (indicatorFrame.size.height > 0 || labelSize.height > 0))
        total.height += kPadding;

    total.width += 2 * m;
    total.height += 2 * m;

    CGFloat y = roundPoint((H - total.height) / 2) + m + yOffset();
    const CGFloat x = xOffset();
    indicatorFrame.origin.y = y;
    indicatorFrame.origin.x = roundPoint((W - indicatorFrame.size.width) / 2) + x;
    if (indicator) indicator->setFrame(indicatorFrame);

    y += indicatorFrame.size.height;
    if (labelSize.height > 0 && indicatorFrame.size.height > 0) y += kPadding;
    label_->setFrame(
        CGRectMake(roundPoint((W - labelSize.width) / 2) + x, y, labelSize.width, labelSize.height));

    y += labelSize.height;
    if (detailsSize.height > 0 && (indicatorFrame.size.height > 0 || labelSize.height > 0)) y += kPadding;
    detailsLabel_->setFrame(
        CGRectMake(roundPoint((W - detailsSize.width) / 2) + x, y, detailsSize.width, detailsSize.height));

    if (isSquare()) {
        const CGFloat side = std::max(total.width, total.height);
        if (side <= W - 2 * m) total.width = side;
        if (side <= H - 2 * m) total.height = side;
    }
    const CGSize minimum = minSize();
    total.width = std::max(total.width, minimum.width);
    total.height = std::max(total.height, minimum.height);

    std::lock_guard<std::mutex> guard(lock_);
    size_ = total;
}

void VHProgressHUD::drawRect(CGRect) {
    CGContextRef context = UIGraphicsGetCurrentContext();
    if (!context) return;
    UIGraphicsPushContext(context);
    const CGRect b = bounds();

    if (dimBackground()) {
        const CGFloat locations[2] = {0.0, 1.0};
        const CGFloat colors[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.75};
        CGGradientRef gradient =
            CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), colors, locations, 2);
        const CGPoint center = CGPointMake(b.size.width / 2, b.size.height / 2);
        const float radius = static_cast<float>(std::min(b.size.width, b.size.height));
        CGContextDrawRadialGradient(context, gradient, center, 0, center, radius,
                                    kCGGradientDrawsAfterEndLocation);
    }

    if (auto fill = color()) {
        CGContextSetFillColorWithColor(context, fill->CGColor());
    } else {
        CGContextSetGrayFillColor(context, 0.0, opacity());
    }

    const CGSize box = size();
    const CGRect boxRect =
        CGRectMake(roundPoint((b.size.width - box.width) / 2) + xOffset(),
                   roundPoint((b.size.height - box.height) / 2) + yOffset(), box.width, box.height);
    const CGFloat r = cornerRadius();
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, CGRectGetMinX(boxRect) + r, CGRectGetMinY(boxRect));
    CGContextAddArc(context, CGRectGetMaxX(boxRect) - r, CGRectGetMinY(boxRect) + r, r, 3 * M_PI / 2, 0, 0);
    CGContextAddArc(context, CGRectGetMaxX(boxRect) - r, CGRectGetMaxY(boxRect) - r, r, 0, M_PI / 2, 0);
    CGContextAddArc(context, CGRectGetMinX(boxRect) + r, CGRectGetMaxY(boxRect) - r, r, M_PI / 2, M_PI, 0);
    CGContextAddArc(context, CGRectGetMinX(boxRect) + r, CGRectGetMinY(boxRect) + r, r, M_PI, 3 * M_PI / 2,
                    0);
    CGContextClosePath(context);
    CGContextFillPath(context);

    UIGraphicsPopContext();
}

// ---- properties --------------------------------------------------------------------------------

template <class T, class V>
void VHProgressHUD::setObserved(const char* key, T& field, V&& value) {
    // The announcement runs without the lock: observers read the property back.
    KVO::ChangeScope change(*this, key);
    std::lock_guard<std::mutex> guard(lock_);
    field = std::forward<V>(value);
}

template <class T, class V>
void VHProgressHUD::setPlain(T& field, V&& value) {
    std::lock_guard<std::mutex> guard(lock_);
    field = std::forward<V>(value);
}

#define VH_GETTER(Type, name, field)                                                                         \
    Type VHProgressHUD::name() const {                                                                       \
        std::lock_guard<std::mutex> guard(lock_);                                                            \
        return field;                                                                                        \
    }

VH_GETTER(Ref<UIView>, indicator, indicator_)
VH_GETTER(Ref<NSTimer>, graceTimer, graceTimer_)
VH_GETTER(Ref<NSTimer>, minShowTimer, minShowTimer_)
VH_GETTER(std::optional<NSDate>, showStarted, showStarted_)
VH_GETTER(VHProgressHUD::Block, completionBlock, completionBlock_)
VH_GETTER(VHProgressHUDMode, mode, mode_)
VH_GETTER(VHProgressHUDAnimation, animationType, animationType_)
VH_GETTER(Ref<UIView>, customView, customView_)
VH_GETTER(Ref<VHProgressHUDDelegate>, delegate, delegate_.lock())
VH_GETTER(std::optional<std::string>, labelText, labelText_)
VH_GETTER(std::optional<std::string>, detailsLabelText, detailsLabelText_)
VH_GETTER(float, opacity, opacity_)
VH_GETTER(Ref<UIColor>, color, color_)
VH_GETTER(float, xOffset, xOffset_)
VH_GETTER(float, yOffset, yOffset_)
VH_GETTER(float, margin, margin_)
VH_GETTER(float, cornerRadius, cornerRadius_)
VH_GETTER(bool, dimBackground, dimBackground_)
VH_GETTER(float, graceTime, graceTime_)
VH_GETTER(float, minShowTime, minShowTime_)
VH_GETTER(bool, taskInProgress, taskInProgress_)
VH_GETTER(bool, removeFromSuperViewOnHide, removeFromSuperViewOnHide_)
VH_GETTER(Ref<UIFont>, labelFont, labelFont_)
VH_GETTER(Ref<UIColor>, labelColor, labelColor_)
VH_GETTER(Ref<UIFont>, detailsLabelFont, detailsLabelFont_)
VH_GETTER(Ref<UIColor>, detailsLabelColor, detailsLabelColor_)
VH_GETTER(Ref<UIColor>, activityIndicatorColor, activityIndicatorColor_)
VH_GETTER(float, progress, progress_)
VH_GETTER(CGSize, minSize, minSize_)
VH_GETTER(CGSize, size, size_)
VH_GETTER(bool, isSquare, square_)

#undef VH_GETTER

void VHProgressHUD::setCompletionBlock(Block block) {
    setPlain(completionBlock_, std::move(block));
}
void VHProgressHUD::setMode(VHProgressHUDMode mode) {
    setObserved("mode", mode_, mode);
}
void VHProgressHUD::setAnimationType(VHProgressHUDAnimation type) {
    setPlain(animationType_, type);
}
void VHProgressHUD::setCustomView(const Ref<UIView>& view) {
    setObserved("customView", customView_, view);
}
void VHProgressHUD::setDelegate(const Ref<VHProgressHUDDelegate>& delegate) {
    setPlain(delegate_, delegate);
}
void VHProgressHUD::setLabelText(const std::optional<std::string>& text) {
    setObserved("labelText", labelText_, text);
}
void VHProgressHUD::setDetailsLabelText(const std::optional<std::string>& text) {
    setObserved("detailsLabelText", detailsLabelText_, text);
}
void VHProgressHUD::setOpacity(float opacity) {
    setPlain(opacity_, opacity);
}
void VHProgressHUD::setColor(const Ref<UIColor>& color) {
    setPlain(color_, color);
}
void VHProgressHUD::setXOffset(float offset) {
    setPlain(xOffset_, offset);
}
void VHProgressHUD::setYOffset(float offset) {
    setPlain(yOffset_, offset);
}
void VHProgressHUD::setMargin(float margin) {
    setPlain(margin_, margin);
}
void VHProgressHUD::setCornerRadius(float radius) {
    setPlain(cornerRadius_, radius);
}
void VHProgressHUD::setDimBackground(bool dim) {
    setPlain(dimBackground_, dim);
}
void VHProgressHUD::setGraceTime(float seconds) {
    setPlain(graceTime_, seconds);
}
void VHProgressHUD::setMinShowTime(float seconds) {
    setPlain(minShowTime_, seconds);
}
void VHProgressHUD::setTaskInProgress(bool inProgress) {
    setPlain(taskInProgress_, inProgress);
}
void VHProgressHUD::setRemoveFromSuperViewOnHide(bool remove) {
    setPlain(removeFromSuperViewOnHide_, remove);
}
void VHProgressHUD::setLabelFont(const Ref<UIFont>& font) {
    setObserved("labelFont", labelFont_, font);
}
void VHProgressHUD::setLabelColor(const Ref<UIColor>& color) {
    setObserved("labelColor", labelColor_, color);
}
void VHProgressHUD::setDetailsLabelFont(const Ref<UIFont>& font) {
    setObserved("detailsLabelFont", detailsLabelFont_, font);
}
void VHProgressHUD::setDetailsLabelColor(const Ref<UIColor>& color) {
    setObserved("detailsLabelColor", detailsLabelColor_, color);
}
void VHProgressHUD::setActivityIndicatorColor(const Ref<UIColor>& color) {
    setObserved("activityIndicatorColor", activityIndicatorColor_, color);
}
void VHProgressHUD::setProgress(float progress) {
    setObserved("progress", progress_, progress);
}
void VHProgressHUD::setMinSize(CGSize size) {
    setPlain(minSize_, size);
}
void VHProgressHUD::setSquare(bool square) {
    setPlain(square_, square);
}

Value VHProgressHUD::valueForKey(const std::string& key) const {
    if (key == "mode") return Value(mode());
    if (key == "customView") return Value(customView());
    if (key == "labelText") return Value(labelText());
    if (key == "labelFont") return Value(labelFont());
    if (key == "labelColor") return Value(labelColor());
    if (key == "detailsLabelText") return Value(detailsLabelText());
    if (key == "detailsLabelFont") return Value(detailsLabelFont());
    if (key == "detailsLabelColor") return Value(detailsLabelColor());
    if (key == "progress") return Value(progress());
    if (key == "activityIndicatorColor") return Value(activityIndicatorColor());
    return UIView::valueForKey(key);
}
