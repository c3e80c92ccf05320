#include "gpu/core/GPXMonochromeFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "GPUTestSupport.h"
#include "gpu/core/GPXFramebufferCache.h"
#include "gpu/core/GPXPicture.h"

using namespace gputest;

namespace {

// The tint of one pixel, on the CPU: the input is what the texture holds (premultiplied colour
// and alpha, 0-255), the result is what the read-back gives.
RGBA tintOnCPU(const RGBA& input, const float colour[3], float intensity) {
    const float c[3] = {input[0] / 255.0f, input[1] / 255.0f, input[2] / 255.0f};
    const float l = c[0] * 0.2125f + c[1] * 0.7154f + c[2] * 0.0721f;
    RGBA out{};
    for (int k = 0; k < 3; ++k) {
        const float o = l < 0.5f ? 2.0f * l * colour[k] : 1.0f - 2.0f * (1.0f - l) * (1.0f - colour[k]);
        const float mixed = c[k] * (1.0f - intensity) + o * intensity;
        out[k] = static_cast<std::uint8_t>(std::lround(std::clamp(mixed, 0.0f, 1.0f) * 255.0f));
    }
    out[3] = input[3];
    return out;
}

class GPXMonochromeFilterTest : public ::testing::Test {
  protected:
    Ref<GPXMonochromeFilter> filter = make<GPXMonochromeFilter>();

    CGImageRef tint(const CGImageRef& picture) {
        auto result = filter->imageByFilteringImage(UIImage::imageWithCGImage(picture));
        return result ? result->CGImage() : nullptr;
    }
};

TEST_F(GPXMonochromeFilterTest, StartsWithTheDefaultColourAndFullIntensity) {
    EXPECT_EQ(filter->intensity(), 1.0);
    auto colour = filter->color();
    EXPECT_FLOAT_EQ(colour.one, 0.6f);
    EXPECT_FLOAT_EQ(colour.two, 0.45f);
    EXPECT_FLOAT_EQ(colour.three, 0.3f);
    EXPECT_FLOAT_EQ(colour.four, 1.0f);
    EXPECT_NE(filter->intensityUniform(), -1);
    EXPECT_NE(filter->filterColorUniform(), -1);
}

TEST_F(GPXMonochromeFilterTest, MidGreyTakesTheColourAndBlackAndWhiteStay) {
    auto result =
        tint(makePremultipliedImage(3, 1, {{128, 128, 128, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}}));
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result, 0, 0), {153, 115, 77, 255}));
    EXPECT_TRUE(near(rgbaAt(result, 1, 0), {0, 0, 0, 255}));
    EXPECT_TRUE(near(rgbaAt(result, 2, 0), {255, 255, 255, 255}));
}

TEST_F(GPXMonochromeFilterTest, AlphaPassesThrough) {
    // Alpha 0.2 (51) with a premultiplied grey.
    auto result = tint(makePremultipliedImage(1, 1, {{40, 40, 40, 51}}));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(rgbaAt(result, 0, 0)[3], 51);
    const float colour[3] = {0.6f, 0.45f, 0.3f};
    EXPECT_TRUE(near(rgbaAt(result, 0, 0), tintOnCPU({40, 40, 40, 51}, colour, 1.0f)));
}

TEST_F(GPXMonochromeFilterTest, IntensityZeroKeepsTheInputAndHalfAverages) {
    const RGBA input{200, 60, 20, 255};
    const float colour[3] = {0.6f, 0.45f, 0.3f};
    filter->setIntensity(0.0);
    auto unchanged = tint(makeSolidImage(2, 2, input));
    ASSERT_NE(unchanged, nullptr);
    EXPECT_TRUE(near(rgbaAt(unchanged, 1, 1), input));
    filter->setIntensity(0.5);
    EXPECT_EQ(filter->intensity(), 0.5);
    auto half = tint(makeSolidImage(2, 2, input));
    ASSERT_NE(half, nullptr);
    const RGBA full = tintOnCPU(input, colour, 1.0f);
    RGBA average{};
    for (int k = 0; k < 3; ++k)
        average[k] = static_cast<std::uint8_t>(std::lround((input[k] + full[k]) / 2.0));
    average[3] = 255;
    EXPECT_TRUE(near(rgbaAt(half, 0, 0), average));
}

TEST_F(GPXMonochromeFilterTest, SettingTheColourByComponentsLeavesTheStoredColour) {
    filter->setColorRed(0.1f, 0.9f, 0.5f);
    auto stored = filter->color();
    EXPECT_FLOAT_EQ(stored.one, 0.6f);
    EXPECT_FLOAT_EQ(stored.two, 0.45f);
    // ... but the drawing uses the new colour.
    const float colour[3] = {0.1f, 0.9f, 0.5f};
    auto result = tint(makeSolidImage(1, 1, {128, 128, 128, 255}));
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(near(rgbaAt(result, 0, 0), tintOnCPU({128, 128, 128, 255}, colour, 1.0f)));

    filter->setColor(GPUVector4{0.2f, 0.3f, 0.4f, 0.0f});
    EXPECT_FLOAT_EQ(filter->color().one, 0.2f);
    EXPECT_FLOAT_EQ(filter->color().four, 0.0f);  // kept, not used
}

// The studio's road: a picture in, a tint with a colour and intensity, a UIImage out, every pixel
// as the formula gives it.
TEST_F(GPXMonochromeFilterTest, EveryPixelMatchesTheFormula) {
    constexpr std::size_t kW = 61, kH = 37;
    std::mt19937 random(7);
    std::vector<RGBA> pixels(kW * kH);
    for (auto& p : pixels) {
        const int alpha = random() % 4 == 0 ? static_cast<int>(random() % 256) : 255;
        for (int k = 0; k < 3; ++k)
            p[k] = static_cast<std::uint8_t>(random() % (alpha + 1));  // premultiplied
        p[3] = static_cast<std::uint8_t>(alpha);
    }
    const float colour[3] = {0.85f, 0.2f, 0.35f};
    const float intensity = 0.8f;
    filter->setColorRed(colour[0], colour[1], colour[2]);
    filter->setIntensity(intensity);
    auto source =
        UIImage::imageWithCGImage(makePremultipliedImage(kW, kH, pixels), 2.0, UIImageOrientation::Up);
    auto result = filter->imageByFilteringImage(source);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->scale(), 2.0);
    auto image = result->CGImage();
    ASSERT_EQ(image->width(), kW);
    ASSERT_EQ(image->height(), kH);
    int mismatches = 0;
    for (std::size_t y = 0; y < kH; ++y) {
        for (std::size_t x = 0; x < kW; ++x) {
            auto verdict = near(rgbaAt(image, x, y), tintOnCPU(pixels[y * kW + x], colour, intensity));
            if (!verdict && ++mismatches < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << verdict.message();
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(GPXMonochromeFilterTest, TheStudioRoadLeavesNothingBehindAfterAPurge) {
    auto cache = GPXContext::sharedFramebufferCache();
    auto result =
        filter->imageByFilteringImage(UIImage::imageWithCGImage(makeSolidImage(40, 30, {90, 90, 90, 255})));
    ASSERT_NE(result, nullptr);
    // The picture's texture and the filter's output are back in the pool ...
    EXPECT_EQ(cache->freeFramebufferCount(
                  GPXFramebufferCache::hashForSize(CGSizeMake(40, 30), kGPUTextureOptionsDefault, true)),
              1u);
    EXPECT_EQ(cache->freeFramebufferCount(
                  GPXFramebufferCache::hashForSize(CGSizeMake(40, 30), kGPUTextureOptionsDefault, false)),
              1u);
    // ... and the purge the studio makes afterwards frees them.
    cache->purgeAllUnassignedFramebuffers();
    EXPECT_EQ(cache->freeFramebufferCount(), 0u);
}

TEST_F(GPXMonochromeFilterTest, ManyTintsFromSeveralThreadsEachGetTheirOwnResult) {
    // The studio tints from the main thread, but nothing stops two callers at once: each call has
    // its own filter and picture, and the queue keeps their frames apart.
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            auto own = make<GPXMonochromeFilter>();
            const float colour[3] = {0.1f * (t + 1), 0.5f, 0.9f - 0.1f * t};
            own->setColorRed(colour[0], colour[1], colour[2]);
            for (int round = 0; round < 5; ++round) {
                const RGBA input{static_cast<std::uint8_t>(30 * t + round), 100, 160, 255};
                auto result =
                    own->imageByFilteringImage(UIImage::imageWithCGImage(makeSolidImage(16, 16, input)));
                if (!result || !near(rgbaAt(result->CGImage(), 8, 8), tintOnCPU(input, colour, 1.0f)))
                    ++wrong;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
