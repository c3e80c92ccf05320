#include "gpu/filters/GPXImageReductions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "../core/GPUFilterTestSupport.h"
#include "GPUDetectorTestSupport.h"

using namespace gputest;

namespace {

Ref<GPXAverageColor> averageInto(Reports& reports) {
    auto filter = make<GPXAverageColor>();
    filter->setColorAverageProcessingFinishedBlock(
        [&reports](CGFloat r, CGFloat g, CGFloat b, CGFloat a, CMTime time) {
            reports.add({r, g, b, a}, time);
        });
    return filter;
}

Pixels splitPicture(std::size_t width, std::size_t height, RGBA left, RGBA right) {
    return edgePicture(width, height, left, right);
}

}  // namespace

TEST(GPXAverageColor, AFlatPictureAveragesToItsColourThroughThreeStages) {
    Reports reports;
    auto filter = averageInto(reports);
    FrameFeeder feeder(filter);
    feeder.feed(solidPicture(640, 480, {51, 102, 153, 255}), CMTimeMake(7, 30));
    const auto v = reports.next();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_NEAR(v[0], 0.2, 1.0 / 255);
    EXPECT_NEAR(v[1], 0.4, 1.0 / 255);
    EXPECT_NEAR(v[2], 0.6, 1.0 / 255);
    EXPECT_NEAR(v[3], 1.0, 1.0 / 255);
    EXPECT_EQ(CMTimeCompare(reports.lastTime(), CMTimeMake(7, 30)), 0);
    const CGSize last = filter->finalStageSize();
    EXPECT_EQ(last.width, 10);
    EXPECT_EQ(last.height, 7);
}

TEST(GPXAverageColor, SplitPicturesAndSmallOnesAverageTheirPixels) {
    Reports reports;
    auto filter = averageInto(reports);
    FrameFeeder feeder(filter);
    struct Case {
        std::size_t width, height;
        double expectedRed;
    };
    // 64 x 64: two stages; 16 x 16: one; 6 x 6 and 4 x 4: none, the input itself is averaged.
    for (const Case c :
         {Case{64, 64, 0.5}, Case{16, 16, 0.5}, Case{6, 6, 0.5}, Case{4, 4, 0.5}, Case{5, 3, 3.0 / 5}}) {
        SCOPED_TRACE(c.width);
        feeder.feed(splitPicture(c.width, c.height, {0, 0, 255, 255}, {255, 0, 255, 255}),
                    CMTimeMake(static_cast<CMTimeValue>(c.width), 30));
        const auto v = reports.next();
        ASSERT_EQ(v.size(), 4u);
        EXPECT_NEAR(v[0], c.expectedRed, 2.0 / 255);
        EXPECT_NEAR(v[1], 0.0, 1.0 / 255);
        EXPECT_NEAR(v[2], 1.0, 1.0 / 255);
        EXPECT_EQ(reports.lastTime().value, static_cast<CMTimeValue>(c.width));
    }
}

TEST(GPXAverageColor, ALargerLastStageGrowsTheReadBack) {
    Reports reports;
    auto filter = averageInto(reports);
    FrameFeeder feeder(filter);
    // 4 x 4 read back, then 2 x 10, then 7 x 7 (no stage): each within its own buffer.
    feeder.feed(solidPicture(16, 16, {10, 20, 30, 255}), CMTimeMake(1, 30));
    EXPECT_NEAR(reports.next()[0], 10.0 / 255, 1.0 / 255);
    feeder.feed(solidPicture(40, 160, {90, 20, 30, 255}), CMTimeMake(2, 30));
    EXPECT_NEAR(reports.next()[0], 90.0 / 255, 1.0 / 255);
    EXPECT_EQ(filter->finalStageSize().height, 10);
    feeder.feed(solidPicture(7, 7, {200, 20, 30, 255}), CMTimeMake(3, 30));
    EXPECT_NEAR(reports.next()[0], 200.0 / 255, 1.0 / 255);
    EXPECT_EQ(filter->finalStageSize().width, 7);
}

TEST(GPXLuminosity, FlatAndSplitPictures) {
    Reports reports;
    auto filter = make<GPXLuminosity>();
    filter->setLuminosityProcessingFinishedBlock(
        [&reports](CGFloat l, CMTime time) { reports.add({l}, time); });
    FrameFeeder feeder(filter);
    feeder.feed(solidPicture(64, 48, {100, 150, 200, 255}), CMTimeMake(11, 600));
    const double flat = (0.2125 * 100 + 0.7154 * 150 + 0.0721 * 200) / 255;
    EXPECT_NEAR(reports.next()[0], flat, 2.0 / 255);
    EXPECT_EQ(CMTimeCompare(reports.lastTime(), CMTimeMake(11, 600)), 0);
    feeder.feed(splitPicture(64, 64, {0, 0, 0, 255}, {255, 255, 255, 255}), CMTimeMake(12, 600));
    EXPECT_NEAR(reports.next()[0], 0.5, 2.0 / 255);
    feeder.feed(solidPicture(3, 3, {255, 255, 255, 255}), CMTimeMake(13, 600));
    EXPECT_NEAR(reports.next()[0], 1.0, 1.0 / 255);
}

TEST(GPXMotionDetector, StillFramesShowNoMotionAndAChangedHalfIsFound) {
    Reports reports;
    auto detector = make<GPXMotionDetector>();
    EXPECT_DOUBLE_EQ(detector->lowPassFilterStrength(), 0.5);
    detector->setMotionDetectionBlock([&reports](CGPoint centroid, CGFloat intensity, CMTime time) {
        reports.add({centroid.x, centroid.y, intensity}, time);
    });
    FrameFeeder feeder(detector);
    const Pixels still = solidPicture(32, 32, {40, 40, 40, 255});
    for (int i = 1; i <= 3; ++i) {
        feeder.feed(still, CMTimeMake(i, 30));
        const auto v = reports.next();
        ASSERT_EQ(v.size(), 3u);
        EXPECT_EQ(v[2], 0.0);
        // Nothing moved: there is no centroid to give.
        EXPECT_TRUE(std::isnan(v[0]));
        EXPECT_EQ(reports.lastTime().value, i);
    }
    // The bottom half (larger y) turns white.
    Pixels changed = still;
    for (std::size_t y = 16; y < 32; ++y)
        for (std::size_t x = 0; x < 32; ++x) changed.at(x, y) = {255, 255, 255, 255};
    feeder.feed(changed, CMTimeMake(4, 30));
    const auto v = reports.next();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NEAR(v[2], 0.5, 0.02);
    EXPECT_NEAR(v[0], 0.5, 0.03);
    EXPECT_NEAR(v[1], 0.75, 0.03);
    EXPECT_EQ(reports.lastTime().value, 4);
}
