#include <gtest/gtest.h>

#include "media/CMTime.h"

namespace {

struct TimeCase {
    const char* name;
    CMTime a, b;
    CMTime sum;
    int compare;
};

TEST(CMTimeTest, ArithmeticAndComparisonAcrossTimescalesAndSpecialTimes) {
    const TimeCase cases[] = {
        {"same scale", CMTimeMake(1, 30), CMTimeMake(2, 30), CMTimeMake(3, 30), -1},
        {"mixed scales", CMTimeMake(1, 30), CMTimeMake(1, 600), CMTimeMake(21, 600), 1},
        {"coprime scales", CMTimeMake(1, 3), CMTimeMake(1, 7), CMTimeMake(10, 21), 1},
        {"equal values", CMTimeMake(20, 600), CMTimeMake(1, 30), CMTimeMake(40, 600), 0},
        {"invalid", kCMTimeInvalid, CMTimeMake(1, 30), kCMTimeInvalid, -1},
        {"indefinite", kCMTimeIndefinite, CMTimeMake(1, 30), kCMTimeIndefinite, 1},
        {"infinity", kCMTimePositiveInfinity, CMTimeMake(5, 1), kCMTimePositiveInfinity, 1},
        {"opposite infinities", kCMTimePositiveInfinity, kCMTimeNegativeInfinity, kCMTimeInvalid, 1},
        {"negative infinity first", kCMTimeNegativeInfinity, CMTimeMake(-5, 1), kCMTimeNegativeInfinity, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CMTime sum = CMTimeAdd(c.a, c.b);
        EXPECT_EQ(CMTIME_IS_VALID(sum), CMTIME_IS_VALID(c.sum));
        EXPECT_EQ(CMTimeCompare(sum, c.sum), 0);
        EXPECT_EQ(CMTimeCompare(c.a, c.b), c.compare);
        EXPECT_EQ(CMTimeCompare(c.b, c.a), -c.compare);
    }
}

TEST(CMTimeTest, SubtractionSecondsAndSeconds600) {
    EXPECT_EQ(CMTimeCompare(CMTimeSubtract(CMTimeMake(1, 2), CMTimeMake(1, 3)), CMTimeMake(1, 6)), 0);
    EXPECT_DOUBLE_EQ(CMTimeGetSeconds(CMTimeMake(300, 600)), 0.5);
    const CMTime half = CMTimeMakeWithSeconds(0.5, 600);
    EXPECT_EQ(half.value, 300);
    EXPECT_EQ(half.timescale, 600);
    EXPECT_TRUE(std::isnan(CMTimeGetSeconds(kCMTimeInvalid)));
    EXPECT_TRUE(std::isnan(CMTimeGetSeconds(kCMTimeIndefinite)));
    EXPECT_TRUE(std::isinf(CMTimeGetSeconds(kCMTimeNegativeInfinity)));
    EXPECT_TRUE(CMTIME_IS_INVALID(CMTimeMake(1, 0)));
    EXPECT_TRUE(CMTIME_IS_INVALID(CMTimeMakeWithSeconds(NAN, 600)));
    EXPECT_EQ(CMTimeSubtract(kCMTimeZero, kCMTimeNegativeInfinity).flags, kCMTimePositiveInfinity.flags);
    EXPECT_EQ(CMTimeCopyDescription(CMTimeMake(1, 30)).rfind("{1/30", 0), 0u);
    EXPECT_EQ(CMTimeCopyDescription(kCMTimeInvalid), "{INVALID}");
}

}  // namespace
