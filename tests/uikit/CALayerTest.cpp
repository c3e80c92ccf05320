// Layers: values by key path, shape layers, and layer animations stopping on the manual clock.

#include <cmath>
#include <string>
#include <vector>

#include "UIKitTestSupport.h"
#include "graphics/NSValue+Geometry.h"
#include "uikit/CAAnimation.h"
#include "uikit/CAShapeLayer.h"

using testsupport::drainMainRunLoop;
using testsupport::ManualClock;
using uikittest::UIKitTest;

namespace {

constexpr double kPi = 3.14159265358979323846;

class Listener : public CAAnimationDelegate {
  public:
    std::vector<std::string> events;
    std::function<void(const Ref<CAAnimation>&, bool)> onStop;
    void animationDidStart(const Ref<CAAnimation>& a) override { events.push_back(name(a) + ":start"); }
    void animationDidStop(const Ref<CAAnimation>& a, bool finished) override {
        events.push_back(name(a) + (finished ? ":stop" : ":cancel"));
        if (onStop) onStop(a, finished);
    }
    static std::string name(const Ref<CAAnimation>& a) { return a->valueForKey("name").stringValue(); }
};

Ref<CABasicAnimation> basic(const std::string& keyPath, double duration, const std::string& name) {
    auto a = CABasicAnimation::animationWithKeyPath(keyPath);
    a->setDuration(duration);
    a->setValue("name", Value(name));
    return a;
}

class LayerTest : public UIKitTest {
  protected:
    ManualClock clock;
};

}  // namespace

TEST_F(LayerTest, KeyPathsReadAndWriteTheModel) {
    auto layer = CALayer::layer();
    layer->setBounds(CGRectMake(0, 0, 10, 20));
    layer->setValueForKeyPath("position.x", Value(5.0));
    layer->setValueForKeyPath("bounds.size.width", Value(30.0));
    layer->setValueForKeyPath("opacity", Value(0.25));
    layer->setValueForKeyPath("backgroundColor", Value(UIColor::redColor()));
    layer->setValueForKeyPath("cornerRadius", Value(4));
    EXPECT_EQ(layer->position().x, 5);
    EXPECT_EQ(layer->bounds().size.width, 30);
    EXPECT_FLOAT_EQ(layer->opacity(), 0.25f);
    EXPECT_TRUE(CGColorEqualToColor(layer->backgroundColor(), UIColor::redColor()->CGColor()));
    EXPECT_EQ(layer->valueForKeyPath("cornerRadius").doubleValue(), 4);

    layer->setValueForKeyPath("transform.scale", Value(2.0));
    layer->setValueForKeyPath("transform.rotation.z", Value(kPi / 2));
    EXPECT_NEAR(layer->valueForKeyPath("transform.rotation").doubleValue(), kPi / 2, 1e-12);
    EXPECT_NEAR(layer->valueForKeyPath("transform.scale.x").doubleValue(), 2, 1e-12);
    CGAffineTransform t = layer->affineTransform();
    EXPECT_NEAR(t.a, 0, 1e-12);
    EXPECT_NEAR(t.b, 2, 1e-12);
    layer->setValueForKeyPath("transform",
                              NSValue_CATransform3D::valueWithCATransform3D(CATransform3DIdentity));
    EXPECT_TRUE(CATransform3DIsIdentity(layer->transform()));
    // Unknown paths are kept as given; bad boxes give zero values, not failures.
    layer->setValueForKeyPath("custom.thing", Value("x"));
    EXPECT_EQ(layer->valueForKeyPath("custom.thing").stringValue(), "x");
    layer->setValueForKeyPath("position", Value("not a point"));
    EXPECT_EQ(layer->position(), CGPointZero);
}

TEST_F(LayerTest, SublayersAndMasks) {
    auto root = CALayer::layer(), a = CALayer::layer(), b = CALayer::layer();
    root->addSublayer(a);
    root->insertSublayerBelow(b, a);
    EXPECT_EQ(root->sublayers(), (std::vector<Ref<CALayer>>{b, a}));
    root->replaceSublayer(b, CALayer::layer());
    EXPECT_EQ(b->superlayer(), nullptr);
    a->addSublayer(root);  // a cycle: refused
    EXPECT_EQ(root->superlayer(), nullptr);
    auto mask = CALayer::layer();
    a->setMask(mask);
    EXPECT_EQ(mask->superlayer(), a);
    mask->removeFromSuperlayer();
    EXPECT_EQ(a->mask(), nullptr);
}

TEST_F(LayerTest, FiniteAnimationsStopAfterTheirDurationAndAreRemoved) {
    auto layer = CALayer::layer();
    auto listener = std::make_shared<Listener>();
    auto fade = basic("opacity", 0.5, "fade");
    fade->setDelegate(listener);
    layer->addAnimation(fade, std::string("fade"));
    // The layer keeps a copy.
    EXPECT_NE(layer->animationForKey("fade"), fade);
    fade->setDuration(100);
    EXPECT_DOUBLE_EQ(layer->animationForKey("fade")->duration(), 0.5);
    drainMainRunLoop();
    EXPECT_EQ(listener->events, std::vector<std::string>{"fade:start"});
    clock.advance(0.49);
    EXPECT_EQ(listener->events.size(), 1u);
    clock.advance(0.02);
    EXPECT_EQ(listener->events, (std::vector<std::string>{"fade:start", "fade:stop"}));
    EXPECT_TRUE(layer->animationKeys().empty());
}

TEST_F(LayerTest, RepetitionAutoreverseAndDefaultDuration) {
    auto a = basic("opacity", 0.5, "a");
    a->setRepeatCount(3);
    a->setAutoreverses(true);
    EXPECT_DOUBLE_EQ(a->activeDuration(), 3.0);
    auto b = basic("opacity", 0, "b");
    EXPECT_DOUBLE_EQ(b->activeDuration(), 0.25);
    b->setRepeatDuration(2);
    EXPECT_DOUBLE_EQ(b->activeDuration(), 2);
    b->setSpeed(2);
    EXPECT_DOUBLE_EQ(b->activeDuration(), 1);
    auto c = basic("opacity", 1, "c");
    c->setRepeatCount(HUGE_VALF);
    EXPECT_TRUE(c->repeatsForever());
    EXPECT_TRUE(std::isinf(c->activeDuration()));
}

TEST_F(LayerTest, KeptAnimationsStayAfterStoppingAndReportOnce) {
    // The status bar's bounce: not removed on completion, filled forwards; when it stops, its
    // delegate resets the layer and removes every animation.
    auto layer = CALayer::layer();
    auto listener = std::make_shared<Listener>();
    auto bounce = CAKeyframeAnimation::animationWithKeyPath(std::string("transform"));
    bounce->setValues({NSValue_CATransform3D::valueWithCATransform3D(CATransform3DMakeScale(1.2, 1.2, 1)),
                       NSValue_CATransform3D::valueWithCATransform3D(CATransform3DIdentity)});
    bounce->setDuration(0.66);
    bounce->setRemovedOnCompletion(false);
    bounce->setFillMode(kCAFillModeForwards);
    bounce->setValue("name", Value("bounce"));
    bounce->setDelegate(listener);
    listener->onStop = [layer](const Ref<CAAnimation>&, bool) {
        layer->setAffineTransform(CGAffineTransformIdentity);
        layer->removeAllAnimations();
    };
    layer->addAnimation(bounce, std::string("SNBounceAnimation"));
    clock.advance(0.7);
    drainMainRunLoop();
    EXPECT_EQ(listener->events, (std::vector<std::string>{"bounce:start", "bounce:stop"}));
    EXPECT_TRUE(layer->animationKeys().empty());
}

TEST_F(LayerTest, InfiniteAnimationsRunUntilRemoved) {
    // The spinner: a full turn a second, for ever, kept on completion.
    auto layer = CALayer::layer();
    auto listener = std::make_shared<Listener>();
    auto spin = basic("transform.rotation", 1, "spin");
    spin->setToValue(Value(float(2 * kPi)));
    spin->setTimingFunction(CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear));
    spin->setRepeatCount(HUGE_VALF);
    spin->setRemovedOnCompletion(false);
    spin->setFillMode(kCAFillModeForwards);
    spin->setDelegate(listener);
    auto group = CAAnimationGroup::animation();
    group->setAnimations({basic("strokeStart", 0, "s"), basic("strokeEnd", 0, "e")});
    group->setDuration(1);
    group->setRepeatCount(HUGE_VALF);
    layer->addAnimation(spin, std::string("rotate"));
    layer->addAnimation(group, std::string("progress"));
    clock.advance(60);
    EXPECT_EQ(layer->animationKeys(), (std::vector<std::string>{"rotate", "progress"}));
    auto copy = asKind<CAAnimationGroup>(layer->animationForKey("progress"));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->animations().size(), 2u);
    layer->removeAnimationForKey("rotate");
    layer->removeAnimationForKey("rotate");  // twice: nothing more
    EXPECT_EQ(listener->events, std::vector<std::string>{"spin:start"});
    drainMainRunLoop();
    EXPECT_EQ(listener->events, (std::vector<std::string>{"spin:start", "spin:cancel"}));
}

TEST_F(LayerTest, SameKeyReplacesAndAnonymousAnimationsAreUnlisted) {
    auto layer = CALayer::layer();
    auto listener = std::make_shared<Listener>();
    auto first = basic("opacity", 1, "first");
    first->setDelegate(listener);
    layer->addAnimation(first, std::string("k"));
    auto second = basic("opacity", 1, "second");
    second->setDelegate(listener);
    layer->addAnimation(second, std::string("k"));
    layer->addAnimation(basic("position", 1, "anon"), std::nullopt);
    EXPECT_EQ(layer->animationKeys(), std::vector<std::string>{"k"});
    EXPECT_EQ(layer->animationCount(), 2u);
    drainMainRunLoop();
    EXPECT_EQ(listener->events, (std::vector<std::string>{"first:cancel", "second:start"}));
    clock.advance(1.01);
    EXPECT_EQ(layer->animationCount(), 0u);
    layer->addAnimation(nullptr, std::string("x"));
    EXPECT_EQ(layer->animationCount(), 0u);
}

TEST_F(LayerTest, TransactionCompletionWaitsForItsAnimations) {
    auto layer = CALayer::layer();
    int completions = 0;
    CATransaction::begin();
    CATransaction::setDisableActions(true);
    EXPECT_TRUE(CATransaction::disableActions());
    EXPECT_TRUE(CATransaction::valueForKey(kCATransactionDisableActions).boolValue());
    CATransaction::setCompletionBlock([&] { ++completions; });
    CATransaction::begin();
    layer->addAnimation(basic("opacity", 0.5, "inner"), std::string("a"));
    CATransaction::commit();
    layer->addAnimation(basic("position", 1.0, "outer"), std::string("b"));
    CATransaction::commit();
    EXPECT_FALSE(CATransaction::disableActions());
    EXPECT_EQ(CATransaction::nestingLevel(), 0);
    clock.advance(0.6);
    EXPECT_EQ(completions, 0);
    clock.advance(0.5);
    EXPECT_EQ(completions, 1);

    // Without animations the block runs on the next turn.
    CATransaction::begin();
    CATransaction::setCompletionBlock([&] { ++completions; });
    CATransaction::commit();
    EXPECT_EQ(completions, 1);
    drainMainRunLoop();
    EXPECT_EQ(completions, 2);
    CATransaction::commit();  // unbalanced: ignored
}

TEST_F(LayerTest, TimingFunctionsHaveTheirShapes) {
    auto linear = CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear);
    auto easeIn = CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionEaseIn);
    auto easeOut = CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionEaseOut);
    EXPECT_NEAR(linear->valueAt(0.3), 0.3, 1e-9);
    EXPECT_LT(easeIn->valueAt(0.5), 0.5);
    EXPECT_GT(easeOut->valueAt(0.5), 0.5);
    EXPECT_EQ(easeIn->valueAt(-1), 0);
    EXPECT_EQ(easeIn->valueAt(2), 1);
    EXPECT_TRUE(linear->isEqual(*CAMediaTimingFunction::functionWithName(kCAMediaTimingFunctionLinear)));
}

TEST_F(LayerTest, ShapeLayerTrimsItsStroke) {
    auto path = CGPathCreateMutable();
    CGPathMoveToPoint(path, nullptr, 0, 0);
    CGPathAddLineToPoint(path, nullptr, 100, 0);
    CGPathAddLineToPoint(path, nullptr, 100, 100);
    auto pieces = detail::trimPath(*path, 0.25, 0.75);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_POINT(pieces[0].front(), 50, 0);
    EXPECT_POINT(pieces[0].back(), 100, 50);
    EXPECT_TRUE(detail::trimPath(*path, 0.6, 0.6).empty());
    EXPECT_TRUE(detail::trimPath(*CGPathCreateMutable(), 0, 1).empty());

    // A closed square counts its closing side.
    auto square = CGPathCreateWithRect(CGRectMake(0, 0, 10, 10), nullptr);
    auto tail = detail::trimPath(*square, 0.75, 1);
    ASSERT_EQ(tail.size(), 1u);
    EXPECT_POINT(tail[0].front(), 0, 10);
    EXPECT_POINT(tail[0].back(), 0, 0);

    auto shape = CAShapeLayer::layer();
    shape->setPath(path);
    CGPathAddLineToPoint(path, nullptr, 0, 100);  // the layer kept a copy
    EXPECT_EQ(shape->path()->elements().size(), 3u);
    shape->setValueForKeyPath("strokeEnd", Value(1.5));
    EXPECT_EQ(shape->strokeEnd(), 1);
    shape->setValueForKeyPath("strokeStart", Value(0.015));
    EXPECT_DOUBLE_EQ(shape->valueForKeyPath("strokeStart").doubleValue(), 0.015);
    shape->setValueForKeyPath("opacity", Value(0.5));  // falls through to CALayer
    EXPECT_FLOAT_EQ(shape->opacity(), 0.5f);
}
