// The sticker view: its set-up values, moving by touch, resizing and turning with the handle,
// deleting, the handles' visibility and the delegate's optional callbacks.

#include <gtest/gtest.h>

#include <cmath>

#include "studio/SKStickerView.h"
#include "tests/support/MainLoop.h"
#include "uikit/UITestDriver.h"
#include "uikit/UIWindow.h"

namespace {

class RecordingStickerDelegate : public NSObject, public SKStickerViewDelegate {
  public:
    void stickerViewDidBeginEditing(const Ref<SKStickerView>&) override { ++began; }
    bool implementsStickerViewDidBeginEditing() const override { return true; }
    void stickerViewDidEndEditing(const Ref<SKStickerView>&) override { ++ended; }
    bool implementsStickerViewDidEndEditing() const override { return true; }
    void stickerViewDidCancelEditing(const Ref<SKStickerView>&) override { ++cancelled; }
    bool implementsStickerViewDidCancelEditing() const override { return true; }
    void stickerViewDidClose(const Ref<SKStickerView>&) override { ++closed; }
    bool implementsStickerViewDidClose() const override { return true; }
    void stickerViewDidCustomButtonTap(const Ref<SKStickerView>&) override { ++custom; }
    bool implementsStickerViewDidCustomButtonTap() const override { return true; }
    int began = 0, ended = 0, cancelled = 0, closed = 0, custom = 0;
};

class SKStickerViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = make<UIWindow>(CGRectMake(0, 0, 375, 667));
        window->makeKeyAndVisible();
        base = make<UIView>(CGRectMake(0, 0, 375, 667));
        window->addSubview(base);
    }
    void TearDown() override {
        UITestDriver::reset();
        window->setHidden(true);
    }

    Ref<SKStickerView> place(CGRect frame) {
        auto sticker = make<SKStickerView>(frame);
        sticker->setContentView(make<UIImageView>(CGRectMake(0, 0, 10, 10)));
        sticker->showEditingHandles();
        base->addSubview(sticker);
        return sticker;
    }

    // The resize handle's centre in the window.
    CGPoint resizeHandleCentre(const Ref<SKStickerView>& sticker) {
        CGRect handle = sticker->resizingControl()->frame();
        return sticker->convertPointToView(CGPointMake(CGRectGetMidX(handle), CGRectGetMidY(handle)), window);
    }

    testsupport::ManualClock clock;
    Ref<UIWindow> window;
    Ref<UIView> base;
};

void expectSize(CGSize actual, CGSize expected) {
    EXPECT_NEAR(actual.width, expected.width, 1e-9);
    EXPECT_NEAR(actual.height, expected.height, 1e-9);
}

}  // namespace

TEST_F(SKStickerViewTest, SetUpValuesFollowTheSize) {
    struct Case {
        CGSize size;
        CGSize minimum;
        CGSize end;
    };
    const Case cases[] = {
        {{100, 100}, {50, 50}, {76, 76}},
        {{80, 40}, {48, 24}, {56, 16}},
        {{180, 35}, {90, 17.5}, {156, 11}},
    };
    for (const Case& c : cases) {
        auto sticker = make<SKStickerView>(CGRectMake(10, 20, c.size.width, c.size.height));
        EXPECT_DOUBLE_EQ(sticker->minWidth(), c.minimum.width) << c.size.width;
        EXPECT_DOUBLE_EQ(sticker->minHeight(), c.minimum.height) << c.size.width;
        expectSize(sticker->endScaleSize(), c.end);
        EXPECT_DOUBLE_EQ(sticker->endDeltaAngle(), 0);
        EXPECT_DOUBLE_EQ(sticker->deltaAngle(), std::atan2(c.size.height / 2, c.size.width / 2));
    }
    auto sticker = make<SKStickerView>(CGRectMake(0, 0, 100, 100));
    EXPECT_TRUE(sticker->preventsPositionOutsideSuperview());
    EXPECT_FALSE(sticker->preventsResizing());
    EXPECT_FALSE(sticker->preventsDeleting());
    EXPECT_TRUE(sticker->preventsCustomButton());
    EXPECT_TRUE(sticker->translucencySticker());
    EXPECT_TRUE(sticker->preventsLayoutWhileResizing());
    EXPECT_TRUE(sticker->isEditingHandlesHidden());
    EXPECT_TRUE(CGRectEqualToRect(sticker->borderView()->frame(), CGRectMake(5, 5, 90, 90)));
    EXPECT_TRUE(CGRectEqualToRect(sticker->resizingControl()->frame(), CGRectMake(64, 64, 36, 36)));
    EXPECT_TRUE(CGRectEqualToRect(sticker->deleteControl()->frame(), CGRectMake(0, 0, 36, 36)));
    EXPECT_TRUE(CGRectEqualToRect(sticker->customControl()->frame(), CGRectMake(64, 0, 36, 36)));
    EXPECT_TRUE(sticker->deleteControl()->image());
    EXPECT_TRUE(sticker->resizingControl()->image());
    EXPECT_FALSE(sticker->customControl()->image());
}

TEST_F(SKStickerViewTest, TheContentSitsInsideTheHandlesAndFollowsTheFrame) {
    auto sticker = make<SKStickerView>(CGRectMake(0, 0, 100, 100));
    auto holder = make<UIView>(CGRectMake(0, 0, 5, 5));
    auto picture = make<UIImageView>(CGRectMake(1, 1, 2, 2));
    holder->addSubview(picture);
    auto old = make<UIView>();
    sticker->setContentView(old);
    sticker->setContentView(holder);
    EXPECT_FALSE(old->superview());
    EXPECT_TRUE(CGRectEqualToRect(holder->frame(), CGRectMake(10, 10, 80, 80)));
    EXPECT_TRUE(CGRectEqualToRect(picture->frame(), CGRectMake(0, 0, 80, 80)));
    EXPECT_EQ(holder->autoresizingMask(), 18u);
    // The border and the handles stay in front, the custom handle last.
    EXPECT_EQ(sticker->subviews().back(), sticker->customControl());
    EXPECT_EQ(sticker->subviews()[sticker->subviews().size() - 4], sticker->borderView());

    sticker->setFrame(CGRectMake(0, 0, 200, 120));
    EXPECT_TRUE(CGRectEqualToRect(holder->frame(), CGRectMake(10, 10, 180, 100)));
    EXPECT_TRUE(CGRectEqualToRect(sticker->borderView()->frame(), CGRectMake(5, 5, 190, 110)));
    EXPECT_TRUE(CGRectEqualToRect(sticker->resizingControl()->frame(), CGRectMake(164, 84, 36, 36)));
    EXPECT_TRUE(CGRectEqualToRect(sticker->customControl()->frame(), CGRectMake(164, 0, 36, 36)));
}

TEST_F(SKStickerViewTest, HandlesShowAsTheFlagsSay) {
    auto sticker = make<SKStickerView>(CGRectMake(0, 0, 100, 100));
    sticker->showEditingHandles();
    EXPECT_FALSE(sticker->isEditingHandlesHidden());
    EXPECT_TRUE(sticker->customControl()->isHidden());
    EXPECT_FALSE(sticker->deleteControl()->isHidden());
    EXPECT_FALSE(sticker->resizingControl()->isHidden());
    sticker->setPreventsCustomButton(false);
    sticker->setPreventsDeleting(true);
    sticker->setPreventsResizing(true);
    sticker->showEditingHandles();
    EXPECT_FALSE(sticker->customControl()->isHidden());
    EXPECT_TRUE(sticker->deleteControl()->isHidden());
    EXPECT_TRUE(sticker->resizingControl()->isHidden());
    sticker->showDelHandle();
    EXPECT_FALSE(sticker->deleteControl()->isHidden());
    sticker->hideCustomHandle();
    EXPECT_TRUE(sticker->customControl()->isHidden());
    sticker->hideEditingHandles();
    EXPECT_TRUE(sticker->isEditingHandlesHidden());
    EXPECT_TRUE(sticker->deleteControl()->isHidden());

    auto image = make<UIImageView>()->image();
    Ref<UIImage> custom = sticker->resizingControl()->image();
    sticker->setButton(3, custom);
    EXPECT_EQ(sticker->customControl()->image(), custom);
    sticker->setButton(1, nullptr);
    EXPECT_FALSE(sticker->deleteControl()->image());
    sticker->setButton(7, nullptr);  // nothing
    EXPECT_EQ(sticker->customControl()->image(), custom);
}

TEST_F(SKStickerViewTest, TranslucencyOnlyForATranslucentSticker) {
    auto sticker = make<SKStickerView>(CGRectMake(0, 0, 100, 100));
    sticker->enableTransluceny(true);
    EXPECT_NEAR(sticker->alpha(), 0.65, 1e-6);
    sticker->enableTransluceny(false);
    EXPECT_DOUBLE_EQ(sticker->alpha(), 1);
    sticker->setTranslucencySticker(false);
    sticker->enableTransluceny(true);
    EXPECT_DOUBLE_EQ(sticker->alpha(), 1);
}

TEST_F(SKStickerViewTest, DraggingMovesTheStickerWhileItIsEdited) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    auto delegate = make<RecordingStickerDelegate>();
    sticker->setStickerViewDelegate(delegate);
    UITestDriver::touchDown(window, CGPointMake(140, 130));
    EXPECT_EQ(delegate->began, 1);
    EXPECT_NEAR(sticker->alpha(), 0.65, 1e-6);
    UITestDriver::touchMove(window, CGPointMake(170, 150));
    UITestDriver::touchUp(window, CGPointMake(170, 150));
    EXPECT_DOUBLE_EQ(sticker->center().x, 180);
    EXPECT_DOUBLE_EQ(sticker->center().y, 170);
    EXPECT_EQ(delegate->ended, 1);
    EXPECT_DOUBLE_EQ(sticker->alpha(), 1);
    // Moving never changes the end values.
    expectSize(sticker->endScaleSize(), CGSizeMake(76, 76));
    EXPECT_DOUBLE_EQ(sticker->endDeltaAngle(), 0);

    sticker->hideEditingHandles();
    UITestDriver::touchDown(window, CGPointMake(180, 170));
    UITestDriver::touchMove(window, CGPointMake(200, 200));
    UITestDriver::touchUp(window, CGPointMake(200, 200));
    EXPECT_DOUBLE_EQ(sticker->center().x, 180);
    EXPECT_EQ(delegate->began, 1);
    EXPECT_EQ(delegate->ended, 2);  // the end is told either way
}

TEST_F(SKStickerViewTest, TheCentreStaysHalfTheStickerAwayFromTheEdges) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    sticker->touchesBegan({}, nullptr);  // no touch: nothing
    auto drag = [&](CGPoint from, CGPoint to) {
        UITestDriver::touchDown(window, from);
        UITestDriver::touchMove(window, to);
        UITestDriver::touchUp(window, to);
    };
    drag(CGPointMake(140, 140), CGPointMake(-260, -260));
    EXPECT_DOUBLE_EQ(sticker->center().x, 50);
    EXPECT_DOUBLE_EQ(sticker->center().y, 50);
    drag(CGPointMake(50, 50), CGPointMake(1000, 1000));
    EXPECT_DOUBLE_EQ(sticker->center().x, 375 - 50);
    EXPECT_DOUBLE_EQ(sticker->center().y, 667 - 50);
    sticker->setPreventsPositionOutsideSuperview(false);
    CGPoint from = sticker->touchStart();
    sticker->translateUsingTouchLocation(CGPointMake(from.x + 100, from.y));
    EXPECT_DOUBLE_EQ(sticker->center().x, 425);
}

TEST_F(SKStickerViewTest, AMoveStartingOnTheResizeHandleDoesNotMoveTheSticker) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    sticker->resizingControl()->setUserInteractionEnabled(false);  // touches reach the sticker itself
    UITestDriver::touchDown(window, CGPointMake(185, 185));
    UITestDriver::touchMove(window, CGPointMake(188, 186));
    UITestDriver::touchUp(window, CGPointMake(188, 186));
    EXPECT_DOUBLE_EQ(sticker->center().x, 150);
    EXPECT_DOUBLE_EQ(sticker->center().y, 150);
}

TEST_F(SKStickerViewTest, DraggingTheResizeHandleGrowsAndTurnsTheSticker) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    CGPoint start = resizeHandleCentre(sticker);  // (182, 182)
    UITestDriver::touchDown(window, start);
    UITestDriver::touchMove(window, CGPointMake(start.x + 12, start.y));  // begins
    UITestDriver::touchMove(window, CGPointMake(start.x + 20, start.y));  // changes
    CGSize size = sticker->bounds().size;
    EXPECT_GT(size.width, 100);
    EXPECT_DOUBLE_EQ(size.width, size.height);  // the aspect ratio stays
    expectSize(sticker->endScaleSize(), CGSizeMake(size.width - 20, size.height - 20));
    float expected = static_cast<float>(sticker->deltaAngle() -
                                        static_cast<float>(std::atan2(start.y - 150, start.x + 20 - 150)));
    EXPECT_FLOAT_EQ(static_cast<float>(sticker->endDeltaAngle()), expected);
    CGAffineTransform t = sticker->transform();
    EXPECT_NEAR(std::atan2(t.b, t.a), -sticker->endDeltaAngle(), 1e-6);
    EXPECT_DOUBLE_EQ(sticker->center().x, 150);  // turning and resizing keep the centre
    UITestDriver::touchUp(window, CGPointMake(start.x + 20, start.y));
    EXPECT_DOUBLE_EQ(sticker->alpha(), 1);
}

TEST_F(SKStickerViewTest, AJumpOfMoreThanFiftyPointsOnlyReanchors) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    CGPoint start = resizeHandleCentre(sticker);
    UITestDriver::touchDown(window, start);
    UITestDriver::touchMove(window, CGPointMake(start.x + 12, start.y));  // begins
    UITestDriver::touchMove(window, CGPointMake(start.x + 80, start.y));  // 68 points at once
    expectSize(sticker->bounds().size, CGSizeMake(100, 100));
    EXPECT_DOUBLE_EQ(sticker->endDeltaAngle(), 0);
    expectSize(sticker->endScaleSize(), CGSizeMake(76, 76));
    EXPECT_NEAR(sticker->prevPoint().x, 82 + 80, 1e-9);
    UITestDriver::touchUp(window, CGPointMake(start.x + 80, start.y));
}

TEST_F(SKStickerViewTest, AVerticalDragTurnsWithoutResizing) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    CGPoint start = resizeHandleCentre(sticker);
    UITestDriver::touchDown(window, start);
    UITestDriver::touchMove(window, CGPointMake(start.x, start.y + 12));  // begins
    UITestDriver::touchMove(window, CGPointMake(start.x, start.y + 30));  // changes
    expectSize(sticker->bounds().size, CGSizeMake(100, 100));
    EXPECT_NE(sticker->endDeltaAngle(), 0);
    EXPECT_LT(sticker->endDeltaAngle(), 0);  // the finger went below the corner's direction
    expectSize(sticker->endScaleSize(), CGSizeMake(80, 80));
    UITestDriver::touchUp(window, CGPointMake(start.x, start.y + 30));
}

TEST_F(SKStickerViewTest, ASizeBelowTheMinimumSnapsToTheMinimumPlusOne) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    // 49 x 49 is below the 50 x 50 minimum; the handles overlap, so take the resize handle's
    // corner that the delete handle does not cover.
    sticker->setFrame(CGRectMake(126, 126, 49, 49));
    CGPoint start = sticker->convertPointToView(CGPointMake(45, 45), window);
    UITestDriver::touchDown(window, start);
    UITestDriver::touchMove(window, CGPointMake(start.x + 12, start.y));
    UITestDriver::touchMove(window, CGPointMake(start.x + 14, start.y));
    expectSize(sticker->bounds().size, CGSizeMake(51, 51));
    EXPECT_TRUE(CGRectEqualToRect(sticker->resizingControl()->frame(), CGRectMake(15, 15, 36, 36)));
    expectSize(sticker->endScaleSize(), CGSizeMake(31, 31));
    UITestDriver::touchUp(window, CGPointMake(start.x + 14, start.y));
}

TEST_F(SKStickerViewTest, TheDeleteHandleRemovesTheStickerAndRunsTheBlock) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    auto delegate = make<RecordingStickerDelegate>();
    sticker->setStickerViewDelegate(delegate);
    Ref<SKStickerView> deleted;
    bool wasOnScreen = true;
    sticker->setDeleteBlock([&](const Ref<SKStickerView>& s) {
        deleted = s;
        wasOnScreen = s->superview() != nullptr;
    });
    UITestDriver::tap(sticker->deleteControl());
    EXPECT_EQ(delegate->closed, 1);
    EXPECT_EQ(deleted, sticker);
    EXPECT_FALSE(wasOnScreen);
    EXPECT_FALSE(sticker->superview());
}

TEST_F(SKStickerViewTest, ADeleteTapWhileDeletingIsPreventedStillTellsTheDelegate) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    auto delegate = make<RecordingStickerDelegate>();
    sticker->setStickerViewDelegate(delegate);
    int blocks = 0;
    sticker->setDeleteBlock([&](const Ref<SKStickerView>&) { ++blocks; });
    sticker->setPreventsDeleting(true);
    sticker->singleTap(nullptr);
    EXPECT_EQ(delegate->closed, 1);
    EXPECT_EQ(blocks, 0);
    EXPECT_EQ(sticker->superview(), base);
}

TEST_F(SKStickerViewTest, TheCustomHandleCallsOnlyWhenAllowed) {
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    auto delegate = make<RecordingStickerDelegate>();
    sticker->setStickerViewDelegate(delegate);
    sticker->customTap(nullptr);
    EXPECT_EQ(delegate->custom, 0);
    sticker->setPreventsCustomButton(false);
    sticker->showEditingHandles();
    UITestDriver::tap(sticker->customControl());
    EXPECT_EQ(delegate->custom, 1);
}

TEST_F(SKStickerViewTest, ADelegateThatImplementsNothingHearsNothing) {
    class Silent : public NSObject, public SKStickerViewDelegate {};
    auto sticker = place(CGRectMake(100, 100, 100, 100));
    auto silent = make<Silent>();
    sticker->setStickerViewDelegate(silent);
    UITestDriver::touchDown(window, CGPointMake(140, 130));
    UITestDriver::touchUp(window, CGPointMake(140, 130));
    sticker->singleTap(nullptr);
    EXPECT_FALSE(sticker->superview());
}

TEST(SKTapGestureRecognizerTest, ItKnowsItsStickerWithoutKeepingItAlive) {
    auto tap = make<SKTapGestureRecognizer>();
    Weak<SKStickerView> weak;
    {
        auto sticker = make<SKStickerView>(CGRectMake(0, 0, 100, 100));
        sticker->addGestureRecognizer(tap);
        tap->setStickerView(sticker);
        EXPECT_EQ(tap->stickerView(), sticker);
        weak = sticker;
    }
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(tap->stickerView());
}
