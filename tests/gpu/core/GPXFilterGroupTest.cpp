#include "gpu/core/GPXFilterGroup.h"

#include <gtest/gtest.h>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFilter.h"
#include "gpu/core/GPXMonochromeFilter.h"
#include "gpu/core/GPXPicture.h"

using namespace gputest;

namespace {

// A filter that records frames and forced sizes, so the group's forwarding shows.
class CountingFilter : public GPXFilter {
  public:
    void newFrameReadyAtTime(CMTime frameTime, long textureIndex) override {
        ++frames;
        GPXFilter::newFrameReadyAtTime(frameTime, textureIndex);
    }
    void setInputSize(CGSize newSize, long textureIndex) override {
        lastSize = newSize;
        GPXFilter::setInputSize(newSize, textureIndex);
    }
    void forceProcessingAtSize(CGSize frameSize) override {
        forced = frameSize;
        GPXFilter::forceProcessingAtSize(frameSize);
    }
    std::atomic<int> frames{0};
    CGSize lastSize;
    CGSize forced;
};

TEST(GPXFilterGroup, WithOneFilterBehavesAsThatFilter) {
    auto group = make<GPXFilterGroup>();
    auto tint = make<GPXMonochromeFilter>();
    group->addFilter(tint);
    group->setInitialFilters({tint});
    group->setTerminalFilter(tint);
    EXPECT_EQ(group->filterCount(), 1u);
    EXPECT_EQ(group->filterAtIndex(0), tint);
    EXPECT_EQ(group->filterAtIndex(1), nullptr);

    auto result =
        group->imageByFilteringImage(UIImage::imageWithCGImage(makeSolidImage(4, 4, {128, 128, 128, 255})));
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result->CGImage(), 1, 1), {153, 115, 77, 255}));

    auto target = make<RecordingInput>();
    group->addTarget(target);
    EXPECT_EQ(group->targets().size(), 1u);
    EXPECT_EQ(tint->targets().size(), 1u);
    group->removeTarget(target);
    EXPECT_TRUE(tint->targets().empty());
    group->addTarget(target);
    group->removeAllTargets();
    EXPECT_TRUE(tint->targets().empty());
    int completions = 0;
    group->setFrameProcessingCompletionBlock([&](const Ref<GPXOutput>&, CMTime) { ++completions; });
    EXPECT_TRUE(static_cast<bool>(tint->frameProcessingCompletionBlock()));
    EXPECT_TRUE(static_cast<bool>(group->frameProcessingCompletionBlock()));
}

TEST(GPXFilterGroup, ChainsFilters) {
    auto group = make<GPXFilterGroup>();
    auto first = make<GPXMonochromeFilter>();
    auto second = make<GPXMonochromeFilter>();
    second->setColorRed(0.2f, 0.8f, 0.4f);
    first->addTarget(second);
    group->addFilter(first);
    group->addFilter(second);
    group->setInitialFilters({first});
    group->setTerminalFilter(second);
    auto result =
        group->imageByFilteringImage(UIImage::imageWithCGImage(makeSolidImage(4, 4, {128, 128, 128, 255})));
    ASSERT_NE(result, nullptr);
    // (153, 115, 77) has luminance 0.4566: below one half, so 2 l f.
    const double l = (153 * 0.2125 + 115 * 0.7154 + 77 * 0.0721) / 255.0;
    const RGBA expected{static_cast<std::uint8_t>(std::lround(2 * l * 0.2 * 255)),
                        static_cast<std::uint8_t>(std::lround(2 * l * 0.8 * 255)),
                        static_cast<std::uint8_t>(std::lround(2 * l * 0.4 * 255)), 255};
    EXPECT_TRUE(near(rgbaAt(result->CGImage(), 2, 2), expected));
}

TEST(GPXFilterGroup, FramesReachEveryInitialFilterButTheIgnoredOne) {
    auto group = make<GPXFilterGroup>();
    auto a = make<CountingFilter>();
    auto b = make<CountingFilter>();
    group->addFilter(a);
    group->addFilter(b);
    group->setInitialFilters({a, b});
    group->setTerminalFilter(a);
    group->setInputFilterToIgnoreForUpdates(b);
    EXPECT_EQ(group->inputFilterToIgnoreForUpdates(), b);
    auto picture = make<GPXPicture>(makeSolidImage(6, 4, {1, 2, 3, 255}));
    picture->addTarget(group);
    auto done = dispatch_semaphore_create(0);
    ASSERT_TRUE(picture->processImageWithCompletionHandler([&] { dispatch_semaphore_signal(done); }));
    ASSERT_TRUE(waitFor(done));
    EXPECT_EQ(a->frames.load(), 1);
    EXPECT_EQ(b->frames.load(), 0);
    // The ignored one still gets framebuffer, size and rotation.
    EXPECT_EQ(b->lastSize, CGSizeMake(6, 4));
    EXPECT_EQ(b->inputTextureSize(), CGSizeMake(6, 4));
}

TEST(GPXFilterGroup, ForcedSizesReachInnerFiltersToo) {
    auto group = make<GPXFilterGroup>();
    auto initial = make<CountingFilter>();
    auto inner = make<CountingFilter>();
    auto terminal = make<CountingFilter>();
    for (auto& f : {initial, inner, terminal}) group->addFilter(f);
    group->setInitialFilters({initial});
    group->setTerminalFilter(terminal);
    group->forceProcessingAtSize(CGSizeMake(32, 16));
    EXPECT_EQ(inner->forced, CGSizeMake(32, 16));
    EXPECT_EQ(initial->forced, CGSizeMake(32, 16));
    EXPECT_EQ(terminal->forced, CGSizeMake(32, 16));
    group->forceProcessingAtSizeRespectingAspectRatio(CGSizeMake(10, 10));
    inner->setInputSize(CGSizeMake(40, 20), 0);
    EXPECT_EQ(inner->inputTextureSize(), CGSizeMake(10, 5));
}

TEST(GPXFilterGroup, WithoutATerminalFilterOutputCallsDoNothing) {
    auto group = make<GPXFilterGroup>();
    auto target = make<RecordingInput>();
    group->addTarget(target);
    EXPECT_TRUE(group->targets().empty());
    EXPECT_TRUE(target->events().empty());
    group->removeTarget(target);
    group->removeAllTargets();
    group->useNextFrameForImageCapture();
    EXPECT_EQ(group->newCGImageFromCurrentlyProcessedOutput(), nullptr);
    EXPECT_FALSE(static_cast<bool>(group->frameProcessingCompletionBlock()));
    // Input calls with no initial filters are harmless.
    group->newFrameReadyAtTime(kCMTimeIndefinite, 0);
    group->setInputSize(CGSizeMake(1, 1), 0);
    group->setInputRotation(rotationLeft, 0);
    group->setCurrentlyReceivingMonochromeInput(true);
    EXPECT_TRUE(group->wantsMonochromeInput());  // every one of none
    EXPECT_EQ(group->nextAvailableTextureIndex(), 0);
    EXPECT_EQ(group->maximumOutputSize(), CGSizeZero);
}

TEST(GPXFilterGroup, EndProcessingAndMonochromeWishesGoToInitialFilters) {
    auto group = make<GPXFilterGroup>();
    auto a = make<RecordingInput>();
    auto b = make<RecordingInput>();
    a->wantsMonochrome_ = true;
    group->setInitialFilters({a, b});
    EXPECT_FALSE(group->wantsMonochromeInput());
    b->wantsMonochrome_ = true;
    EXPECT_TRUE(group->wantsMonochromeInput());
    group->endProcessing();
    group->endProcessing();
    EXPECT_EQ(a->count("end"), 1);
    EXPECT_EQ(b->count("end"), 1);
    group->setInputRotation(rotationRight, 1);
    EXPECT_EQ(a->events().back().rotation, rotationRight);
    EXPECT_EQ(a->events().back().index, 1);
}

}  // namespace
