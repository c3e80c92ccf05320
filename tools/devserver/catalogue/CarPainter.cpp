#include "CarPainter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <vector>

namespace devserver::catalogue {

namespace {

struct V3 {
    double x = 0, y = 0, z = 0;
};

// One flat polygon of a solid; drawn when its normal faces the viewer.
struct Face {
    std::vector<V3> points;
    V3 normal;
    RGB colour;
};

// Faces drawn in order after back-face culling. Solids are convex, or carry decals (faces lying
// on another face of the same solid) after the face they sit on.
struct Solid {
    std::vector<Face> faces;
    V3 centre;
    // Drawn with the clear blend mode: takes away what lies behind it (the body hiding the far
    // side of other parts).
    bool eraser = false;
};

// The solid's extent along each axis (0 x, 1 y, 2 z).
struct Extent {
    double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9};
};

Extent extentOf(const Solid& s) {
    Extent e;
    for (const Face& f : s.faces) {
        for (const V3& p : f.points) {
            const double v[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                e.lo[k] = std::min(e.lo[k], v[k]);
                e.hi[k] = std::max(e.hi[k], v[k]);
            }
        }
    }
    return e;
}

constexpr RGB kGlass{70, 88, 108};
constexpr RGB kDark{46, 48, 54};
constexpr RGB kTyre{38, 38, 42};
constexpr RGB kRim{196, 198, 204};
constexpr RGB kMarkBorder{255, 0, 255};
constexpr RGB kMarkSet{255, 255, 255};
constexpr RGB kMarkClear{0, 0, 0};
constexpr int kMarkWidth = 12, kMarkHeight = 4;

RGB shadeBy(RGB c, double f) {
    auto ch = [f](std::uint8_t v) {
        return static_cast<std::uint8_t>(std::clamp(std::lround(v * f), 0L, 255L));
    };
    return {ch(c.r), ch(c.g), ch(c.b)};
}

// Darker for sportier looks, so two options of one part are told apart at a glance.
RGB variantColour(RGB c, int variant) {
    return shadeBy(c, 1.0 - 0.12 * variant);
}

// A prism: a side profile in the x-z plane (convex, any winding) extruded across y0 ... y1.
// edgeColours[i] colours the face of edge i (profile point i to i + 1); missing ones take `side`.
Solid prism(const std::vector<std::pair<double, double>>& profile, double y0, double y1, RGB caps, RGB side,
            const std::vector<RGB>& edgeColours = {}) {
    Solid s;
    double cx = 0, cz = 0;
    for (auto& [x, z] : profile) {
        cx += x;
        cz += z;
    }
    cx /= profile.size();
    cz /= profile.size();
    s.centre = {cx, (y0 + y1) / 2, cz};
    Face near{{}, {0, -1, 0}, caps}, far{{}, {0, 1, 0}, caps};
    for (auto& [x, z] : profile) {
        near.points.push_back({x, y0, z});
        far.points.push_back({x, y1, z});
    }
    s.faces.push_back(near);
    s.faces.push_back(far);
    for (std::size_t i = 0; i < profile.size(); ++i) {
        auto [ax, az] = profile[i];
        auto [bx, bz] = profile[(i + 1) % profile.size()];
        double nx = bz - az, nz = -(bx - ax);
        double mx = (ax + bx) / 2 - cx, mz = (az + bz) / 2 - cz;
        if (nx * mx + nz * mz < 0) {
            nx = -nx;
            nz = -nz;
        }
        double len = std::hypot(nx, nz);
        if (len == 0) continue;
        Face f{{{ax, y0, az}, {bx, y0, bz}, {bx, y1, bz}, {ax, y1, az}},
               {nx / len, 0, nz / len},
               i < edgeColours.size() ? edgeColours[i] : side};
        s.faces.push_back(f);
    }
    return s;
}

Solid box(double x0, double x1, double y0, double y1, double z0, double z1, RGB colour) {
    return prism({{x0, z0}, {x1, z0}, {x1, z1}, {x0, z1}}, y0, y1, colour, colour);
}

// A flat quad decal on the plane y = y (normal along ±y), given in x-z.
Face sideDecal(double y, double sign, std::vector<std::pair<double, double>> xz, RGB colour) {
    Face f{{}, {0, sign, 0}, colour};
    for (auto& [x, z] : xz) f.points.push_back({x, y, z});
    return f;
}

Face frontDecal(double x, double sign, double y0, double y1, double z0, double z1, RGB colour) {
    return {{{x, y0, z0}, {x, y1, z0}, {x, y1, z1}, {x, y0, z1}}, {sign, 0, 0}, colour};
}

Face topDecal(double z, double x0, double x1, double y0, double y1, RGB colour) {
    return {{{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}}, {0, 0, 1}, colour};
}

class Camera {
  public:
    Camera(int angle, int width, int height) {
        const double theta = -std::numbers::pi / 4 + (angle - 1) * 2 * std::numbers::pi / kAngleCount;
        cosT_ = std::cos(theta);
        sinT_ = std::sin(theta);
        const double elevation = 20.0 * std::numbers::pi / 180;
        cosE_ = std::cos(elevation);
        sinE_ = std::sin(elevation);
        scale_ = width * 0.14;
        cx_ = width / 2.0;
        cy_ = height * 0.66;
    }
    // Canvas point, top-left origin.
    CGPoint project(const V3& p) const {
        double xr = p.x * cosT_ - p.y * sinT_;
        double yr = p.x * sinT_ + p.y * cosT_;
        return {cx_ + scale_ * xr, cy_ - scale_ * (p.z * cosE_ + yr * sinE_)};
    }
    // Distance along the line of sight; larger is farther.
    double depth(const V3& p) const {
        double yr = p.x * sinT_ + p.y * cosT_;
        return yr * cosE_ - p.z * sinE_;
    }
    // Towards the viewer, in car space.
    V3 viewer() const { return {-cosE_ * sinT_, -cosE_ * cosT_, sinE_}; }
    V3 turn(const V3& n) const { return {n.x * cosT_ - n.y * sinT_, n.x * sinT_ + n.y * cosT_, n.z}; }
    bool faces(const V3& normal) const {
        V3 n = turn(normal);
        return -n.y * cosE_ + n.z * sinE_ > 1e-6;
    }
    RGB lit(RGB c, const V3& normal) const {
        V3 n = turn(normal);
        // Light from above, over the viewer's left shoulder.
        const double lx = -0.35, ly = -0.55, lz = 0.76, ll = std::sqrt(lx * lx + ly * ly + lz * lz);
        double l = std::max(0.0, (n.x * lx + n.y * ly + n.z * lz) / ll);
        return shadeBy(c, 0.55 + 0.45 * l);
    }

  private:
    double cosT_, sinT_, cosE_, sinE_, scale_, cx_, cy_;
};

// ---- the parts -------------------------------------------------------------------------------

void addBody(const CarShape& c, int variant, std::vector<Solid>& out) {
    const double front = c.length / 2 - c.frontOverhang, rear = -c.length / 2 + c.rearOverhang;
    const double halfW = c.width / 2 - 0.08;
    RGB paint = variantColour(c.paint, variant);
    Solid lower = prism({{rear, c.clearance},
                         {front, c.clearance},
                         {front, c.beltline - 0.08},
                         {front - 0.12, c.beltline},
                         {rear, c.beltline}},
                        -halfW, halfW, paint, paint);
    const double cabinW = c.width / 2 - 0.2;
    Solid cabin = prism(
        {{c.cabinRear, c.beltline}, {c.cabinFront, c.beltline}, {c.roofFront, c.roof}, {c.roofRear, c.roof}},
        -cabinW, cabinW, kGlass, paint, {paint, kGlass, paint, kGlass});
    // Door pillars over the side windows.
    const double mid = (c.roofFront + c.roofRear) / 2;
    for (double sign : {-1.0, 1.0}) {
        double y = sign * (cabinW + 0.001);
        cabin.faces.push_back(sideDecal(
            y, sign,
            {{mid - 0.05, c.beltline}, {mid + 0.05, c.beltline}, {mid + 0.05, c.roof}, {mid - 0.05, c.roof}},
            paint));
    }
    out.push_back(cabin);
    // Door seams and handles on the lower body.
    for (double sign : {-1.0, 1.0}) {
        double y = sign * (halfW + 0.002);
        lower.faces.push_back(sideDecal(y, sign,
                                        {{mid - 0.01, c.clearance + 0.1},
                                         {mid + 0.01, c.clearance + 0.1},
                                         {mid + 0.01, c.beltline - 0.05},
                                         {mid - 0.01, c.beltline - 0.05}},
                                        kDark));
        for (double hx : {mid + 0.25, mid - 0.45})
            lower.faces.push_back(sideDecal(y, sign,
                                            {{hx, c.beltline - 0.14},
                                             {hx + 0.16, c.beltline - 0.14},
                                             {hx + 0.16, c.beltline - 0.1},
                                             {hx, c.beltline - 0.1}},
                                            kDark));
    }
    out.push_back(lower);
}

void addFrontBumper(const CarShape& c, int variant, std::vector<Solid>& out) {
    const RGB colour = variantColour({240, 188, 120}, variant);
    const double x0 = c.length / 2 - c.frontOverhang, x1 = c.length / 2, halfW = c.width / 2 - 0.06;
    const double z0 = c.clearance - 0.03, z1 = c.beltline - 0.1;
    Solid main = box(x0, x1, -halfW, halfW, z0, z1, colour);
    // Grille and lamps on the front face.
    main.faces.push_back(frontDecal(x1 + 0.001, 1, -0.4, 0.4, z0 + 0.12, z1 - 0.12, kDark));
    for (double sign : {-1.0, 1.0})
        main.faces.push_back(frontDecal(x1 + 0.001, 1, sign * (halfW - 0.3), sign * (halfW - 0.08), z1 - 0.1,
                                        z1 - 0.03, {250, 250, 220}));
    if (variant == 2)
        for (double sign : {-1.0, 1.0})
            main.faces.push_back(
                frontDecal(x1 + 0.001, 1, sign * 0.5, sign * 0.78, z0 + 0.03, z0 + 0.12, kDark));
    out.push_back(main);
    if (variant >= 1)
        out.push_back(box(x1 - 0.12, x1 + 0.07, -halfW - 0.03, halfW + 0.03, z0 - 0.06, z0, kDark));
    if (variant == 2)
        for (double sign : {-1.0, 1.0})
            out.push_back(box(x1, x1 + 0.12, sign * (halfW - 0.02) - 0.12, sign * (halfW - 0.02) + 0.12,
                              z0 + 0.14, z0 + 0.17, kDark));
}

void addRearBumper(const CarShape& c, int variant, std::vector<Solid>& out) {
    const RGB colour = variantColour({198, 168, 232}, variant);
    const double x0 = -c.length / 2, x1 = -c.length / 2 + c.rearOverhang, halfW = c.width / 2 - 0.06;
    const double z0 = c.clearance - 0.03, z1 = c.beltline - 0.12;
    Solid main = box(x0, x1, -halfW, halfW, z0, z1, colour);
    main.faces.push_back(frontDecal(x0 - 0.001, -1, -0.26, 0.26, z0 + 0.12, z0 + 0.26, {236, 236, 236}));
    for (double sign : {-1.0, 1.0})
        main.faces.push_back(frontDecal(x0 - 0.001, -1, sign * (halfW - 0.28), sign * (halfW - 0.05),
                                        z1 - 0.1, z1 - 0.02, {210, 30, 40}));
    out.push_back(main);
    if (variant >= 1)
        for (double y : {-0.45, -0.15, 0.15, 0.45})
            out.push_back(box(x0 - 0.06, x0 + 0.12, y - 0.015, y + 0.015, z0 - 0.1, z0, kDark));
}

void addSideSkirts(const CarShape& c, int variant, std::vector<Solid>& out) {
    const RGB colour = variantColour({168, 220, 160}, variant);
    const double x0 = -c.axle + c.wheelRadius + 0.06, x1 = c.axle - c.wheelRadius - 0.06;
    const double inner = c.width / 2 - 0.08, outer = c.width / 2 + 0.02 + 0.05 * variant;
    const double z0 = c.clearance - 0.04 - 0.04 * variant, z1 = c.clearance + 0.1;
    out.push_back(box(x0, x1, inner, outer, z0, z1, colour));
    out.push_back(box(x0, x1, -outer, -inner, z0, z1, colour));
}

void addHood(const CarShape& c, int variant, std::vector<Solid>& out) {
    const bool carbon = variant == 2;
    const RGB colour = carbon ? RGB{64, 66, 72} : variantColour({240, 228, 140}, variant);
    const double x0 = c.cabinFront + 0.04, x1 = c.length / 2 - c.frontOverhang - 0.02,
                 halfW = c.width / 2 - 0.14;
    const double z0 = c.beltline, z1 = c.beltline + 0.04;
    Solid hood = box(x0, x1, -halfW, halfW, z0, z1, colour);
    if (variant == 1)
        for (double y : {-0.35, 0.2})
            hood.faces.push_back(topDecal(z1 + 0.001, x0 + 0.25, x0 + 0.6, y, y + 0.15, kDark));
    if (carbon)
        for (double y = -halfW + 0.1; y < halfW - 0.05; y += 0.2)
            hood.faces.push_back(topDecal(z1 + 0.001, x0 + 0.02, x1 - 0.02, y, y + 0.06, {96, 98, 106}));
    out.push_back(hood);
}

void addFenders(const CarShape& c, int variant, std::vector<Solid>& out) {
    const RGB colour = variantColour({150, 214, 226}, variant);
    const double R = c.wheelRadius, top = std::min(2 * R + 0.04, c.beltline - 0.1);
    const double inner = c.width / 2 - 0.08, outer = c.width / 2 + 0.02 + 0.07 * variant;
    for (double wx : {-c.axle, c.axle}) {
        for (double sign : {-1.0, 1.0}) {
            double y0 = sign > 0 ? inner : -outer, y1 = sign > 0 ? outer : -inner;
            out.push_back(box(wx - R - 0.1, wx + R + 0.1, y0, y1, top, c.beltline - 0.06, colour));
            out.push_back(box(wx + R + 0.02, wx + R + 0.1, y0, y1, R, top, colour));
            out.push_back(box(wx - R - 0.1, wx - R - 0.02, y0, y1, R, top, colour));
        }
    }
}

std::vector<std::pair<double, double>> circle(double cx, double cz, double r, int sides, double phase = 0) {
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < sides; ++i) {
        double a = phase + 2 * std::numbers::pi * i / sides;
        pts.push_back({cx + r * std::cos(a), cz + r * std::sin(a)});
    }
    return pts;
}

void addWheels(const CarShape& c, int variant, bool attach, std::vector<Solid>& out) {
    const double R = c.wheelRadius;
    const int spokes = variant == 0 ? 5 : variant == 1 ? 7 : 10;
    const RGB rim = variantColour(kRim, variant);
    for (double wx : {-c.axle, c.axle}) {
        for (double sign : {-1.0, 1.0}) {
            const double outerY = sign * (c.width / 2 + 0.06), innerY = sign * (c.width / 2 - 0.08);
            if (attach) {
                // Brake callipers, seen through the spokes at the top front of the rim.
                Solid calliper;
                calliper.centre = {wx, outerY, R};
                std::vector<std::pair<double, double>> pad;
                for (int i = 0; i <= 4; ++i) {
                    double a = std::numbers::pi * (0.15 + 0.1 * i);
                    pad.push_back({wx + 0.62 * R * std::cos(a), R + 0.62 * R * std::sin(a)});
                }
                for (int i = 4; i >= 0; --i) {
                    double a = std::numbers::pi * (0.15 + 0.1 * i);
                    pad.push_back({wx + 0.42 * R * std::cos(a), R + 0.42 * R * std::sin(a)});
                }
                calliper.faces.push_back(sideDecal(outerY + sign * 0.003, sign, pad, {220, 40, 30}));
                out.push_back(calliper);
                continue;
            }
            Solid wheel =
                prism(circle(wx, R, R, 20), std::min(innerY, outerY), std::max(innerY, outerY), kTyre, kTyre);
            wheel.faces.push_back(sideDecal(outerY + sign * 0.001, sign, circle(wx, R, 0.72 * R, 20), rim));
            for (int i = 0; i < spokes; ++i) {
                double a = 2 * std::numbers::pi * i / spokes + 0.3;
                double ca = std::cos(a), sa = std::sin(a), w = 0.035;
                wheel.faces.push_back(sideDecal(outerY + sign * 0.002, sign,
                                                {{wx - sa * w, R + ca * w},
                                                 {wx + ca * 0.66 * R - sa * w, R + sa * 0.66 * R + ca * w},
                                                 {wx + ca * 0.66 * R + sa * w, R + sa * 0.66 * R - ca * w},
                                                 {wx + sa * w, R - ca * w}},
                                                kDark));
            }
            wheel.faces.push_back(sideDecal(outerY + sign * 0.003, sign, circle(wx, R, 0.14 * R, 8), rim));
            out.push_back(wheel);
        }
    }
}

void addSpoiler(const CarShape& c, int variant, bool attach, std::vector<Solid>& out) {
    if (variant == 0) return;
    const RGB colour = variantColour({236, 160, 182}, variant - 1);
    const double halfW = c.width / 2 - 0.12;
    // On the boot lid when the cabin leaves room for it, otherwise at the back of the roof.
    const bool onRoof = c.cabinRear < -c.length / 2 + c.rearOverhang + 0.5;
    const double deck = onRoof ? c.roof : c.beltline;
    const double back = onRoof ? c.roofRear : -c.length / 2 + c.rearOverhang;
    if (variant == 1) {
        out.push_back(
            prism({{back, deck}, {back + 0.42, deck}, {back, deck + 0.1}}, -halfW, halfW, colour, colour));
        return;
    }
    const double x0 = back - 0.15, x1 = back + 0.25, rise = onRoof ? 0.14 : 0.3, z = deck + rise;
    if (attach) {
        for (double y : {-0.45, 0.45})
            out.push_back(box(back - 0.02, back + 0.06, y - 0.03, y + 0.03, deck, z, kDark));
        return;
    }
    const double wing = c.width / 2 - 0.04;
    out.push_back(box(x0, x1, -wing + 0.03, wing - 0.03, z, z + 0.04, colour));
    for (double sign : {-1.0, 1.0})
        out.push_back(box(x0 - 0.02, x1 + 0.02, sign > 0 ? wing - 0.03 : -wing,
                          sign > 0 ? wing : -wing + 0.03, z - 0.08, z + 0.08, shadeBy(colour, 0.8)));
}

// The order to draw solids in, farthest first. Two solids whose extents are apart along an axis
// have a plane between them, and the one on the viewer's side of it is drawn later; solids that
// overlap on every axis (or a cycle) fall back to the depth of their centres.
std::vector<std::size_t> paintersOrder(const std::vector<Solid>& solids, const Camera& camera) {
    const std::size_t n = solids.size();
    std::vector<Extent> extents;
    for (const Solid& s : solids) extents.push_back(extentOf(s));
    const V3 viewer = camera.viewer();
    const double toward[3] = {viewer.x, viewer.y, viewer.z};
    // before[i][j]: i must be drawn before j.
    std::vector<std::vector<bool>> before(n, std::vector<bool>(n, false));
    // Decals stand a few millimetres off their faces; that still counts as touching.
    constexpr double eps = 0.01;
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            for (int k : {2, 0, 1}) {
                if (std::fabs(toward[k]) < 1e-6) continue;
                bool iLow = extents[i].hi[k] <= extents[j].lo[k] + eps;
                bool jLow = extents[j].hi[k] <= extents[i].lo[k] + eps;
                if (iLow == jLow) continue;
                // The solid on the low side is farther when the viewer looks from the high side.
                bool iFirst = iLow == (toward[k] > 0);
                (iFirst ? before[i][j] : before[j][i]) = true;
                break;
            }
        }
    }
    std::vector<std::size_t> order;
    std::vector<bool> done(n, false);
    for (std::size_t step = 0; step < n; ++step) {
        std::size_t pick = n;
        bool pickFree = false;
        for (std::size_t c = 0; c < n; ++c) {
            if (done[c]) continue;
            bool free = true;
            for (std::size_t p = 0; p < n && free; ++p) free = done[p] || !before[p][c];
            bool better =
                pick == n || (free && !pickFree) ||
                (free == pickFree && camera.depth(solids[c].centre) > camera.depth(solids[pick].centre));
            if (better) {
                pick = c;
                pickFree = free;
            }
        }
        done[pick] = true;
        order.push_back(pick);
    }
    return order;
}

void fillPolygon(const CGContextRef& cg, const std::vector<CGPoint>& pts, RGB colour) {
    CGContextSetRGBFillColor(cg, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0, 1);
    CGContextBeginPath(cg);
    CGContextMoveToPoint(cg, pts[0].x, pts[0].y);
    for (std::size_t i = 1; i < pts.size(); ++i) CGContextAddLineToPoint(cg, pts[i].x, pts[i].y);
    CGContextClosePath(cg);
    CGContextFillPath(cg);
}

void fillRect(const CGContextRef& cg, int x, int y, int w, int h, RGB colour) {
    CGContextSetRGBFillColor(cg, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0, 1);
    CGContextFillRect(cg, CGRectMake(x, y, w, h));
}

}  // namespace

std::string angleFrameName(int angle) {
    char name[16];
    std::snprintf(name, sizeof name, "%02d.png", angle);
    return name;
}

bool lookHasAttach(const PartLook& look) {
    return (look.kind == PartKind::Wheels && look.variant == 1) ||
           (look.kind == PartKind::Spoiler && look.variant == 2);
}

CarPainter::CarPainter(int canvasWidth, int canvasHeight)
    : width_(std::max(canvasWidth, 1)), height_(std::max(canvasHeight, 1)) {
    context_ = CGBitmapContextCreate(nullptr, width_, height_, 8, width_ * 4, CGColorSpaceCreateDeviceRGB(),
                                     kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
    // A top-left user space, one unit per pixel.
    CGContextTranslateCTM(context_, 0, height_);
    CGContextScaleCTM(context_, 1, -1);
    CGContextSetShouldAntialias(context_, false);
}

Picture CarPainter::draw(const CarShape& car, const PartLook& look, int angle) {
    if (angle < 1 || angle > kAngleCount || !context_) return {};
    std::memset(CGBitmapContextGetData(context_), 0, static_cast<std::size_t>(width_) * height_ * 4);
    Camera camera(angle, width_, height_);

    std::vector<Solid> solids;
    switch (look.kind) {
        case PartKind::Body:
            addBody(car, look.variant, solids);
            break;
        case PartKind::Wheels:
            addWheels(car, look.variant, look.attach, solids);
            break;
        case PartKind::FrontBumper:
            addFrontBumper(car, look.variant, solids);
            break;
        case PartKind::RearBumper:
            addRearBumper(car, look.variant, solids);
            break;
        case PartKind::SideSkirts:
            addSideSkirts(car, look.variant, solids);
            break;
        case PartKind::Hood:
            addHood(car, look.variant, solids);
            break;
        case PartKind::Fenders:
            addFenders(car, look.variant, solids);
            break;
        case PartKind::Spoiler:
            addSpoiler(car, look.variant, look.attach, solids);
            break;
    }
    if (look.kind != PartKind::Body) {
        // Every other part is drawn over the body in the studio, so the body takes away what it
        // hides: the far-side wheels, the front bumper seen from behind.
        std::vector<Solid> body;
        addBody(car, 0, body);
        // The parts low on the car's sides sit above the bumpers too.
        if (look.kind == PartKind::Wheels || look.kind == PartKind::Fenders ||
            look.kind == PartKind::SideSkirts) {
            addFrontBumper(car, 0, body);
            addRearBumper(car, 0, body);
        }
        for (Solid& s : body) s.eraser = true;
        solids.insert(solids.end(), body.begin(), body.end());
    }

    double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
    std::vector<CGPoint> pts;
    for (std::size_t index : paintersOrder(solids, camera)) {
        const Solid& solid = solids[index];
        CGContextSetBlendMode(context_, solid.eraser ? kCGBlendModeClear : kCGBlendModeNormal);
        for (const Face& face : solid.faces) {
            if (face.points.size() < 3 || !camera.faces(face.normal)) continue;
            pts.clear();
            for (const V3& p : face.points) {
                CGPoint q = camera.project(p);
                pts.push_back(q);
                if (solid.eraser) continue;
                minX = std::min(minX, q.x);
                maxX = std::max(maxX, q.x);
                minY = std::min(minY, q.y);
                maxY = std::max(maxY, q.y);
            }
            fillPolygon(context_, pts, camera.lit(face.colour, face.normal));
        }
    }
    CGContextSetBlendMode(context_, kCGBlendModeNormal);

    // The angle's barcode in the middle of what was drawn (or of the canvas when nothing was).
    int mx = minX <= maxX ? static_cast<int>(std::lround((minX + maxX) / 2)) : width_ / 2;
    int my = minY <= maxY ? static_cast<int>(std::lround((minY + maxY) / 2)) : height_ / 2;
    mx = std::clamp(mx - kMarkWidth / 2, 0, width_ - kMarkWidth);
    my = std::clamp(my - kMarkHeight / 2, 0, height_ - kMarkHeight);
    fillRect(context_, mx, my, kMarkWidth, kMarkHeight, kMarkBorder);
    for (int bit = 0; bit < 5; ++bit) {
        bool set = (angle >> (4 - bit)) & 1;
        fillRect(context_, mx + 1 + 2 * bit, my + 1, 2, 2, set ? kMarkSet : kMarkClear);
    }

    // The context holds premultiplied BGRA; with every alpha 0 or 255 that is the straight colour.
    Picture out(width_, height_);
    const auto* src = static_cast<const std::uint8_t*>(CGBitmapContextGetData(context_));
    const std::size_t stride = CGBitmapContextGetBytesPerRow(context_);
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* s = src + y * stride;
        std::uint8_t* d = out.pixel(0, y);
        for (int x = 0; x < width_; ++x, s += 4, d += 4) {
            if (s[3] == 0) continue;
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
            d[3] = s[3];
        }
    }
    return out;
}

int readAngleMark(const Picture& p) {
    auto is = [&](int x, int y, RGB c) {
        const std::uint8_t* px = p.pixel(x, y);
        return px[3] == 255 && px[0] == c.r && px[1] == c.g && px[2] == c.b;
    };
    for (int y = 0; y + kMarkHeight <= p.height; ++y) {
        for (int x = 0; x + kMarkWidth <= p.width; ++x) {
            if (!is(x, y, kMarkBorder)) continue;
            bool frame = true;
            for (int i = 0; i < kMarkWidth && frame; ++i)
                frame = is(x + i, y, kMarkBorder) && is(x + i, y + kMarkHeight - 1, kMarkBorder);
            for (int j = 0; j < kMarkHeight && frame; ++j)
                frame = is(x, y + j, kMarkBorder) && is(x + kMarkWidth - 1, y + j, kMarkBorder);
            if (!frame) continue;
            int value = 0;
            bool cells = true;
            for (int bit = 0; bit < 5 && cells; ++bit) {
                bool set = is(x + 1 + 2 * bit, y + 1, kMarkSet);
                RGB want = set ? kMarkSet : kMarkClear;
                for (int dy = 0; dy < 2 && cells; ++dy)
                    for (int dx = 0; dx < 2 && cells; ++dx)
                        cells = is(x + 1 + 2 * bit + dx, y + 1 + dy, want);
                value = value * 2 + (set ? 1 : 0);
            }
            if (cells) return value;
        }
    }
    return 0;
}

Picture fitPicture(const Picture& picture, int width, int height, RGB background, int margin) {
    Picture out(width, height);
    for (std::size_t i = 0; i < out.rgba.size(); i += 4) {
        out.rgba[i] = background.r;
        out.rgba[i + 1] = background.g;
        out.rgba[i + 2] = background.b;
        out.rgba[i + 3] = 255;
    }
    PixelRect bounds = opaqueBounds(picture);
    if (bounds.empty() || width <= 2 * margin || height <= 2 * margin) return out;
    Picture part = crop(picture, bounds);
    CGImageRef image = makeCGImage(part);
    CGImageRef base = makeCGImage(out);
    CGContextRef cg =
        CGBitmapContextCreate(nullptr, width, height, 8, width * 4, CGColorSpaceCreateDeviceRGB(),
                              kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    if (!cg || !image || !base) return out;
    CGContextDrawImage(cg, CGRectMake(0, 0, width, height), base);
    double scale =
        std::min(double(width - 2 * margin) / part.width, double(height - 2 * margin) / part.height);
    double w = part.width * scale, h = part.height * scale;
    CGContextSetInterpolationQuality(cg, kCGInterpolationHigh);
    CGContextDrawImage(cg, CGRectMake((width - w) / 2, (height - h) / 2, w, h), image);
    return pictureFromCGImage(CGBitmapContextCreateImage(cg));
}

}  // namespace devserver::catalogue
