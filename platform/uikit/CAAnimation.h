#pragma once
// Layer animations as recorded state: what was asked for (key path, values, timing, repetition),
// kept on the layer by key, and stopped on the platform clock (CALayer.h says how). Nothing is
// interpolated; rendering always shows the model values.
//
// The delegate is held strongly, as on the platform, but only until the animation has stopped and
// told it so; after that the animation lets go of it, which breaks the cycle that a view being its
// own layer animation's delegate would otherwise make. An animation repeated without end never
// stops by itself and keeps its delegate until it is removed.
//
// CATransaction groups changes: its completion block runs once every animation added to a layer
// during the outermost transaction has stopped (on the next turn of the main loop when none
// was added). Actions are never implicit here, so disableActions is recorded only.
//
// Everything here belongs to the main thread.

#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/NSObject.h"
#include "foundation/NSValue.h"
#include "foundation/Value.h"
#include "graphics/CGGeometry.h"
#include "graphics/CGPath.h"

class CAAnimation;

inline constexpr char kCAMediaTimingFunctionLinear[] = "linear";
inline constexpr char kCAMediaTimingFunctionEaseIn[] = "easeIn";
inline constexpr char kCAMediaTimingFunctionEaseOut[] = "easeOut";
inline constexpr char kCAMediaTimingFunctionEaseInEaseOut[] = "easeInEaseOut";
inline constexpr char kCAMediaTimingFunctionDefault[] = "default";

inline constexpr char kCAFillModeForwards[] = "forwards";
inline constexpr char kCAFillModeBackwards[] = "backwards";
inline constexpr char kCAFillModeBoth[] = "both";
inline constexpr char kCAFillModeRemoved[] = "removed";

inline constexpr char kCAAnimationLinear[] = "linear";
inline constexpr char kCAAnimationDiscrete[] = "discrete";
inline constexpr char kCAAnimationPaced[] = "paced";
inline constexpr char kCAAnimationCubic[] = "cubic";
inline constexpr char kCAAnimationCubicPaced[] = "cubicPaced";
inline constexpr char kCAAnimationRotateAuto[] = "auto";
inline constexpr char kCAAnimationRotateAutoReverse[] = "autoReverse";

inline constexpr char kCATransitionFade[] = "fade";
inline constexpr char kCATransitionMoveIn[] = "moveIn";
inline constexpr char kCATransitionPush[] = "push";
inline constexpr char kCATransitionReveal[] = "reveal";
inline constexpr char kCATransitionFromRight[] = "fromRight";
inline constexpr char kCATransitionFromLeft[] = "fromLeft";
inline constexpr char kCATransitionFromTop[] = "fromTop";
inline constexpr char kCATransitionFromBottom[] = "fromBottom";

inline constexpr char kCATransactionAnimationDuration[] = "animationDuration";
inline constexpr char kCATransactionDisableActions[] = "disableActions";
inline constexpr char kCATransactionAnimationTimingFunction[] = "animationTimingFunction";
inline constexpr char kCATransactionCompletionBlock[] = "completionBlock";

// The repeat count that means "for ever" (HUGE_VALF).
inline constexpr float kCARepeatForever = HUGE_VALF;

// A named cubic timing curve (or one made from control points).
class CAMediaTimingFunction : public NSObject {
  public:
    CAMediaTimingFunction(std::string name, CGPoint c1, CGPoint c2)
        : name_(std::move(name)), c1_(c1), c2_(c2) {}
    std::string className() const override { return "CAMediaTimingFunction"; }
    // The five named curves; an unknown name gives the default curve under that name.
    static Ref<CAMediaTimingFunction> functionWithName(const std::string& name);
    static Ref<CAMediaTimingFunction> functionWithControlPoints(float c1x, float c1y, float c2x, float c2y);
    // The name it was made with; empty for one made from control points.
    const std::string& name() const { return name_; }
    CGPoint controlPoint1() const { return c1_; }
    CGPoint controlPoint2() const { return c2_; }
    // The curve's value at a time fraction (0...1), for tests that check a curve's shape.
    double valueAt(double t) const;
    bool isEqual(const NSObject& other) const override;

  private:
    std::string name_;
    CGPoint c1_, c2_;
};

// The delegate protocol; both methods are optional.
class CAAnimationDelegate {
  public:
    virtual ~CAAnimationDelegate() = default;
    virtual void animationDidStart(const Ref<CAAnimation>& animation) {}
    virtual void animationDidStop(const Ref<CAAnimation>& animation, bool finished) {}
};

class CAAnimation : public NSObject {
  public:
    CAAnimation() = default;
    std::string className() const override { return "CAAnimation"; }
    static Ref<CAAnimation> animation() { return make<CAAnimation>(); }

    // 0 means the default of 0.25 s (or, inside a group, the group's duration).
    double duration() const { return duration_; }
    void setDuration(double d) { duration_ = d; }
    // On the CACurrentMediaTime() time base; 0 starts when added.
    double beginTime() const { return beginTime_; }
    void setBeginTime(double t) { beginTime_ = t; }
    double timeOffset() const { return timeOffset_; }
    void setTimeOffset(double t) { timeOffset_ = t; }
    float speed() const { return speed_; }
    void setSpeed(float s) { speed_ = s; }
    float repeatCount() const { return repeatCount_; }
    void setRepeatCount(float count) { repeatCount_ = count; }
    double repeatDuration() const { return repeatDuration_; }
    void setRepeatDuration(double d) { repeatDuration_ = d; }
    bool autoreverses() const { return autoreverses_; }
    void setAutoreverses(bool on) { autoreverses_ = on; }
    const std::string& fillMode() const { return fillMode_; }
    void setFillMode(std::string mode) { fillMode_ = std::move(mode); }
    bool isRemovedOnCompletion() const { return removedOnCompletion_; }
    void setRemovedOnCompletion(bool on) { removedOnCompletion_ = on; }
    const Ref<CAMediaTimingFunction>& timingFunction() const { return timingFunction_; }
    void setTimingFunction(const Ref<CAMediaTimingFunction>& f) { timingFunction_ = f; }
    const Ref<CAAnimationDelegate>& delegate() const { return delegate_; }
    void setDelegate(const Ref<CAAnimationDelegate>& delegate) { delegate_ = delegate; }

    // The time from start to stop in seconds: the duration (0.25 when 0) times the repeat count
    // (at least one pass), doubled when autoreversing, or the repeat duration when set, divided by
    // the speed; infinity for an animation that repeats for ever (or has speed 0).
    double activeDuration() const;
    bool repeatsForever() const;

    // Arbitrary values attached by key (the platform's key-value coding of animations).
    void setValue(const std::string& key, const Value& value) { values_[key] = value; }
    Value valueForKey(const std::string& key) const override;

    // A new animation of the same class with the same settings (the layer adds copies).
    virtual Ref<CAAnimation> copyAnimation() const;
    Ref<NSObject> copyObject() const override { return copyAnimation(); }

    // For the layer: lets go of the delegate once it has been told of the stop.
    void releaseDelegateAfterStop() { delegate_.reset(); }

  protected:
    void copySettingsTo(CAAnimation& other) const;

  private:
    double duration_ = 0;
    double beginTime_ = 0;
    double timeOffset_ = 0;
    float speed_ = 1;
    float repeatCount_ = 0;
    double repeatDuration_ = 0;
    bool autoreverses_ = false;
    std::string fillMode_ = kCAFillModeRemoved;
    bool removedOnCompletion_ = true;
    Ref<CAMediaTimingFunction> timingFunction_;
    Ref<CAAnimationDelegate> delegate_;
    std::map<std::string, Value> values_;
};

class CAPropertyAnimation : public CAAnimation {
  public:
    CAPropertyAnimation() = default;
    explicit CAPropertyAnimation(std::optional<std::string> keyPath) : keyPath_(std::move(keyPath)) {}
    std::string className() const override { return "CAPropertyAnimation"; }
    const std::optional<std::string>& keyPath() const { return keyPath_; }
    void setKeyPath(std::optional<std::string> keyPath) { keyPath_ = std::move(keyPath); }
    bool isAdditive() const { return additive_; }
    void setAdditive(bool on) { additive_ = on; }
    bool isCumulative() const { return cumulative_; }
    void setCumulative(bool on) { cumulative_ = on; }
    Ref<CAAnimation> copyAnimation() const override;

  protected:
    void copySettingsTo(CAPropertyAnimation& other) const;

  private:
    std::optional<std::string> keyPath_;
    bool additive_ = false;
    bool cumulative_ = false;
};

class CABasicAnimation : public CAPropertyAnimation {
  public:
    using CAPropertyAnimation::CAPropertyAnimation;
    std::string className() const override { return "CABasicAnimation"; }
    static Ref<CABasicAnimation> animation() { return make<CABasicAnimation>(); }
    static Ref<CABasicAnimation> animationWithKeyPath(const std::optional<std::string>& keyPath) {
        return make<CABasicAnimation>(keyPath);
    }
    // Values as the layer answers them for the key path: numbers, NSValue boxes, colours, images.
    const Value& fromValue() const { return fromValue_; }
    void setFromValue(const Value& v) { fromValue_ = v; }
    const Value& toValue() const { return toValue_; }
    void setToValue(const Value& v) { toValue_ = v; }
    const Value& byValue() const { return byValue_; }
    void setByValue(const Value& v) { byValue_ = v; }
    // Spring settings of the view animations' spring form, recorded.
    std::optional<CGFloat> springDamping() const { return springDamping_; }
    std::optional<CGFloat> springVelocity() const { return springVelocity_; }
    void setSpring(CGFloat damping, CGFloat velocity) {
        springDamping_ = damping;
        springVelocity_ = velocity;
    }
    Ref<CAAnimation> copyAnimation() const override;

  private:
    Value fromValue_, toValue_, byValue_;
    std::optional<CGFloat> springDamping_, springVelocity_;
};

class CAKeyframeAnimation : public CAPropertyAnimation {
  public:
    using CAPropertyAnimation::CAPropertyAnimation;
    std::string className() const override { return "CAKeyframeAnimation"; }
    static Ref<CAKeyframeAnimation> animation() { return make<CAKeyframeAnimation>(); }
    static Ref<CAKeyframeAnimation> animationWithKeyPath(const std::optional<std::string>& keyPath) {
        return make<CAKeyframeAnimation>(keyPath);
    }
    const std::vector<Value>& values() const { return values_; }
    void setValues(std::vector<Value> values) { values_ = std::move(values); }
    // Fractions of the duration, one per value.
    const std::vector<double>& keyTimes() const { return keyTimes_; }
    void setKeyTimes(std::vector<double> times) { keyTimes_ = std::move(times); }
    const std::vector<Ref<CAMediaTimingFunction>>& timingFunctions() const { return timingFunctions_; }
    void setTimingFunctions(std::vector<Ref<CAMediaTimingFunction>> f) { timingFunctions_ = std::move(f); }
    const std::string& calculationMode() const { return calculationMode_; }
    void setCalculationMode(std::string mode) { calculationMode_ = std::move(mode); }
    const CGPathRef& path() const { return path_; }
    void setPath(const CGPathRef& path) { path_ = path; }
    const std::optional<std::string>& rotationMode() const { return rotationMode_; }
    void setRotationMode(std::optional<std::string> mode) { rotationMode_ = std::move(mode); }
    Ref<CAAnimation> copyAnimation() const override;

  private:
    std::vector<Value> values_;
    std::vector<double> keyTimes_;
    std::vector<Ref<CAMediaTimingFunction>> timingFunctions_;
    std::string calculationMode_ = kCAAnimationLinear;
    CGPathRef path_;
    std::optional<std::string> rotationMode_;
};

class CAAnimationGroup : public CAAnimation {
  public:
    std::string className() const override { return "CAAnimationGroup"; }
    static Ref<CAAnimationGroup> animation() { return make<CAAnimationGroup>(); }
    // The members run on the group's timeline; only the group stops and reports.
    const std::vector<Ref<CAAnimation>>& animations() const { return animations_; }
    void setAnimations(std::vector<Ref<CAAnimation>> animations) { animations_ = std::move(animations); }
    Ref<CAAnimation> copyAnimation() const override;

  private:
    std::vector<Ref<CAAnimation>> animations_;
};

// Recorded only: type ("fade", "push", or a named effect such as "oglFlip") and subtype.
class CATransition : public CAAnimation {
  public:
    std::string className() const override { return "CATransition"; }
    static Ref<CATransition> animation() { return make<CATransition>(); }
    const std::string& type() const { return type_; }
    void setType(std::string type) { type_ = std::move(type); }
    const std::optional<std::string>& subtype() const { return subtype_; }
    void setSubtype(std::optional<std::string> subtype) { subtype_ = std::move(subtype); }
    float startProgress() const { return startProgress_; }
    void setStartProgress(float p) { startProgress_ = p; }
    float endProgress() const { return endProgress_; }
    void setEndProgress(float p) { endProgress_ = p; }
    Ref<CAAnimation> copyAnimation() const override;

  private:
    std::string type_ = kCATransitionFade;
    std::optional<std::string> subtype_;
    float startProgress_ = 0, endProgress_ = 1;
};

class CATransaction {
  public:
    static void begin();
    // Closing the outermost transaction arms its completion block.
    static void commit();
    static void flush() {}
    static bool disableActions();
    static void setDisableActions(bool disable);
    // 0.25 s unless set in an open transaction.
    static double animationDuration();
    static void setAnimationDuration(double duration);
    static Ref<CAMediaTimingFunction> animationTimingFunction();
    static void setAnimationTimingFunction(const Ref<CAMediaTimingFunction>& function);
    static void setCompletionBlock(std::function<void()> block);
    // kCATransactionDisableActions, kCATransactionAnimationDuration (numbers).
    static void setValue(const Value& value, const std::string& key);
    static Value valueForKey(const std::string& key);
    // How deep the open transactions are nested (0: none).
    static int nestingLevel();

    // ---- internal (CALayer) -------------------------------------------------------------------
    // A token that the layer keeps with an animation added inside an open transaction; its
    // release (when the animation stops) counts towards the transaction's completion.
    static std::shared_ptr<void> retainForAnimation();
};

// NSValue(CATransform3D): boxes for 3-D transforms, as keyframe values and "transform" values.
inline constexpr char kNSValueEncodingCATransform3D[] = "{CATransform3D=dddddddddddddddd}";
namespace NSValue_CATransform3D {
Ref<NSValue> valueWithCATransform3D(const CATransform3D& transform);
// The identity for a null box or one of another type.
CATransform3D CATransform3DValue(const Ref<NSValue>& value);
}  // namespace NSValue_CATransform3D
