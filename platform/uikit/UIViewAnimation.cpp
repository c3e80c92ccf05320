// View animations on top of layer animations: an animation block records the model changes of
// animatable view properties, and each (view, property) becomes a layer animation whose stop
// feeds the block's completion.

#include <algorithm>
#include <cmath>
#include <map>

#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSTimer.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIView.h"
#include "uikit/UIViewInternal.h"

namespace {

struct Change {
    Weak<UIView> view;
    UIView* viewPointer;
    std::string key;
    Value from;
    Value to;
    double frameStart = 0;
    double frameDuration = 1;
};

// One open animation block.
struct Capture {
    double duration = 0;
    double delay = 0;
    UIViewAnimationOptions options = 0;
    bool keyframes = false;
    std::optional<std::pair<CGFloat, CGFloat>> spring;
    double frameStart = 0;
    double frameDuration = 1;
    std::vector<Change> changes;
};

// What the older begin/commit form collects before commit.
struct BeginCommit {
    std::optional<std::string> animationID;
    void* context = nullptr;
    double duration = 0.2;
    double delay = 0;
    UIViewAnimationCurve curve = UIViewAnimationCurveEaseInOut;
    float repeatCount = 0;
    bool autoreverses = false;
    bool beginsFromCurrentState = false;
    bool hasDelegate = false;
    Weak<NSObject> delegate;
    UIView::AnimationDidStopSelector didStop;
    std::function<void(const std::optional<std::string>&, void*)> willStart;
    Capture capture;
};

std::vector<Capture*> gCaptures;
std::vector<std::unique_ptr<BeginCommit>> gBeginCommits;
int gWithoutAnimation = 0;
bool gAnimationsEnabled = true;

// A block's progress: how many layer animations are still running, and whether all finished.
struct Record : std::enable_shared_from_this<Record> {
    UIViewAnimationCompletion completion;
    int pending = 0;
    bool finished = true;
    bool done = false;
    std::vector<Weak<UIView>> blockedViews;

    void complete() {
        if (done) return;
        done = true;
        for (auto& weak : blockedViews) {
            if (auto view = weak.lock()) view->adjustBlockingAnimations(-1);
        }
        blockedViews.clear();
        if (completion) {
            auto block = std::move(completion);
            block(finished);
        }
    }
    void stopped(bool ok) {
        if (!ok) finished = false;
        if (--pending <= 0) complete();
    }
};

class RecordDelegate : public CAAnimationDelegate {
  public:
    explicit RecordDelegate(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    void animationDidStop(const Ref<CAAnimation>&, bool finished) override { record_->stopped(finished); }

  private:
    std::shared_ptr<Record> record_;
};

Ref<CAMediaTimingFunction> timingForOptions(UIViewAnimationOptions options) {
    switch ((options >> 16) & 0xF) {
        case UIViewAnimationCurveEaseIn:
            return CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionEaseIn);
        case UIViewAnimationCurveEaseOut:
            return CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionEaseOut);
        case UIViewAnimationCurveLinear:
            return CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear);
        default:
            return CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionEaseInEaseOut);
    }
}

const char* calculationModeForOptions(UIViewKeyframeAnimationOptions options) {
    switch ((options >> 10) & 0x7) {
        case 1:
            return kCAAnimationDiscrete;
        case 2:
            return kCAAnimationPaced;
        case 3:
            return kCAAnimationCubic;
        case 4:
            return kCAAnimationCubicPaced;
        default:
            return kCAAnimationLinear;
    }
}

// Completes a record with no layer animations after `seconds` (on the next turn when zero).
void completeLater(const std::shared_ptr<Record>& record, double seconds) {
    if (seconds <= 0) {
        NSRunLoop::mainRunLoop()->performBlock([record] { record->complete(); });
        return;
    }
    auto timer =
        NSTimer::timerWithTimeInterval(seconds, false, [record](const Ref<NSTimer>&) { record->complete(); });
    NSRunLoop::mainRunLoop()->addTimer(timer, NSRunLoopCommonModes);
}

// Turns a closed capture into layer animations (or a plain timed completion).
void commitCapture(Capture& capture, UIViewAnimationCompletion completion) {
    auto record = std::make_shared<Record>();
    record->completion = std::move(completion);
    const bool repeats = capture.options & UIViewAnimationOptionRepeat;
    const bool autoreverses = capture.options & UIViewAnimationOptionAutoreverse;

    // Group the changes by view and property, keeping their order of first appearance.
    struct Track {
        Weak<UIView> view;
        UIView* pointer;
        std::string key;
        std::vector<const Change*> changes;
    };
    std::vector<Track> tracks;
    for (const Change& change : capture.changes) {
        auto it = std::find_if(tracks.begin(), tracks.end(), [&](const Track& t) {
            return t.pointer == change.viewPointer && t.key == change.key;
        });
        if (it == tracks.end()) {
            tracks.push_back({change.view, change.viewPointer, change.key, {}});
            it = tracks.end() - 1;
        }
        it->changes.push_back(&change);
    }

    if (capture.duration <= 0 || tracks.empty()) {
        completeLater(record, std::max(0.0, capture.delay) + std::max(0.0, capture.duration));
        return;
    }

    const double begin = CACurrentMediaTime() + std::max(0.0, capture.delay);
    auto delegate = std::make_shared<RecordDelegate>(record);
    std::vector<std::pair<Ref<UIView>, Ref<CAAnimation>>> toAdd;
    for (auto& track : tracks) {
        auto view = track.view.lock();
        if (!view) continue;
        Ref<CAPropertyAnimation> animation;
        if (capture.keyframes) {
            auto keyframe = CAKeyframeAnimation::animationWithKeyPath(track.key);
            std::vector<const Change*> frames = track.changes;
            std::stable_sort(frames.begin(), frames.end(), [](const Change* a, const Change* b) {
                return a->frameStart + a->frameDuration < b->frameStart + b->frameDuration;
            });
            std::vector<Value> values{frames.front()->from};
            std::vector<double> times{0};
            for (const Change* c : frames) {
                values.push_back(c->to);
                times.push_back(std::clamp(c->frameStart + c->frameDuration, 0.0, 1.0));
            }
            keyframe->setValues(std::move(values));
            keyframe->setKeyTimes(std::move(times));
            keyframe->setCalculationMode(calculationModeForOptions(capture.options));
            animation = keyframe;
        } else {
            auto basic = CABasicAnimation::animationWithKeyPath(track.key);
            basic->setFromValue(track.changes.front()->from);
            basic->setToValue(track.changes.back()->to);
            if (capture.spring) basic->setSpring(capture.spring->first, capture.spring->second);
            animation = basic;
        }
        animation->setDuration(capture.duration);
        animation->setBeginTime(begin);
        animation->setTimingFunction(timingForOptions(capture.options));
        animation->setFillMode(kCAFillModeBoth);
        if (repeats) animation->setRepeatCount(kCARepeatForever);
        animation->setAutoreverses(autoreverses);
        animation->setDelegate(delegate);
        toAdd.emplace_back(view, animation);
    }
    if (toAdd.empty()) {
        completeLater(record, std::max(0.0, capture.delay) + capture.duration);
        return;
    }
    record->pending = int(toAdd.size());
    if (!(capture.options & UIViewAnimationOptionAllowUserInteraction)) {
        std::vector<UIView*> seen;
        for (auto& [view, animation] : toAdd) {
            if (std::find(seen.begin(), seen.end(), view.get()) != seen.end()) continue;
            seen.push_back(view.get());
            view->adjustBlockingAnimations(+1);
            record->blockedViews.push_back(view);
        }
    }
    for (auto& [view, animation] : toAdd) {
        auto* property = static_cast<CAPropertyAnimation*>(animation.get());
        view->layer()->addAnimation(animation, property->keyPath());
    }
}

void runCaptured(Capture& capture, const std::function<void()>& animations) {
    gCaptures.push_back(&capture);
    struct Pop {
        ~Pop() { gCaptures.pop_back(); }
    } pop;
    if (animations) animations();
}

}  // namespace

bool detail::viewAnimationCaptureActive() {
    return !gCaptures.empty() && gWithoutAnimation == 0 && gAnimationsEnabled;
}

void detail::recordViewAnimatableChange(UIView& view, const std::string& layerKey, const Value& from,
                                        const Value& to) {
    if (!viewAnimationCaptureActive()) return;
    Capture* capture = gCaptures.back();
    Change change;
    change.view = std::static_pointer_cast<UIView>(view.weak_from_this().lock());
    if (change.view.expired()) return;
    change.viewPointer = &view;
    change.key = layerKey;
    change.from = from;
    change.to = to;
    change.frameStart = capture->frameStart;
    change.frameDuration = capture->frameDuration;
    capture->changes.push_back(std::move(change));
}

void UIView::animateWithDuration(double duration, std::function<void()> animations) {
    NS_ASSERT_MAIN_THREAD();
    animateWithDuration(duration, 0, 0, std::move(animations), nullptr);
}

void UIView::animateWithDuration(double duration, std::function<void()> animations,
                                 UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    animateWithDuration(duration, 0, 0, std::move(animations), std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, UIViewAnimationOptions options,
                                 std::function<void()> animations, UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Capture capture;
    capture.duration = duration;
    capture.delay = delay;
    capture.options = options;
    runCaptured(capture, animations);
    if (!gAnimationsEnabled) capture.duration = 0;
    commitCapture(capture, std::move(completion));
}

void UIView::animateWithDuration(double duration, double delay, CGFloat dampingRatio, CGFloat velocity,
                                 UIViewAnimationOptions options, std::function<void()> animations,
                                 UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Capture capture;
    capture.duration = duration;
    capture.delay = delay;
    capture.options = options;
    capture.spring = std::make_pair(dampingRatio, velocity);
    runCaptured(capture, animations);
    if (!gAnimationsEnabled) capture.duration = 0;
    commitCapture(capture, std::move(completion));
}

void UIView::animateKeyframesWithDuration(double duration, double delay,
                                          UIViewKeyframeAnimationOptions options,
                                          std::function<void()> animations,
                                          UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Capture capture;
    capture.duration = duration;
    capture.delay = delay;
    // The keyframe options share the low bits with the view animation options.
    capture.options = options;
    capture.keyframes = true;
    runCaptured(capture, animations);
    if (!gAnimationsEnabled) capture.duration = 0;
    commitCapture(capture, std::move(completion));
}

void UIView::addKeyframeWithRelativeStartTime(double frameStartTime, double frameDuration,
                                              std::function<void()> animations) {
    if (gCaptures.empty() || !gCaptures.back()->keyframes) {
        // Outside a keyframe block the changes simply happen.
        if (animations) animations();
        return;
    }
    Capture* capture = gCaptures.back();
    double oldStart = capture->frameStart, oldDuration = capture->frameDuration;
    capture->frameStart = std::clamp(frameStartTime, 0.0, 1.0);
    capture->frameDuration = std::clamp(frameDuration, 0.0, 1.0 - capture->frameStart);
    if (animations) animations();
    capture->frameStart = oldStart;
    capture->frameDuration = oldDuration;
}

void UIView::transitionWithView(const Ref<UIView>& view, double duration, UIViewAnimationOptions options,
                                std::function<void()> animations, UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    performWithoutAnimation(animations ? animations : [] {});
    auto record = std::make_shared<Record>();
    record->completion = std::move(completion);
    if (!view || duration <= 0 || !gAnimationsEnabled) return completeLater(record, 0);
    auto transition = CATransition::animation();
    switch ((options >> 20) & 0xF) {
        case 1:
        case 2:
        case 6:
        case 7:
            transition->setType("oglFlip");
            break;
        case 3:
        case 4:
            transition->setType("pageCurl");
            break;
        default:
            transition->setType(kCATransitionFade);
    }
    transition->setDuration(duration);
    transition->setTimingFunction(timingForOptions(options));
    transition->setDelegate(std::make_shared<RecordDelegate>(record));
    record->pending = 1;
    view->layer()->addAnimation(transition, std::string("transition"));
}

void UIView::transitionFromView(const Ref<UIView>& fromView, const Ref<UIView>& toView, double duration,
                                UIViewAnimationOptions options, UIViewAnimationCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Ref<UIView> container = fromView ? fromView->superview() : nullptr;
    auto swap = [fromView, toView, options, container] {
        if (!fromView || !toView) return;
        if (options & UIViewAnimationOptionShowHideTransitionViews) {
            fromView->setHidden(true);
            toView->setHidden(false);
            return;
        }
        if (container) {
            container->insertSubviewAbove(toView, fromView);
            fromView->removeFromSuperview();
        }
    };
    transitionWithView(container ? container : toView, duration, options, swap, std::move(completion));
}

void UIView::performWithoutAnimation(const std::function<void()>& actions) {
    NS_ASSERT_MAIN_THREAD();
    ++gWithoutAnimation;
    struct Restore {
        ~Restore() { --gWithoutAnimation; }
    } restore;
    if (actions) actions();
}

void UIView::setAnimationsEnabled(bool enabled) {
    gAnimationsEnabled = enabled;
}

bool UIView::areAnimationsEnabled() {
    return gAnimationsEnabled;
}

// ---- begin / commit ---------------------------------------------------------------------------

void UIView::beginAnimations(const std::optional<std::string>& animationID, void* context) {
    NS_ASSERT_MAIN_THREAD();
    auto bc = std::make_unique<BeginCommit>();
    bc->animationID = animationID;
    bc->context = context;
    gCaptures.push_back(&bc->capture);
    gBeginCommits.push_back(std::move(bc));
}

void UIView::commitAnimations() {
    NS_ASSERT_MAIN_THREAD();
    if (gBeginCommits.empty()) return;
    std::unique_ptr<BeginCommit> bc = std::move(gBeginCommits.back());
    gBeginCommits.pop_back();
    auto it = std::find(gCaptures.begin(), gCaptures.end(), &bc->capture);
    if (it != gCaptures.end()) gCaptures.erase(it);

    Capture& capture = bc->capture;
    capture.duration = gAnimationsEnabled ? bc->duration : 0;
    capture.delay = bc->delay;
    capture.options = UIViewAnimationOptions(bc->curve) << 16;
    if (bc->autoreverses) capture.options |= UIViewAnimationOptionAutoreverse;
    if (bc->repeatCount > 0 && std::isinf(bc->repeatCount)) capture.options |= UIViewAnimationOptionRepeat;
    if (bc->beginsFromCurrentState) capture.options |= UIViewAnimationOptionBeginFromCurrentState;

    if (bc->willStart) {
        auto willStart = bc->willStart;
        auto id = bc->animationID;
        void* context = bc->context;
        bool hasDelegate = bc->hasDelegate;
        Weak<NSObject> delegate = bc->delegate;
        NSRunLoop::mainRunLoop()->performBlock([=] {
            if (hasDelegate && delegate.expired()) return;
            willStart(id, context);
        });
    }
    UIViewAnimationCompletion completion;
    if (bc->didStop) {
        auto didStop = bc->didStop;
        auto id = bc->animationID;
        void* context = bc->context;
        bool hasDelegate = bc->hasDelegate;
        Weak<NSObject> delegate = bc->delegate;
        completion = [=](bool finished) {
            if (hasDelegate && delegate.expired()) return;
            didStop(id, finished, context);
        };
    }
    commitCapture(capture, std::move(completion));
}

namespace {
BeginCommit* currentBeginCommit() {
    return gBeginCommits.empty() ? nullptr : gBeginCommits.back().get();
}
}  // namespace

void UIView::setAnimationDuration(double duration) {
    if (auto* bc = currentBeginCommit()) bc->duration = duration;
}
void UIView::setAnimationDelay(double delay) {
    if (auto* bc = currentBeginCommit()) bc->delay = delay;
}
void UIView::setAnimationCurve(UIViewAnimationCurve curve) {
    if (auto* bc = currentBeginCommit()) bc->curve = curve;
}
void UIView::setAnimationRepeatCount(float repeatCount) {
    if (auto* bc = currentBeginCommit()) bc->repeatCount = repeatCount;
}
void UIView::setAnimationRepeatAutoreverses(bool autoreverses) {
    if (auto* bc = currentBeginCommit()) bc->autoreverses = autoreverses;
}
void UIView::setAnimationBeginsFromCurrentState(bool fromCurrentState) {
    if (auto* bc = currentBeginCommit()) bc->beginsFromCurrentState = fromCurrentState;
}
void UIView::setAnimationTransition(UIViewAnimationTransition transition, const Ref<UIView>& view,
                                    bool cache) {
    auto* bc = currentBeginCommit();
    if (!bc || !view || transition == UIViewAnimationTransitionNone) return;
    auto animation = CATransition::animation();
    animation->setType(transition == UIViewAnimationTransitionCurlUp ||
                               transition == UIViewAnimationTransitionCurlDown
                           ? "pageCurl"
                           : "oglFlip");
    animation->setDuration(bc->duration);
    view->layer()->addAnimation(animation, std::string("transition"));
}
void UIView::setAnimationDelegate(const Ref<NSObject>& delegate) {
    if (auto* bc = currentBeginCommit()) {
        bc->delegate = delegate;
        bc->hasDelegate = delegate != nullptr;
    }
}
void UIView::setAnimationDidStopSelector(AnimationDidStopSelector selector) {
    if (auto* bc = currentBeginCommit()) bc->didStop = std::move(selector);
}
void UIView::setAnimationWillStartSelector(
    std::function<void(const std::optional<std::string>&, void*)> selector) {
    if (auto* bc = currentBeginCommit()) bc->willStart = std::move(selector);
}
