#include "uikit/CAAnimation.h"

#include <limits>
#include <vector>

#include "foundation/NSRunLoop.h"

// ---- timing functions -------------------------------------------------------------------------

Ref<CAMediaTimingFunction> CAMediaTimingFunction::functionWithName(const std::string& name) {
    if (name == kCAMediaTimingFunctionLinear)
        return make<CAMediaTimingFunction>(name, CGPoint{0, 0}, CGPoint{1, 1});
    if (name == kCAMediaTimingFunctionEaseIn)
        return make<CAMediaTimingFunction>(name, CGPoint{0.42, 0}, CGPoint{1, 1});
    if (name == kCAMediaTimingFunctionEaseOut)
        return make<CAMediaTimingFunction>(name, CGPoint{0, 0}, CGPoint{0.58, 1});
    if (name == kCAMediaTimingFunctionEaseInEaseOut) {
        return make<CAMediaTimingFunction>(name, CGPoint{0.42, 0}, CGPoint{0.58, 1});
    }
    return make<CAMediaTimingFunction>(name, CGPoint{0.25, 0.1}, CGPoint{0.25, 1});
}

Ref<CAMediaTimingFunction> CAMediaTimingFunction::functionWithControlPoints(float c1x, float c1y, float c2x,
                                                                            float c2y) {
    return make<CAMediaTimingFunction>("", CGPoint{c1x, c1y}, CGPoint{c2x, c2y});
}

double CAMediaTimingFunction::valueAt(double t) const {
    if (t <= 0) return 0;
    if (t >= 1) return 1;
    // Solve x(s) = t on the cubic from (0,0) to (1,1) by bisection, then answer y(s).
    auto bezier = [](double s, double p1, double p2) {
        double u = 1 - s;
        return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
    };
    double lo = 0, hi = 1, s = t;
    for (int i = 0; i < 60; ++i) {
        s = (lo + hi) / 2;
        if (bezier(s, c1_.x, c2_.x) < t) {
            lo = s;
        } else {
            hi = s;
        }
    }
    return bezier(s, c1_.y, c2_.y);
}

bool CAMediaTimingFunction::isEqual(const NSObject& other) const {
    auto* o = dynamic_cast<const CAMediaTimingFunction*>(&other);
    return o && o->name_ == name_ && o->c1_ == c1_ && o->c2_ == c2_;
}

// ---- animations -------------------------------------------------------------------------------

bool CAAnimation::repeatsForever() const {
    if (speed_ == 0) return true;
    if (repeatDuration_ > 0) return std::isinf(repeatDuration_);
    return std::isinf(repeatCount_) || repeatCount_ >= std::numeric_limits<float>::max();
}

double CAAnimation::activeDuration() const {
    if (repeatsForever()) return std::numeric_limits<double>::infinity();
    const double base = duration_ > 0 ? duration_ : 0.25;
    double total;
    if (repeatDuration_ > 0) {
        total = repeatDuration_;
    } else {
        total = base * (repeatCount_ > 0 ? double(repeatCount_) : 1.0) * (autoreverses_ ? 2 : 1);
    }
    return total / std::fabs(double(speed_));
}

Value CAAnimation::valueForKey(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? Value() : it->second;
}

void CAAnimation::copySettingsTo(CAAnimation& other) const {
    other.duration_ = duration_;
    other.beginTime_ = beginTime_;
    other.timeOffset_ = timeOffset_;
    other.speed_ = speed_;
    other.repeatCount_ = repeatCount_;
    other.repeatDuration_ = repeatDuration_;
    other.autoreverses_ = autoreverses_;
    other.fillMode_ = fillMode_;
    other.removedOnCompletion_ = removedOnCompletion_;
    other.timingFunction_ = timingFunction_;
    other.delegate_ = delegate_;
    other.values_ = values_;
}

Ref<CAAnimation> CAAnimation::copyAnimation() const {
    auto copy = make<CAAnimation>();
    copySettingsTo(*copy);
    return copy;
}

void CAPropertyAnimation::copySettingsTo(CAPropertyAnimation& other) const {
    CAAnimation::copySettingsTo(other);
    other.keyPath_ = keyPath_;
    other.additive_ = additive_;
    other.cumulative_ = cumulative_;
}

Ref<CAAnimation> CAPropertyAnimation::copyAnimation() const {
    auto copy = make<CAPropertyAnimation>();
    copySettingsTo(*copy);
    return copy;
}

Ref<CAAnimation> CABasicAnimation::copyAnimation() const {
    auto copy = make<CABasicAnimation>();
    copySettingsTo(*copy);
    copy->fromValue_ = fromValue_;
    copy->toValue_ = toValue_;
    copy->byValue_ = byValue_;
    copy->springDamping_ = springDamping_;
    copy->springVelocity_ = springVelocity_;
    return copy;
}

Ref<CAAnimation> CAKeyframeAnimation::copyAnimation() const {
    auto copy = make<CAKeyframeAnimation>();
    copySettingsTo(*copy);
    copy->values_ = values_;
    copy->keyTimes_ = keyTimes_;
    copy->timingFunctions_ = timingFunctions_;
    copy->calculationMode_ = calculationMode_;
    copy->path_ = path_;
    copy->rotationMode_ = rotationMode_;
    return copy;
}

Ref<CAAnimation> CAAnimationGroup::copyAnimation() const {
    auto copy = make<CAAnimationGroup>();
    copySettingsTo(*copy);
    for (auto& member : animations_) {
        if (member) copy->animations_.push_back(member->copyAnimation());
    }
    return copy;
}

Ref<CAAnimation> CATransition::copyAnimation() const {
    auto copy = make<CATransition>();
    copySettingsTo(*copy);
    copy->type_ = type_;
    copy->subtype_ = subtype_;
    copy->startProgress_ = startProgress_;
    copy->endProgress_ = endProgress_;
    return copy;
}

// ---- transactions -----------------------------------------------------------------------------

namespace {

// The completion bookkeeping of one outermost transaction: the block runs once it is committed
// and every animation added during it has stopped.
struct TransactionGroup {
    std::function<void()> completion;
    int pending = 0;
    bool committed = false;
    bool fired = false;

    static void maybeFire(const std::shared_ptr<TransactionGroup>& group) {
        if (!group->committed || group->pending > 0 || group->fired) return;
        group->fired = true;
        if (!group->completion) return;
        auto block = std::move(group->completion);
        // Always on a later turn: a stop can be announced inside destructors.
        NSRunLoop::mainRunLoop()->performBlock(std::move(block));
    }
};

struct TransactionLevel {
    std::optional<bool> disableActions;
    std::optional<double> duration;
    Ref<CAMediaTimingFunction> timing;
};

struct TransactionState {
    std::vector<TransactionLevel> levels;
    std::shared_ptr<TransactionGroup> group;
};

TransactionState& state() {
    static TransactionState s;
    return s;
}

}  // namespace

void CATransaction::begin() {
    auto& s = state();
    if (s.levels.empty()) s.group = std::make_shared<TransactionGroup>();
    s.levels.emplace_back();
}

void CATransaction::commit() {
    auto& s = state();
    if (s.levels.empty()) return;
    s.levels.pop_back();
    if (s.levels.empty() && s.group) {
        auto group = std::move(s.group);
        group->committed = true;
        TransactionGroup::maybeFire(group);
    }
}

int CATransaction::nestingLevel() {
    return int(state().levels.size());
}

bool CATransaction::disableActions() {
    auto& s = state();
    for (auto it = s.levels.rbegin(); it != s.levels.rend(); ++it) {
        if (it->disableActions) return *it->disableActions;
    }
    return false;
}

void CATransaction::setDisableActions(bool disable) {
    auto& s = state();
    if (!s.levels.empty()) s.levels.back().disableActions = disable;
}

double CATransaction::animationDuration() {
    auto& s = state();
    for (auto it = s.levels.rbegin(); it != s.levels.rend(); ++it) {
        if (it->duration) return *it->duration;
    }
    return 0.25;
}

void CATransaction::setAnimationDuration(double duration) {
    auto& s = state();
    if (!s.levels.empty()) s.levels.back().duration = duration;
}

Ref<CAMediaTimingFunction> CATransaction::animationTimingFunction() {
    auto& s = state();
    for (auto it = s.levels.rbegin(); it != s.levels.rend(); ++it) {
        if (it->timing) return it->timing;
    }
    return nullptr;
}

void CATransaction::setAnimationTimingFunction(const Ref<CAMediaTimingFunction>& function) {
    auto& s = state();
    if (!s.levels.empty()) s.levels.back().timing = function;
}

void CATransaction::setCompletionBlock(std::function<void()> block) {
    auto& s = state();
    if (s.group) s.group->completion = std::move(block);
}

void CATransaction::setValue(const Value& value, const std::string& key) {
    if (key == kCATransactionDisableActions) {
        setDisableActions(value.boolValue());
    } else if (key == kCATransactionAnimationDuration) {
        setAnimationDuration(value.doubleValue());
    } else if (key == kCATransactionAnimationTimingFunction) {
        setAnimationTimingFunction(value.objectAs<CAMediaTimingFunction>());
    }
}

Value CATransaction::valueForKey(const std::string& key) {
    if (key == kCATransactionDisableActions) return Value(disableActions());
    if (key == kCATransactionAnimationDuration) return Value(animationDuration());
    if (key == kCATransactionAnimationTimingFunction) return Value(animationTimingFunction());
    return Value();
}

std::shared_ptr<void> CATransaction::retainForAnimation() {
    auto& s = state();
    if (!s.group) return nullptr;
    auto group = s.group;
    ++group->pending;
    return std::shared_ptr<void>(nullptr, [group](void*) {
        --group->pending;
        TransactionGroup::maybeFire(group);
    });
}

// ---- boxes ------------------------------------------------------------------------------------

Ref<NSValue> NSValue_CATransform3D::valueWithCATransform3D(const CATransform3D& transform) {
    return NSValue::valueWithValue(transform, kNSValueEncodingCATransform3D);
}

CATransform3D NSValue_CATransform3D::CATransform3DValue(const Ref<NSValue>& value) {
    if (!value) return CATransform3DIdentity;
    return value->valueAs<CATransform3D>(kNSValueEncodingCATransform3D).value_or(CATransform3DIdentity);
}
