// Packing, turning and the frame table, down to single pixels; and the client's way of turning a
// stored frame back, run on the platform's image contexts, so both ends agree on the direction.

#include <gtest/gtest.h>

#include <cstring>
#include <numbers>
#include <set>

#include "graphics/UIGraphics.h"
#include "graphics/UIImage.h"
#include "tools/devserver/catalogue/SpriteSheet.h"

using namespace devserver::catalogue;

namespace {

// A picture whose every pixel is distinct: red = column, green = row, blue = a tag.
Picture numbered(int w, int h, std::uint8_t tag = 7) {
    Picture p(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* px = p.pixel(x, y);
            px[0] = static_cast<std::uint8_t>(x + 1);
            px[1] = static_cast<std::uint8_t>(y + 1);
            px[2] = tag;
            px[3] = 255;
        }
    return p;
}

// Letters A..F as pixel colours of an upright 3 x 2 picture.
std::uint8_t letterAt(const Picture& p, int x, int y) {
    return p.pixel(x, y)[0];
}

Picture letters3x2() {
    Picture p(3, 2);
    const char rows[2][3] = {{'A', 'B', 'C'}, {'D', 'E', 'F'}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            std::uint8_t* px = p.pixel(x, y);
            px[0] = static_cast<std::uint8_t>(rows[y][x]);
            px[1] = 10;
            px[2] = 20;
            px[3] = 255;
        }
    return p;
}

// The client's steps for a rotated cut: an image context of the upright size, scale (1, -1),
// rotate +pi/2, translate (-W, -H), draw the cut into (0, 0, W, H); W x H is the cut's size.
Picture unrotateLikeTheClient(const Picture& cut) {
    const double W = cut.width, H = cut.height;
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(H, W), false, 1.0);
    CGContextRef cg = UIGraphicsGetCurrentContext();
    CGContextScaleCTM(cg, 1, -1);
    CGContextRotateCTM(cg, std::numbers::pi / 2);
    CGContextTranslateCTM(cg, -W, -H);
    CGContextDrawImage(cg, CGRectMake(0, 0, W, H), makeCGImage(cut));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return pictureFromCGImage(image ? image->CGImage() : nullptr);
}

}  // namespace

TEST(SpriteSheetRotation, ThreeByTwoExampleIsStoredAsTwoByThree) {
    Picture turned = rotateClockwise(letters3x2());
    ASSERT_EQ(turned.width, 2);
    ASSERT_EQ(turned.height, 3);
    const char expected[3][2] = {{'D', 'A'}, {'E', 'B'}, {'F', 'C'}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(letterAt(turned, x, y), expected[y][x]) << x << "," << y;
    EXPECT_EQ(rotateCounterClockwise(turned), letters3x2());
}

TEST(SpriteSheetRotation, ClientStepsTurnTheStoredBlockUpright) {
    EXPECT_EQ(unrotateLikeTheClient(rotateClockwise(letters3x2())), letters3x2());
    Picture odd = numbered(5, 3);
    EXPECT_EQ(unrotateLikeTheClient(rotateClockwise(odd)), odd);
}

TEST(SpriteSheetRotation, ClientStepsOnAPackedSheet) {
    // Upright pixel (i, j) of a frame at (x, y) lies at sheet pixel (x + h - 1 - j, y + i).
    Picture canvas(20, 10);
    blit(canvas, numbered(4, 3), 6, 2);
    SpriteSheet packed = packSpriteSheet({{"a", Picture(20, 10), false}, {"b", canvas, true}}, {64, 1, 0});
    const SheetFrame& f = packed.frames[1];
    ASSERT_TRUE(f.rotated);
    EXPECT_EQ(f.frame.w, 4);
    EXPECT_EQ(f.frame.h, 3);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(0, std::memcmp(packed.sheet.pixel(f.frame.x + f.frame.h - 1 - j, f.frame.y + i),
                                     canvas.pixel(6 + i, 2 + j), 4));
    PixelRect r = f.sheetRect();
    EXPECT_EQ(unrotateLikeTheClient(crop(packed.sheet, r)), numbered(4, 3));
}

TEST(SpriteSheetPacking, TrimsToDrawnPixelsAndRecordsTheOffset) {
    Picture canvas(50, 40);
    blit(canvas, numbered(7, 5), 11, 23);
    SpriteSheet packed = packSpriteSheet({{"01.png", canvas, false}});
    ASSERT_EQ(packed.frames.size(), 1u);
    const SheetFrame& f = packed.frames[0];
    EXPECT_EQ(f.spriteSource, (PixelRect{11, 23, 7, 5}));
    EXPECT_EQ(f.frame.w, 7);
    EXPECT_EQ(f.frame.h, 5);
    EXPECT_TRUE(f.trimmed);
    EXPECT_EQ(f.sourceWidth, 50);
    EXPECT_EQ(f.sourceHeight, 40);
    EXPECT_EQ(restoreCanvas(packed.sheet, f), canvas);
}

TEST(SpriteSheetPacking, UntrimmedWhenTheDrawingFillsTheCanvas) {
    SpriteSheet packed = packSpriteSheet({{"01.png", numbered(6, 4), true}});
    EXPECT_FALSE(packed.frames[0].trimmed);
    EXPECT_EQ(packed.sheet.width, 4);
    EXPECT_EQ(packed.sheet.height, 6);
}

TEST(SpriteSheetPacking, EmptyCanvasBecomesOneTransparentPixel) {
    SpriteSheet packed = packSpriteSheet({{"01.png", Picture(30, 20), false}});
    const SheetFrame& f = packed.frames[0];
    EXPECT_EQ(f.frame.w, 1);
    EXPECT_EQ(f.frame.h, 1);
    EXPECT_EQ(packed.sheet.pixel(0, 0)[3], 0);
    EXPECT_EQ(restoreCanvas(packed.sheet, f), Picture(30, 20));
}

TEST(SpriteSheetPacking, NoInputsGiveAOnePixelSheet) {
    SpriteSheet packed = packSpriteSheet({});
    EXPECT_TRUE(packed.frames.empty());
    EXPECT_EQ(packed.sheet.width, 1);
    EXPECT_EQ(packed.sheet.height, 1);
}

TEST(SpriteSheetPacking, ShelvesWrapAndFramesNeverOverlap) {
    std::vector<SheetInput> inputs;
    for (int i = 0; i < 25; ++i) {
        Picture canvas(60, 40);
        blit(canvas, numbered(10 + i % 7 * 5, 5 + i % 4 * 6, static_cast<std::uint8_t>(i)), i % 9, i % 5);
        inputs.push_back({std::to_string(i), canvas, i % 3 == 0});
    }
    SpriteSheet packed = packSpriteSheet(inputs, {100, 2, 0});
    EXPECT_LE(packed.sheet.width, 100);
    std::set<int> rows;
    for (std::size_t a = 0; a < packed.frames.size(); ++a) {
        PixelRect ra = packed.frames[a].sheetRect();
        rows.insert(ra.y);
        EXPECT_GE(ra.x, 0);
        EXPECT_LE(ra.x + ra.w, packed.sheet.width);
        EXPECT_LE(ra.y + ra.h, packed.sheet.height);
        for (std::size_t b = a + 1; b < packed.frames.size(); ++b) {
            PixelRect rb = packed.frames[b].sheetRect();
            bool apart = ra.x + ra.w + 2 <= rb.x || rb.x + rb.w + 2 <= ra.x || ra.y + ra.h + 2 <= rb.y ||
                         rb.y + rb.h + 2 <= ra.y;
            EXPECT_TRUE(apart) << a << " and " << b << " touch or overlap";
        }
        EXPECT_EQ(restoreCanvas(packed.sheet, packed.frames[a]), inputs[a].canvas) << a;
    }
    EXPECT_GT(rows.size(), 3u);
}

TEST(SpriteSheetPacking, AFrameWiderThanTheShelfGetsItsOwnShelf) {
    Picture wide(300, 10), narrow(300, 10);
    blit(wide, numbered(250, 4), 0, 0);
    blit(narrow, numbered(20, 4), 0, 0);
    SpriteSheet packed =
        packSpriteSheet({{"a", narrow, false}, {"b", wide, false}, {"c", narrow, false}}, {100, 1, 0});
    EXPECT_EQ(packed.frames[1].frame.x, 0);
    EXPECT_GT(packed.frames[1].frame.y, packed.frames[0].frame.y);
    EXPECT_GT(packed.frames[2].frame.y, packed.frames[1].frame.y);
    EXPECT_EQ(packed.sheet.width, 250);
}

TEST(SpriteSheetPacking, ExactWidthIsKeptEvenWhenLessIsNeeded) {
    Picture canvas(40, 40);
    blit(canvas, numbered(10, 10), 3, 3);
    SpriteSheet packed = packSpriteSheet({{"a", canvas, false}, {"b", canvas, true}}, {64, 1, 4097});
    EXPECT_EQ(packed.sheet.width, 4097);
    EXPECT_EQ(packed.frames[1].frame.y, 0) << "one shelf as wide as the sheet";
    EXPECT_EQ(packed.sheet.pixel(4096, 0)[3], 0);
}

TEST(SpriteSheetPacking, CutFrameRefusesRectanglesOutsideTheSheet) {
    Picture sheet = numbered(10, 10);
    SheetFrame f;
    f.frame = {8, 8, 4, 4};
    EXPECT_TRUE(cutFrame(sheet, f).empty());
    f.frame = {-1, 0, 2, 2};
    EXPECT_TRUE(cutFrame(sheet, f).empty());
    f.frame = {0, 0, 0, 2};
    EXPECT_TRUE(cutFrame(sheet, f).empty());
    f.frame = {2, 1, 3, 9};
    f.rotated = true;  // 9 wide in the sheet: does not fit
    EXPECT_TRUE(cutFrame(sheet, f).empty());
}

TEST(SpriteSheetTable, EntriesCarryTheClientsKeys) {
    Picture canvas(30, 20);
    blit(canvas, numbered(5, 3), 4, 9);
    SpriteSheet packed = packSpriteSheet({{"01.png", canvas, false}, {"02.png", canvas, true}});
    Dictionary table = packed.frameTable("x_metal.png");
    const Array* frames = table["frames"].array();
    ASSERT_NE(frames, nullptr);
    ASSERT_EQ(frames->count(), 2u);
    const Value& second = (*frames)[1];
    EXPECT_EQ(second["filename"].stringValue(), "02.png");
    EXPECT_TRUE(second["rotated"].number()->isBoolean());
    EXPECT_TRUE(second["rotated"].boolValue());
    EXPECT_TRUE(second["trimmed"].boolValue());
    EXPECT_EQ(second["frame"]["w"].intValue(), 5);
    EXPECT_EQ(second["frame"]["h"].intValue(), 3);
    EXPECT_EQ(second["spriteSourceSize"]["x"].intValue(), 4);
    EXPECT_EQ(second["spriteSourceSize"]["y"].intValue(), 9);
    EXPECT_EQ(second["sourceSize"]["w"].intValue(), 30);
    EXPECT_EQ(second["sourceSize"]["h"].intValue(), 20);
    EXPECT_EQ(table["meta"]["image"].stringValue(), "x_metal.png");
    EXPECT_EQ(table["meta"]["size"]["w"].intValue(), packed.sheet.width);
}
