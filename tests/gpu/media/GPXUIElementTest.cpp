#include <gtest/gtest.h>

#include "gpu/core/GPXFilter.h"
#include "gpu/media/GPXUIElement.h"
#include "tests/gpu/core/GPUTestSupport.h"
#include "tests/support/MainLoop.h"

using namespace gputest;

namespace {

TEST(GPXUIElementTest, FramesHaveTheLayersPixelSize) {
    auto layer = make<CALayer>();
    layer->setBounds(CGRectMake(0, 0, 100, 50));
    layer->setContentsScale(2);
    auto element = make<GPXUIElement>(layer);
    EXPECT_EQ(element->layerSizeInPixels(), CGSizeMake(200, 100));
    auto target = make<RecordingInput>();
    target->lockInputs_ = true;
    target->unlockOnFrame_ = true;
    element->addTarget(target);
    target->clear();
    element->update();
    auto events = target->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].call, "size");
    EXPECT_EQ(events[0].size, CGSizeMake(200, 100));
    EXPECT_EQ(events[1].call, "framebuffer");
    EXPECT_EQ(events[1].framebuffer->size(), CGSizeMake(200, 100));
    EXPECT_EQ(events[2].call, "newFrame");
    EXPECT_TRUE(CMTIME_IS_INDEFINITE(events[2].time));
}

TEST(GPXUIElementTest, ClockStartsAtZeroAndAdvancesWithTime) {
    testsupport::ManualClock clock;
    auto view = make<UIView>(CGRectMake(0, 0, 10, 10));
    auto element = make<GPXUIElement>(view);
    auto target = make<RecordingInput>();
    element->addTarget(target);
    target->clear();
    element->updateUsingCurrentTime();
    clock.advance(0.5);
    element->updateUsingCurrentTime();
    std::vector<CMTime> times;
    for (auto& e : target->events()) {
        if (e.call == "newFrame") times.push_back(e.time);
    }
    ASSERT_EQ(times.size(), 2u);
    EXPECT_EQ(times[0].value, 0);
    EXPECT_EQ(times[0].timescale, 600);
    EXPECT_EQ(times[1].value, 300);
    EXPECT_EQ(times[1].timescale, 600);
}

TEST(GPXUIElementTest, TheViewIsDrawnUprightIntoTheFrame) {
    auto view = make<UIView>(CGRectMake(0, 0, 8, 8));
    view->setContentScaleFactor(1);
    view->setBackgroundColor(UIColor::redColor());
    auto top = make<UIView>(CGRectMake(0, 0, 8, 4));
    top->setBackgroundColor(UIColor::greenColor());
    view->addSubview(top);
    auto element = make<GPXUIElement>(view);
    auto filter = make<GPXFilter>();
    element->addTarget(filter);
    filter->useNextFrameForImageCapture();
    element->update();
    auto image = filter->newCGImageFromCurrentlyProcessedOutput();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width(), 8u);
    EXPECT_TRUE(near(rgbaAt(image, 2, 1), {0, 255, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(image, 2, 6), {255, 0, 0, 255}));

    // Each update draws the view as it is now.
    top->setBackgroundColor(UIColor::blueColor());
    filter->useNextFrameForImageCapture();
    element->update();
    image = filter->newCGImageFromCurrentlyProcessedOutput();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(near(rgbaAt(image, 2, 1), {0, 0, 255, 255}));
    EXPECT_TRUE(near(rgbaAt(image, 2, 6), {255, 0, 0, 255}));

    // An element whose layer has no size hands nothing on.
    auto empty = make<GPXUIElement>(make<CALayer>());
    auto target = make<RecordingInput>();
    empty->addTarget(target);
    target->clear();
    empty->update();
    EXPECT_EQ(target->count("newFrame"), 0);
}

}  // namespace
