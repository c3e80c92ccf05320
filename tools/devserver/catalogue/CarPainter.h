#pragma once
// CarPainter: draws the sample cars, one part at a time, seen from any of the 25 view angles.
//
// A car is a handful of boxes and prisms in car space (x forward, y to the left, z up, in metres),
// turned about the vertical axis and projected onto the canvas from slightly above. Angle 1 shows
// the front three-quarters; each following angle turns the car by 1/25 of a full turn. Every part
// has its own hue (bodywork takes the car's colour), faces are shaded by their facing so the shape
// reads, and a small five-cell barcode of the angle number sits in the middle of every drawing so
// that a slice can be identified by eye or by a test.
//
// Drawing is done with the platform's bitmap contexts, anti-aliasing off: every pixel is either
// untouched (transparent) or fully opaque, so the pictures survive PNG and premultiplication
// exactly. A painter owns one context and is not shared between threads; its results depend
// only on the arguments.

#include <cstdint>
#include <string>

#include "Picture.h"
#include "graphics/CGContext.h"

namespace devserver::catalogue {

struct RGB {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const RGB&) const = default;
};

// The parts a sample car is made of; each maps to one part of the description.
enum class PartKind { Body, Wheels, FrontBumper, RearBumper, SideSkirts, Hood, Fenders, Spoiler };

// The proportions of one car (metres) and its paint.
struct CarShape {
    double length = 4.6, width = 1.9;
    double clearance = 0.22;  // underside of the body
    double beltline = 0.82;   // top of the lower body
    double roof = 1.28;
    double wheelRadius = 0.34;
    double axle = 1.42;                               // distance of each axle from the middle
    double frontOverhang = 0.3, rearOverhang = 0.25;  // bumper depths
    // The cabin's side profile: x at the bottom rear, bottom front, top front and top rear.
    double cabinRear = -1.35, cabinFront = 0.75, roofFront = 0.25, roofRear = -1.0;
    RGB paint{205, 212, 228};
};

// What to draw: a part, its option's look (0 is the stock look; higher numbers are the sportier
// ones) and whether it is the option's second layer (brake callipers, wing posts).
struct PartLook {
    PartKind kind = PartKind::Body;
    int variant = 0;
    bool attach = false;
};

// The view angles, 1 ... kAngleCount; the frame names are two digits and ".png".
inline constexpr int kAngleCount = 25;
std::string angleFrameName(int angle);

// Whether a look has a second layer.
bool lookHasAttach(const PartLook& look);

class CarPainter {
  public:
    CarPainter(int canvasWidth, int canvasHeight);

    int canvasWidth() const { return width_; }
    int canvasHeight() const { return height_; }

    // The part at the angle on a transparent canvas of the painter's size. An angle outside
    // 1 ... 25 gives an empty picture.
    Picture draw(const CarShape& car, const PartLook& look, int angle);

  private:
    int width_, height_;
    CGContextRef context_;
};

// The angle's barcode alone, for checks: five cells, most significant bit first, set bits white.
// Answers the angle read from a drawing's mark, or 0 when no mark is found.
int readAngleMark(const Picture& picture);

// `picture` scaled to fit inside (width, height) with a margin, centred on an opaque background.
Picture fitPicture(const Picture& picture, int width, int height, RGB background, int margin = 4);

}  // namespace devserver::catalogue
