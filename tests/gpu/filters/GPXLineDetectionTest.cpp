#include "gpu/filters/GPXLineDetection.h"

#include <gtest/gtest.h>

#include <cmath>

#include "../core/GPUFilterTestSupport.h"
#include "GPUDetectorTestSupport.h"

using namespace gputest;

namespace {

// A white band three pixels thick along y = m x + b (normalised device coordinates, y growing
// with the row) on black.
Pixels lineScene(std::size_t side, double m, double b) {
    Pixels p = solidPicture(side, side, {0, 0, 0, 255});
    for (std::size_t column = 0; column < side; ++column) {
        const double x = 2.0 * column / side - 1.0;
        const double row = (m * x + b + 1.0) * side / 2.0;
        for (long r = std::lround(row) - 1; r <= std::lround(row) + 1; ++r)
            if (r >= 0 && r < static_cast<long>(side))
                p.at(column, static_cast<std::size_t>(r)) = {255, 255, 255, 255};
    }
    return p;
}

Ref<GPXHoughTransformLineDetector> reporting(Reports& reports) {
    auto detector = make<GPXHoughTransformLineDetector>();
    detector->setLinesDetectedBlock([&reports](GLfloat* lines, unsigned long count, CMTime time) {
        reports.add(std::vector<double>(lines, lines + count * 2), time);
    });
    return detector;
}

bool hasLine(const std::vector<double>& lines, double m, double b, double slopeTolerance,
             double interceptTolerance) {
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2)
        if (std::abs(lines[i] - m) <= slopeTolerance && std::abs(lines[i + 1] - b) <= interceptTolerance)
            return true;
    return false;
}

std::string describe(const std::vector<double>& lines) {
    std::string text;
    for (std::size_t i = 0; i + 1 < lines.size() && i < 40; i += 2)
        text += "(" + std::to_string(lines[i]) + ", " + std::to_string(lines[i + 1]) + ") ";
    return text;
}

}  // namespace

TEST(GPXHoughTransformLineDetector, FindsDrawnLinesWithTheirSlopesAndIntercepts) {
    struct Case {
        double m, b;
    };
    for (const Case c : {Case{0.5, 0.1}, Case{-0.6, -0.2}, Case{0.0, 0.3}}) {
        SCOPED_TRACE(std::to_string(c.m) + " " + std::to_string(c.b));
        Reports reports;
        auto detector = reporting(reports);
        EXPECT_DOUBLE_EQ(detector->lineDetectionThreshold(), 0.12);
        FrameFeeder feeder(detector);
        feeder.feed(lineScene(256, c.m, c.b), CMTimeMake(9, 30));
        const auto lines = reports.next();
        EXPECT_TRUE(hasLine(lines, c.m, c.b, 0.1, 0.06)) << describe(lines);
        EXPECT_LT(lines.size() / 2, 12u) << describe(lines);
        EXPECT_EQ(reports.lastTime().value, 9);
    }
}

TEST(GPXHoughTransformLineDetector, AnEmptyPictureHasNoLinesAndALargerFrameIsTakenWhole) {
    Reports reports;
    auto detector = reporting(reports);
    FrameFeeder feeder(detector);
    feeder.feed(solidPicture(64, 64, {0, 0, 0, 255}), CMTimeMake(1, 30));
    EXPECT_TRUE(reports.next().empty());
    EXPECT_EQ(reports.lastTime().value, 1);
    feeder.feed(lineScene(256, 0.5, 0.1), CMTimeMake(2, 30));
    EXPECT_TRUE(hasLine(reports.next(), 0.5, 0.1, 0.1, 0.06));
    EXPECT_EQ(detector->parallelCoordinateLineTransformFilter()->linePairsToRender() > 0, true);
    detector->setEdgeThreshold(0.7);
    EXPECT_EQ(detector->edgeThreshold(), 0.7);
    detector->setLineDetectionThreshold(0.3);
    EXPECT_DOUBLE_EQ(detector->nonMaximumSuppressionFilter()->threshold(), 0.3);
}

TEST(GPXParallelCoordinateLineTransformFilter, EachEdgePixelDrawsTwoSegments) {
    // One edge pixel at column 4, row 2 of 16 x 8: x = -0.5, y = -0.5; segments from (-1, 0.5) to
    // (0, -0.5) and from (0, -0.5) to (1, -0.5).
    Pixels input = solidPicture(16, 8, {0, 0, 0, 255});
    input.at(4, 2) = {255, 255, 255, 255};
    auto filter = make<GPXParallelCoordinateLineTransformFilter>();
    auto result = runFilter(filter, {input});
    EXPECT_EQ(filter->linePairsToRender(), 1u);
    int lit = 0;
    for (auto& c : result.px) lit += c[0] > 0;
    EXPECT_GT(lit, 12);
    // The right half is the flat segment on row 2 (y = -0.5): one vote there.
    EXPECT_NEAR(result.at(12, 2)[0], 1, 1);
    EXPECT_EQ(result.at(12, 6)[0], 0);
    // A larger frame re-sizes the buffers.
    Pixels larger = solidPicture(40, 30, {0, 0, 0, 255});
    larger.at(38, 28) = {255, 255, 255, 255};
    larger.at(20, 10) = {255, 255, 255, 255};
    runFilter(filter, {larger});
    EXPECT_EQ(filter->linePairsToRender(), 2u);
}

TEST(GPXLineGenerator, DrawsSlopedAndVerticalLines) {
    auto generator = make<GPXLineGenerator>();
    EXPECT_EQ(generator->lineWidth(), 1.0);
    generator->forceProcessingAtSize(CGSizeMake(64, 64));
    auto output = make<GPXRawDataOutput>(CGSizeMake(64, 64), false);
    generator->addTarget(output);
    auto arrived = dispatch_semaphore_create(0);
    output->setNewFrameAvailableBlock([arrived] { dispatch_semaphore_signal(arrived); });
    // y = 0.5 x and the vertical line at x = 0.5.
    const GLfloat lines[] = {0.5f, 0.0f, 100000.0f, 0.5f};
    generator->renderLinesFromArray(lines, 2, CMTimeMake(1, 30));
    ASSERT_TRUE(waitFor(arrived));
    const GLubyte* bytes = output->rawBytesForImage();
    auto at = [&](int x, int y) {
        return RGBA{bytes[(y * 64 + x) * 4], bytes[(y * 64 + x) * 4 + 1], bytes[(y * 64 + x) * 4 + 2],
                    bytes[(y * 64 + x) * 4 + 3]};
    };
    // Row of y = 0.5 x at column c: ((0.5 (2c / 64 - 1)) + 1) x 32.
    for (int column : {4, 20, 40, 60}) {
        const double x = (column + 0.5) / 32.0 - 1.0;
        const int row = static_cast<int>(std::floor((0.5 * x + 1.0) * 32.0));
        bool found = false;
        for (int r = row - 1; r <= row + 1; ++r) found = found || at(column, r)[1] == 255;
        EXPECT_TRUE(found) << column;
        EXPECT_EQ(at(column, row)[0], 0);
    }
    // x = 0.5 is column 48.
    int vertical = 0;
    for (int y = 0; y < 64; ++y) vertical += at(48, y)[1] == 255 || at(47, y)[1] == 255;
    EXPECT_GE(vertical, 62);
    EXPECT_TRUE(near(at(10, 60), {0, 0, 0, 0}, 0));
    generator->removeAllTargets();
}

TEST(GPXCrosshairGenerator, DrawsACrossAtEachPoint) {
    auto generator = make<GPXCrosshairGenerator>();
    EXPECT_EQ(generator->crosshairWidth(), 5.0);
    generator->setCrosshairWidth(9.0);
    generator->setCrosshairColorRed(1.0f, 0.0f, 0.0f);
    generator->forceProcessingAtSize(CGSizeMake(64, 64));
    auto output = make<GPXRawDataOutput>(CGSizeMake(64, 64), false);
    generator->addTarget(output);
    auto arrived = dispatch_semaphore_create(0);
    output->setNewFrameAvailableBlock([arrived] { dispatch_semaphore_signal(arrived); });
    const GLfloat points[] = {0.25f, 0.25f, 0.75f, 0.5f};
    generator->renderCrosshairsFromArray(points, 2, CMTimeMake(1, 30));
    ASSERT_TRUE(waitFor(arrived));
    const GLubyte* bytes = output->rawBytesForImage();
    auto redNear = [&](int cx, int cy) {
        int lit = 0;
        for (int y = cy - 6; y <= cy + 6; ++y)
            for (int x = cx - 6; x <= cx + 6; ++x) lit += bytes[(y * 64 + x) * 4] == 255;
        return lit;
    };
    EXPECT_GT(redNear(16, 16), 8);
    EXPECT_GT(redNear(48, 32), 8);
    EXPECT_EQ(redNear(40, 10), 0);
    // Not a filled square: the cross leaves its corners clear.
    EXPECT_LT(redNear(16, 16), 40);
    generator->removeAllTargets();
}
