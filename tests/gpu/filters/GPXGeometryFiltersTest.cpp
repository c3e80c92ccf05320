#include "gpu/filters/GPXGeometryFilters.h"

#include <gtest/gtest.h>

#include "../core/GPUFilterTestSupport.h"

using namespace gputest;

namespace {

TEST(GPXCropFilter, TheCentreQuarterHasHalfTheSize) {
    auto filter = make<GPXCropFilter>(CGRectMake(0.25, 0.25, 0.5, 0.5));
    auto input = noisePicture(16, 12, 2);
    auto target = make<RecordingInput>();
    filter->addTarget(target);
    auto result = runFilter(filter, {input}, CGSizeMake(8, 6));
    bool sized = false;
    for (auto& e : target->events())
        if (e.call == "size" && e.size.width > 0) sized = e.size == CGSizeMake(8, 6);
    EXPECT_TRUE(sized);
    Pixels expected{8, 6, std::vector<RGBA>(48)};
    for (std::size_t y = 0; y < 6; ++y)
        for (std::size_t x = 0; x < 8; ++x) expected.at(x, y) = input.at(x + 4, y + 3);
    EXPECT_TRUE(matches(result, expected, 1));
}

TEST(GPXCropFilter, RecordsTheSuppliedSize) {
    auto filter = make<GPXCropFilter>(CGRectMake(0.25, 0.25, 0.5, 0.5));
    filter->setInputSize(CGSizeMake(640, 480), 0);
    EXPECT_EQ(filter->originallySuppliedInputSize(), CGSizeMake(640, 480));
    EXPECT_EQ(filter->inputTextureSize(), CGSizeMake(320, 240));
}

TEST(GPXCropFilter, WithARotatedInputTheRegionIsTakenInTheTurnedFrame) {
    auto input = noisePicture(8, 12, 3);
    auto filter = make<GPXCropFilter>(CGRectMake(0.5, 0.0, 0.5, 0.5));
    filter->setInputRotation(rotationLeft, 0);
    auto rotated = runFilter(filter, {input}, CGSizeMake(6, 4));
    // Turned left, the corners read the input at (y1, 1 - x1) ... (y0, 1 - x0): output (s, t)
    // samples (0.5 - 0.5 t, 0.5 s), so pixel (x, y) shows input pixel (3 - y, x).
    Pixels expected{6, 4, std::vector<RGBA>(24)};
    for (std::size_t y = 0; y < 4; ++y)
        for (std::size_t x = 0; x < 6; ++x) expected.at(x, y) = input.at(3 - y, x);
    EXPECT_TRUE(matches(rotated, expected, 1));
}

TEST(GPXCropFilter, CoordinatesFollowEveryRotation) {
    auto filter = make<GPXCropFilter>(CGRectMake(0.1, 0.2, 0.3, 0.4));
    const GLfloat x0 = 0.1f, x1 = 0.4f, y0 = 0.2f, y1 = 0.6f;
    const std::pair<GPURotationMode, std::array<GLfloat, 8>> table[] = {
        {rotationNone, {x0, y0, x1, y0, x0, y1, x1, y1}},
        {rotationLeft, {y1, 1 - x1, y1, 1 - x0, y0, 1 - x1, y0, 1 - x0}},
        {rotationRight, {y0, 1 - x0, y0, 1 - x1, y1, 1 - x0, y1, 1 - x1}},
        {rotationFlipVertical, {x0, y1, x1, y1, x0, y0, x1, y0}},
        {rotationFlipHorizontal, {x1, y0, x0, y0, x1, y1, x0, y1}},
        {rotationRightFlipVertical, {y0, 1 - x1, y0, 1 - x0, y1, 1 - x1, y1, 1 - x0}},
        {rotationRightFlipHorizontal, {y1, 1 - x0, y1, 1 - x1, y0, 1 - x0, y0, 1 - x1}},
        {rotation180, {x1, y1, x0, y1, x1, y0, x0, y0}},
    };
    for (auto& [mode, expected] : table) {
        filter->setInputRotation(mode, 0);
        auto coordinates = filter->cropTextureCoordinates();
        for (int i = 0; i < 8; ++i) EXPECT_FLOAT_EQ(coordinates[i], expected[i]) << mode << " " << i;
    }
}

TEST(GPXCropFilter, ARegionOutsideTheUnitSquareIsReportedAndIgnored) {
    auto filter = make<GPXCropFilter>();
    AssertionRecorder reports;
    filter->setCropRegion(CGRectMake(0.5, 0.5, 1.5, 0.5));
    ASSERT_EQ(reports.messages().size(), 1u);
    EXPECT_EQ(reports.messages()[0].rfind("Invalid parameter not satisfying: newValue.origin.x >= 0", 0), 0u);
    EXPECT_EQ(filter->cropRegion(), CGRectMake(0, 0, 1, 1));
}

TEST(GPXTransformFilter, TheIdentityFillsTheFrameWithAspectCorrection) {
    auto filter = make<GPXTransformFilter>();
    EXPECT_TRUE(CATransform3DIsIdentity(filter->transform3D()));
    auto input = noisePicture(16, 12, 4);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
    // 640 x 480: the ortho matrix scales y by 4/3, taking the quad's 0.75 back to 1.
    filter->setInputSize(CGSizeMake(640, 480), 0);
    auto ortho = filter->orthographicMatrix();
    EXPECT_FLOAT_EQ(ortho.one.one, 1.0f);
    EXPECT_FLOAT_EQ(ortho.two.two, 1.0f / 0.75f);
    filter->setIgnoreAspectRatio(true);
    EXPECT_TRUE(filter->ignoreAspectRatio());
    EXPECT_FLOAT_EQ(filter->orthographicMatrix().two.two, 1.0f);
    EXPECT_TRUE(matches(runFilter(filter, {input}), input, 1));
}

TEST(GPXTransformFilter, AScaleShrinksAboutTheCentreOrTheTopLeft) {
    auto input = solidPicture(16, 16, {200, 100, 50, 255});
    auto filter = make<GPXTransformFilter>();
    filter->setAffineTransform(CGAffineTransformMakeScale(0.5, 0.5));
    EXPECT_DOUBLE_EQ(filter->affineTransform().a, 0.5);
    auto centred = runFilter(filter, {input});
    EXPECT_TRUE(near(centred.at(8, 8), {200, 100, 50, 255}));
    EXPECT_TRUE(near(centred.at(1, 1), {0, 0, 0, 0}));
    EXPECT_TRUE(near(centred.at(14, 14), {0, 0, 0, 0}));
    filter->setAnchorTopLeft(true);
    EXPECT_TRUE(filter->anchorTopLeft());
    auto anchored = runFilter(filter, {input});
    // The picture keeps one corner in place and grows away from it.
    int covered = 0;
    for (auto& c : anchored.px) covered += c[3] == 255;
    EXPECT_GT(covered, 0);
    EXPECT_LT(covered, 256);
    const bool cornerKept = anchored.at(0, 0)[3] == 255 || anchored.at(0, 15)[3] == 255;
    EXPECT_TRUE(cornerKept);
}

TEST(GPXTransformFilter, OrthoMatrixRows) {
    auto filter = make<GPXTransformFilter>();
    auto m = filter->loadOrthoMatrix(-1, 3, -2, 2, -1, 1);
    EXPECT_FLOAT_EQ(m.one.one, 0.5f);
    EXPECT_FLOAT_EQ(m.one.four, -0.5f);
    EXPECT_FLOAT_EQ(m.two.two, 0.5f);
    EXPECT_FLOAT_EQ(m.two.four, 0.0f);
    EXPECT_FLOAT_EQ(m.three.three, 1.0f);
    filter->setAnchorTopLeft(true);
    m = filter->loadOrthoMatrix(-1, 3, -2, 2, -1, 1);
    EXPECT_FLOAT_EQ(m.one.one, 1.0f);
    EXPECT_FLOAT_EQ(m.one.four, -1.0f);
    EXPECT_FLOAT_EQ(m.two.four, -1.0f);
}

// The Lanczos kernel along one axis of the source, sampled at the output's texel centres.
TEST(GPXLanczosResamplingFilter, HalvesWithTapsOneSourceTexelApart) {
    auto input = gradientPicture(40, 20);
    auto filter = make<GPXLanczosResamplingFilter>();
    filter->forceProcessingAtSize(CGSizeMake(20, 10));
    auto result = runFilter(filter, {input}, CGSizeMake(20, 10));
    EXPECT_EQ(filter->originalImageSize(), CGSizeZero);  // removing the picture sent a zero size
    // On a linear gradient the symmetric kernel (which sums to 1) gives the value at the point sampled.
    for (std::size_t x = 2; x < 18; ++x) {
        const double sourceX = (x + 0.5) * 2.0 - 0.5;
        EXPECT_NEAR(result.at(x, 5)[0], sourceX * 255.0 / 39.0, 3) << x;
    }
    filter->setInputSize(CGSizeMake(1000, 500), 0);
    EXPECT_EQ(filter->originalImageSize(), CGSizeMake(1000, 500));
    auto offsets = filter->texelOffsets();
    EXPECT_FLOAT_EQ(offsets.horizontalPassTexelWidthOffset, 1.0f / 1000);
    EXPECT_FLOAT_EQ(offsets.verticalPassTexelHeightOffset, 1.0f / 500);
}

}  // namespace
