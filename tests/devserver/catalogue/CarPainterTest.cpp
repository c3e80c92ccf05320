// The drawings: every angle marked and told apart, pixels fully opaque or fully clear, parts
// where they belong on the canvas.

#include <gtest/gtest.h>

#include <set>

#include "tools/devserver/catalogue/CarPainter.h"

using namespace devserver::catalogue;

namespace {

const PartKind kAllKinds[] = {PartKind::Body,       PartKind::Wheels,     PartKind::FrontBumper,
                              PartKind::RearBumper, PartKind::SideSkirts, PartKind::Hood,
                              PartKind::Fenders,    PartKind::Spoiler};

class CarPainterTest : public ::testing::Test {
  protected:
    CarPainter painter{200, 120};
    CarShape car;
};

}  // namespace

TEST_F(CarPainterTest, EveryAngleOfEveryPartCarriesItsMark) {
    for (PartKind kind : kAllKinds) {
        for (int angle = 1; angle <= kAngleCount; angle += 4) {
            Picture p = painter.draw(car, {kind, 1, false}, angle);
            ASSERT_EQ(p.width, 200);
            ASSERT_EQ(p.height, 120);
            EXPECT_EQ(readAngleMark(p), angle) << static_cast<int>(kind) << " at " << angle;
        }
    }
}

TEST_F(CarPainterTest, PixelsAreOpaqueOrClear) {
    for (PartKind kind : {PartKind::Body, PartKind::Wheels, PartKind::Spoiler}) {
        Picture p = painter.draw(car, {kind, 2, false}, 7);
        std::size_t opaque = 0;
        for (std::size_t i = 3; i < p.rgba.size(); i += 4) {
            ASSERT_TRUE(p.rgba[i] == 0 || p.rgba[i] == 255) << "partial alpha " << int(p.rgba[i]);
            if (p.rgba[i] == 0) {
                ASSERT_EQ(p.rgba[i - 1] | p.rgba[i - 2] | p.rgba[i - 3], 0);
            }
            opaque += p.rgba[i] == 255;
        }
        EXPECT_GT(opaque, 200u);
    }
}

TEST_F(CarPainterTest, AnglesOutsideTheRangeDrawNothing) {
    EXPECT_TRUE(painter.draw(car, {PartKind::Body, 0, false}, 0).empty());
    EXPECT_TRUE(painter.draw(car, {PartKind::Body, 0, false}, 26).empty());
    EXPECT_TRUE(painter.draw(car, {PartKind::Body, 0, false}, -3).empty());
}

TEST_F(CarPainterTest, SameArgumentsSamePixels) {
    Picture a = painter.draw(car, {PartKind::Wheels, 2, false}, 13);
    painter.draw(car, {PartKind::Body, 0, false}, 2);  // the context is reused in between
    CarPainter other(200, 120);
    EXPECT_EQ(painter.draw(car, {PartKind::Wheels, 2, false}, 13), a);
    EXPECT_EQ(other.draw(car, {PartKind::Wheels, 2, false}, 13), a);
}

TEST_F(CarPainterTest, AnglesVariantsAndPartsDiffer) {
    std::set<std::vector<std::uint8_t>> seen;
    for (int angle = 1; angle <= kAngleCount; ++angle)
        seen.insert(painter.draw(car, {PartKind::Body, 0, false}, angle).rgba);
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kAngleCount));
    EXPECT_NE(painter.draw(car, {PartKind::FrontBumper, 0, false}, 23).rgba,
              painter.draw(car, {PartKind::FrontBumper, 1, false}, 23).rgba);
    EXPECT_NE(painter.draw(car, {PartKind::Hood, 0, false}, 1).rgba,
              painter.draw(car, {PartKind::Fenders, 0, false}, 1).rgba);
}

TEST_F(CarPainterTest, SecondLayersExistOnlyWhereDeclared) {
    EXPECT_TRUE(lookHasAttach({PartKind::Wheels, 1, false}));
    EXPECT_TRUE(lookHasAttach({PartKind::Spoiler, 2, false}));
    EXPECT_FALSE(lookHasAttach({PartKind::Wheels, 0, false}));
    EXPECT_FALSE(lookHasAttach({PartKind::Body, 1, false}));
    Picture posts = painter.draw(car, {PartKind::Spoiler, 2, true}, 8);
    Picture wing = painter.draw(car, {PartKind::Spoiler, 2, false}, 8);
    EXPECT_NE(posts.rgba, wing.rgba);
    EXPECT_EQ(readAngleMark(posts), 8);
}

TEST_F(CarPainterTest, TheBodyHidesTheFarSideOfOtherParts) {
    // Seen square from the front (angle 23), the rear bumper lies behind the body: all that is
    // left of it is what shows below and beside the body, far less than from behind (angle 10).
    auto count = [](const Picture& p) {
        std::size_t n = 0;
        for (std::size_t i = 3; i < p.rgba.size(); i += 4) n += p.rgba[i] != 0;
        return n;
    };
    EXPECT_LT(count(painter.draw(car, {PartKind::RearBumper, 0, false}, 23)) * 3,
              count(painter.draw(car, {PartKind::RearBumper, 0, false}, 10)));
}

TEST_F(CarPainterTest, TheCarStaysInsideTheCanvas) {
    // Nothing touches the canvas edge at any angle: the drawing is complete, not clipped.
    CarShape tall;
    tall.roof = 1.75;
    tall.wheelRadius = 0.42;
    tall.clearance = 0.38;
    tall.beltline = 1.05;
    for (int angle = 1; angle <= kAngleCount; ++angle) {
        Picture p = painter.draw(tall, {PartKind::Body, 0, false}, angle);
        PixelRect b = opaqueBounds(p);
        EXPECT_GT(b.x, 0) << angle;
        EXPECT_GT(b.y, 0) << angle;
        EXPECT_LT(b.x + b.w, p.width) << angle;
        EXPECT_LT(b.y + b.h, p.height) << angle;
    }
}

TEST(AngleMark, NamesAndReading) {
    EXPECT_EQ(angleFrameName(1), "01.png");
    EXPECT_EQ(angleFrameName(25), "25.png");
    EXPECT_EQ(readAngleMark(Picture(30, 30)), 0);
    EXPECT_EQ(readAngleMark(Picture()), 0);
}

TEST(FitPicture, ScalesIntoAnOpaqueTile) {
    CarPainter painter(400, 240);
    Picture thumb =
        fitPicture(painter.draw(CarShape{}, {PartKind::Body, 0, false}, 1), 96, 64, {236, 236, 236});
    ASSERT_EQ(thumb.width, 96);
    ASSERT_EQ(thumb.height, 64);
    for (std::size_t i = 3; i < thumb.rgba.size(); i += 4) ASSERT_EQ(thumb.rgba[i], 255);
    EXPECT_EQ(thumb.pixel(0, 0)[0], 236);
    Picture blank = fitPicture(Picture(10, 10), 20, 20, {1, 2, 3});
    EXPECT_EQ(blank.pixel(10, 10)[2], 3);
}
