#include "uikit/CALayer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dispatch/Clock.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSTimer.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/CAAnimation.h"
#include "uikit/UIView.h"
#include "uikit/UIViewInternal.h"

double CACurrentMediaTime() {
    return PlatformClock::monotonic();
}

struct CALayer::AnimationEntry {
    std::string key;
    bool anonymous = false;
    std::uint64_t serial = 0;
    Ref<CAAnimation> animation;
    Ref<NSTimer> startTimer;
    Ref<NSTimer> stopTimer;
    std::shared_ptr<void> transactionToken;
    bool stopped = false;
};

namespace {

std::uint64_t nextAnimationSerial() {
    static std::uint64_t serial = 0;
    return ++serial;
}

CGColorRef colorFromValue(const Value& value) {
    if (auto color = value.objectAs<UIColor>()) return color->CGColor();
    if (auto color = value.objectAs<CGColor>()) return color;
    return nullptr;
}

// The affine transform split into translation, rotation and scale (scale y carries a reflection).
struct Decomposed {
    CGFloat tx, ty, rotation, sx, sy;
};
Decomposed decompose(CGAffineTransform t) {
    Decomposed d{};
    d.tx = t.tx;
    d.ty = t.ty;
    d.sx = std::sqrt(t.a * t.a + t.b * t.b);
    d.rotation = std::atan2(t.b, t.a);
    CGFloat det = t.a * t.d - t.b * t.c;
    d.sy = d.sx != 0 ? det / d.sx : std::sqrt(t.c * t.c + t.d * t.d);
    return d;
}
CGAffineTransform compose(const Decomposed& d) {
    CGAffineTransform t = CGAffineTransformMakeScale(d.sx, d.sy);
    t = CGAffineTransformConcat(t, CGAffineTransformMakeRotation(d.rotation));
    return CGAffineTransformConcat(t, CGAffineTransformMakeTranslation(d.tx, d.ty));
}

CGAffineTransform toAncestor(const CALayer* layer, const CALayer* ancestor) {
    CGAffineTransform m = CGAffineTransformIdentity;
    for (const CALayer* l = layer; l && l != ancestor; l = l->superlayerPointer()) {
        m = CGAffineTransformConcat(m, l->transformToSuperlayer());
    }
    return m;
}

const CALayer* commonAncestor(const CALayer* a, const CALayer* b) {
    for (const CALayer* x = a; x; x = x->superlayerPointer()) {
        for (const CALayer* y = b; y; y = y->superlayerPointer()) {
            if (x == y) return x;
        }
    }
    return nullptr;
}

// The mapping of points of `from` into `to` (nullptr: the root's parent space).
CGAffineTransform mappingBetween(const CALayer* from, const CALayer* to) {
    if (!to) return toAncestor(from, nullptr);
    if (const CALayer* ca = commonAncestor(from, to)) {
        return CGAffineTransformConcat(toAncestor(from, ca), CGAffineTransformInvert(toAncestor(to, ca)));
    }
    return CGAffineTransformConcat(toAncestor(from, nullptr),
                                   CGAffineTransformInvert(toAncestor(to, nullptr)));
}

}  // namespace

CALayer::CALayer() {
    static const CGColorRef black = UIColor::blackColor()->CGColor();
    borderColor_ = black;
    shadowColor_ = black;
}

CALayer::~CALayer() {
    // Animations still running stop unfinished; their delegates hear it on the next turn.
    auto entries = std::move(animations_);
    for (auto& entry : entries) {
        if (entry->startTimer) entry->startTimer->invalidate();
        if (entry->stopTimer) entry->stopTimer->invalidate();
        if (entry->stopped) continue;
        auto animation = entry->animation;
        auto token = entry->transactionToken;
        NSRunLoop::mainRunLoop()->performBlock([animation, token]() mutable {
            if (auto delegate = animation->delegate()) delegate->animationDidStop(animation, false);
            animation->releaseDelegateAfterStop();
            token.reset();
        });
    }
    for (auto& sub : sublayers_) sub->superlayer_ = nullptr;
    if (mask_) mask_->superlayer_ = nullptr;
}

// ---- geometry ---------------------------------------------------------------------------------

void CALayer::setBounds(CGRect bounds) {
    CGSize old = bounds_.size;
    bounds_ = bounds;
    if (owningView_) detail::UIViewAccess::layerGeometryChanged(*owningView_, old);
}

void CALayer::setPosition(CGPoint position) {
    position_ = position;
    if (owningView_) detail::UIViewAccess::layerGeometryChanged(*owningView_, bounds_.size);
}

void CALayer::setAnchorPoint(CGPoint anchorPoint) {
    anchorPoint_ = anchorPoint;
    if (owningView_) detail::UIViewAccess::layerGeometryChanged(*owningView_, bounds_.size);
}

void CALayer::setTransform(const CATransform3D& transform) {
    transform_ = transform;
    if (owningView_) detail::UIViewAccess::layerGeometryChanged(*owningView_, bounds_.size);
}

CGRect CALayer::frame() const {
    CGRect local{{-anchorPoint_.x * bounds_.size.width, -anchorPoint_.y * bounds_.size.height}, bounds_.size};
    CGRect box = CGRectApplyAffineTransform(local, affineTransform());
    return CGRectOffset(box, position_.x, position_.y);
}

void CALayer::setFrame(CGRect frame) {
    frame = CGRectStandardize(frame);
    CGAffineTransform t = affineTransform();
    CGSize size = bounds_.size;
    const bool axisAligned = t.b == 0 && t.c == 0;
    if (axisAligned && t.a != 0 && t.d != 0) {
        size = {frame.size.width / std::fabs(t.a), frame.size.height / std::fabs(t.d)};
    }
    CGSize old = bounds_.size;
    bounds_.size = size;
    // Where the box lands with the position at zero; then move it onto the frame's centre.
    CGRect local{{-anchorPoint_.x * size.width, -anchorPoint_.y * size.height}, size};
    CGRect box = CGRectApplyAffineTransform(local, t);
    position_ = {CGRectGetMidX(frame) - CGRectGetMidX(box), CGRectGetMidY(frame) - CGRectGetMidY(box)};
    if (owningView_) detail::UIViewAccess::layerGeometryChanged(*owningView_, old);
}

CGAffineTransform CALayer::transformToSuperlayer() const {
    CGAffineTransform m =
        CGAffineTransformMakeTranslation(-(bounds_.origin.x + anchorPoint_.x * bounds_.size.width),
                                         -(bounds_.origin.y + anchorPoint_.y * bounds_.size.height));
    m = CGAffineTransformConcat(m, affineTransform());
    return CGAffineTransformConcat(m, CGAffineTransformMakeTranslation(position_.x, position_.y));
}

CGPoint CALayer::convertPointToLayer(CGPoint point, const CALayer* layer) const {
    return CGPointApplyAffineTransform(point, mappingBetween(this, layer));
}
CGPoint CALayer::convertPointFromLayer(CGPoint point, const CALayer* layer) const {
    if (!layer)
        return CGPointApplyAffineTransform(point, CGAffineTransformInvert(mappingBetween(this, nullptr)));
    return CGPointApplyAffineTransform(point, mappingBetween(layer, this));
}
CGRect CALayer::convertRectToLayer(CGRect rect, const CALayer* layer) const {
    return CGRectApplyAffineTransform(rect, mappingBetween(this, layer));
}
CGRect CALayer::convertRectFromLayer(CGRect rect, const CALayer* layer) const {
    if (!layer)
        return CGRectApplyAffineTransform(rect, CGAffineTransformInvert(mappingBetween(this, nullptr)));
    return CGRectApplyAffineTransform(rect, mappingBetween(layer, this));
}

bool CALayer::containsPoint(CGPoint point) const {
    return CGRectContainsPoint(bounds_, point);
}

Ref<CALayer> CALayer::hitTest(CGPoint point) {
    if (hidden_) return nullptr;
    CGPoint local = CGPointApplyAffineTransform(point, CGAffineTransformInvert(transformToSuperlayer()));
    if (!containsPoint(local) && masksToBounds_) return nullptr;
    for (auto it = sublayers_.rbegin(); it != sublayers_.rend(); ++it) {
        if (auto hit = (*it)->hitTest(local)) return hit;
    }
    if (!containsPoint(local)) return nullptr;
    return std::static_pointer_cast<CALayer>(self());
}

// ---- appearance -------------------------------------------------------------------------------

void CALayer::setOpacity(float opacity) {
    opacity_ = std::clamp(opacity, 0.0f, 1.0f);
}

void CALayer::setHidden(bool hidden) {
    hidden_ = hidden;
}

void CALayer::setBackgroundColor(const CGColorRef& color) {
    backgroundColor_ = color;
}

void CALayer::setMask(const Ref<CALayer>& mask) {
    if (mask_) mask_->superlayer_ = nullptr;
    mask_ = mask;
    if (mask_) {
        mask_->removeFromSuperlayer();
        mask_->superlayer_ = this;
    }
}

// ---- hierarchy --------------------------------------------------------------------------------

Ref<CALayer> CALayer::superlayer() const {
    if (!superlayer_) return nullptr;
    return std::static_pointer_cast<CALayer>(superlayer_->weak_from_this().lock());
}

void CALayer::insertSublayer(const Ref<CALayer>& layer, std::size_t index) {
    if (!layer || layer.get() == this || isDescendantOf(layer.get())) return;
    Ref<CALayer> keep = layer;
    if (layer->superlayer_ == this) {
        auto it = std::find(sublayers_.begin(), sublayers_.end(), layer);
        std::size_t old = std::size_t(it - sublayers_.begin());
        sublayers_.erase(it);
        if (index > old) --index;
    } else {
        layer->removeFromSuperlayer();
    }
    index = std::min(index, sublayers_.size());
    sublayers_.insert(sublayers_.begin() + long(index), layer);
    layer->superlayer_ = this;
}

void CALayer::addSublayer(const Ref<CALayer>& layer) {
    insertSublayer(layer, std::numeric_limits<std::size_t>::max());
}

void CALayer::insertSublayerAtIndex(const Ref<CALayer>& layer, std::size_t index) {
    insertSublayer(layer, index);
}

void CALayer::insertSublayerBelow(const Ref<CALayer>& layer, const Ref<CALayer>& sibling) {
    auto it = std::find(sublayers_.begin(), sublayers_.end(), sibling);
    if (!sibling || it == sublayers_.end()) return addSublayer(layer);
    insertSublayer(layer, std::size_t(it - sublayers_.begin()));
}

void CALayer::insertSublayerAbove(const Ref<CALayer>& layer, const Ref<CALayer>& sibling) {
    auto it = std::find(sublayers_.begin(), sublayers_.end(), sibling);
    if (!sibling || it == sublayers_.end()) return addSublayer(layer);
    insertSublayer(layer, std::size_t(it - sublayers_.begin()) + 1);
}

void CALayer::replaceSublayer(const Ref<CALayer>& old, const Ref<CALayer>& replacement) {
    auto it = std::find(sublayers_.begin(), sublayers_.end(), old);
    if (!old || it == sublayers_.end() || !replacement) return;
    std::size_t index = std::size_t(it - sublayers_.begin());
    old->removeFromSuperlayer();
    insertSublayer(replacement, index);
}

void CALayer::removeFromSuperlayer() {
    CALayer* parent = superlayer_;
    if (!parent) return;
    if (parent->mask_.get() == this) {
        parent->mask_.reset();  // may destroy this layer; touch nothing after
        return;
    }
    superlayer_ = nullptr;
    auto it = std::find_if(parent->sublayers_.begin(), parent->sublayers_.end(),
                           [this](const Ref<CALayer>& l) { return l.get() == this; });
    if (it != parent->sublayers_.end()) {
        Ref<CALayer> keep = *it;  // keeps this layer alive until the function returns
        parent->sublayers_.erase(it);
    }
}

bool CALayer::isDescendantOf(const CALayer* ancestor) const {
    for (const CALayer* l = this; l; l = l->superlayer_) {
        if (l == ancestor) return true;
    }
    return false;
}

// ---- animations -------------------------------------------------------------------------------

void CALayer::addAnimation(const Ref<CAAnimation>& animation, const std::optional<std::string>& key) {
    if (!animation) return;
    auto copy = animation->copyAnimation();
    const double now = CACurrentMediaTime();
    if (copy->beginTime() == 0) copy->setBeginTime(now);

    auto entry = std::make_unique<AnimationEntry>();
    entry->serial = nextAnimationSerial();
    if (key) {
        entry->key = *key;
        stopAnimation(*key, false, true);
    } else {
        entry->key = "\x01anonymous-" + std::to_string(++anonymousAnimationSeq_);
        entry->anonymous = true;
    }
    entry->animation = copy;
    if (CATransaction::nestingLevel() > 0) entry->transactionToken = CATransaction::retainForAnimation();

    Weak<CALayer> weak = std::static_pointer_cast<CALayer>(self());
    const std::uint64_t serial = entry->serial;
    auto runLoop = NSRunLoop::mainRunLoop();
    // Start and stop dates on the wall clock that timers use, from the media-time offsets.
    const double wallNow = PlatformClock::now();
    const double startIn = std::max(0.0, copy->beginTime() - now);
    if (copy->delegate()) {
        auto deliverStart = [weak, serial] {
            auto layer = weak.lock();
            if (!layer) return;
            for (auto& e : layer->animations_) {
                if (e->serial == serial && !e->stopped) {
                    auto anim = e->animation;
                    if (auto delegate = anim->delegate()) delegate->animationDidStart(anim);
                    return;
                }
            }
        };
        if (startIn <= 0) {
            // Queued like the stops of removed animations, so that those come first.
            runLoop->performBlock(deliverStart);
        } else {
            entry->startTimer = NSTimer::timerWithTimeInterval(
                startIn, false, [deliverStart](const Ref<NSTimer>&) { deliverStart(); });
            entry->startTimer->setFireDate(NSDate::dateWithTimeIntervalSince1970(wallNow + startIn));
            runLoop->addTimer(entry->startTimer, NSRunLoopCommonModes);
        }
    }
    if (!copy->repeatsForever()) {
        const double stopIn = startIn + copy->activeDuration();
        entry->stopTimer = NSTimer::timerWithTimeInterval(stopIn, false, [weak, serial](const Ref<NSTimer>&) {
            auto layer = weak.lock();
            if (!layer) return;
            for (auto& e : layer->animations_) {
                if (e->serial == serial) {
                    layer->animationStopped(e->key, e->animation, true);
                    return;
                }
            }
        });
        entry->stopTimer->setFireDate(NSDate::dateWithTimeIntervalSince1970(wallNow + stopIn));
        runLoop->addTimer(entry->stopTimer, NSRunLoopCommonModes);
    }
    animations_.push_back(std::move(entry));
}

void CALayer::animationStopped(const std::string& keyRef, const Ref<CAAnimation>& animationRef,
                               bool finished) {
    // The arguments may live in the entry that is about to go.
    const std::string key = keyRef;
    const Ref<CAAnimation> animation = animationRef;
    if (!finished) return stopAnimation(key, false, true);
    auto it =
        std::find_if(animations_.begin(), animations_.end(), [&](const std::unique_ptr<AnimationEntry>& e) {
            return e->key == key && e->animation == animation;
        });
    if (it == animations_.end() || (*it)->stopped) return;
    (*it)->stopped = true;
    if ((*it)->startTimer) (*it)->startTimer->invalidate();
    auto token = std::move((*it)->transactionToken);
    Ref<CALayer> keepAlive = std::static_pointer_cast<CALayer>(self());
    if (animation->isRemovedOnCompletion()) animations_.erase(it);
    if (auto delegate = animation->delegate()) delegate->animationDidStop(animation, true);
    animation->releaseDelegateAfterStop();
    token.reset();
}

void CALayer::stopAnimation(const std::string& key, bool finished, bool deferred) {
    auto it = std::find_if(animations_.begin(), animations_.end(),
                           [&](const std::unique_ptr<AnimationEntry>& e) { return e->key == key; });
    if (it == animations_.end()) return;
    std::unique_ptr<AnimationEntry> entry = std::move(*it);
    animations_.erase(it);
    if (entry->startTimer) entry->startTimer->invalidate();
    if (entry->stopTimer) entry->stopTimer->invalidate();
    if (entry->stopped) return;
    entry->stopped = true;
    auto animation = entry->animation;
    auto token = entry->transactionToken;
    auto deliver = [animation, token, finished]() mutable {
        if (auto delegate = animation->delegate()) delegate->animationDidStop(animation, finished);
        animation->releaseDelegateAfterStop();
        token.reset();
    };
    if (deferred) {
        NSRunLoop::mainRunLoop()->performBlock(std::move(deliver));
    } else {
        deliver();
    }
}

Ref<CAAnimation> CALayer::animationForKey(const std::string& key) const {
    for (auto& e : animations_) {
        if (!e->anonymous && e->key == key) return e->animation;
    }
    return nullptr;
}

std::vector<std::string> CALayer::animationKeys() const {
    std::vector<std::string> keys;
    for (auto& e : animations_) {
        if (!e->anonymous) keys.push_back(e->key);
    }
    return keys;
}

void CALayer::removeAnimationForKey(const std::string& key) {
    stopAnimation(key, false, true);
}

void CALayer::removeAllAnimations() {
    while (!animations_.empty()) stopAnimation(animations_.front()->key, false, true);
}

// ---- values by key path -----------------------------------------------------------------------

void CALayer::setValueForKeyPath(const std::string& keyPath, const Value& value) {
    using namespace NSValue_Geometry;
    auto box = value.objectAs<NSValue>();
    const double number = value.doubleValue();
    if (keyPath == "opacity") {
        setOpacity(float(number));
    } else if (keyPath == "position") {
        setPosition(CGPointValue(box));
    } else if (keyPath == "position.x") {
        setPosition({number, position_.y});
    } else if (keyPath == "position.y") {
        setPosition({position_.x, number});
    } else if (keyPath == "bounds") {
        setBounds(CGRectValue(box));
    } else if (keyPath == "bounds.size") {
        setBounds({bounds_.origin, CGSizeValue(box)});
    } else if (keyPath == "bounds.size.width") {
        setBounds({bounds_.origin, {number, bounds_.size.height}});
    } else if (keyPath == "bounds.size.height") {
        setBounds({bounds_.origin, {bounds_.size.width, number}});
    } else if (keyPath == "bounds.origin") {
        setBounds({CGPointValue(box), bounds_.size});
    } else if (keyPath == "anchorPoint") {
        setAnchorPoint(CGPointValue(box));
    } else if (keyPath == "zPosition") {
        setZPosition(number);
    } else if (keyPath == "cornerRadius") {
        setCornerRadius(number);
    } else if (keyPath == "borderWidth") {
        setBorderWidth(number);
    } else if (keyPath == "hidden") {
        setHidden(value.boolValue());
    } else if (keyPath == "masksToBounds") {
        setMasksToBounds(value.boolValue());
    } else if (keyPath == "backgroundColor") {
        setBackgroundColor(colorFromValue(value));
    } else if (keyPath == "borderColor") {
        setBorderColor(colorFromValue(value));
    } else if (keyPath == "shadowOpacity") {
        setShadowOpacity(float(number));
    } else if (keyPath == "shadowRadius") {
        setShadowRadius(number);
    } else if (keyPath == "contents") {
        setContents(value.objectAs<CGImage>());
    } else if (keyPath == "transform") {
        setTransform(NSValue_CATransform3D::CATransform3DValue(box));
    } else if (keyPath.rfind("transform.", 0) == 0) {
        Decomposed d = decompose(affineTransform());
        const std::string sub = keyPath.substr(10);
        if (sub == "rotation" || sub == "rotation.z") {
            d.rotation = number;
        } else if (sub == "scale") {
            d.sx = d.sy = number;
        } else if (sub == "scale.x") {
            d.sx = number;
        } else if (sub == "scale.y") {
            d.sy = number;
        } else if (sub == "translation.x") {
            d.tx = number;
        } else if (sub == "translation.y") {
            d.ty = number;
        } else {
            otherValues_[keyPath] = value;
            return;
        }
        setAffineTransform(compose(d));
    } else {
        otherValues_[keyPath] = value;
    }
}

Value CALayer::valueForKeyPath(const std::string& keyPath) const {
    using namespace NSValue_Geometry;
    if (keyPath == "opacity") return Value(double(opacity_));
    if (keyPath == "position") return valueWithCGPoint(position_);
    if (keyPath == "position.x") return Value(position_.x);
    if (keyPath == "position.y") return Value(position_.y);
    if (keyPath == "bounds") return valueWithCGRect(bounds_);
    if (keyPath == "bounds.size") return valueWithCGSize(bounds_.size);
    if (keyPath == "bounds.size.width") return Value(bounds_.size.width);
    if (keyPath == "bounds.size.height") return Value(bounds_.size.height);
    if (keyPath == "bounds.origin") return valueWithCGPoint(bounds_.origin);
    if (keyPath == "anchorPoint") return valueWithCGPoint(anchorPoint_);
    if (keyPath == "zPosition") return Value(zPosition_);
    if (keyPath == "cornerRadius") return Value(cornerRadius_);
    if (keyPath == "borderWidth") return Value(borderWidth_);
    if (keyPath == "hidden") return Value(hidden_);
    if (keyPath == "masksToBounds") return Value(masksToBounds_);
    if (keyPath == "backgroundColor") return Value(backgroundColor_);
    if (keyPath == "borderColor") return Value(borderColor_);
    if (keyPath == "shadowOpacity") return Value(double(shadowOpacity_));
    if (keyPath == "shadowRadius") return Value(shadowRadius_);
    if (keyPath == "contents") return Value(contents_);
    if (keyPath == "transform") return NSValue_CATransform3D::valueWithCATransform3D(transform_);
    if (keyPath.rfind("transform.", 0) == 0) {
        Decomposed d = decompose(affineTransform());
        const std::string sub = keyPath.substr(10);
        if (sub == "rotation" || sub == "rotation.z") return Value(d.rotation);
        if (sub == "scale" || sub == "scale.x") return Value(d.sx);
        if (sub == "scale.y") return Value(d.sy);
        if (sub == "translation.x") return Value(d.tx);
        if (sub == "translation.y") return Value(d.ty);
    }
    auto it = otherValues_.find(keyPath);
    return it == otherValues_.end() ? Value() : it->second;
}
