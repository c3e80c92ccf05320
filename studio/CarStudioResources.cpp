#include "studio/CarStudioResources.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "app/StandInArtwork.h"
#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"
#include "studio/TuningDetailViewController.h"

namespace CarStudioResources {

namespace {

bool writePNG(const Ref<UIImage>& image, const std::string& path) {
    if (!image) return false;
    auto data = UIImagePNGRepresentation(image);
    return data && data->writeToFile(path, true);
}

// Hue (0..1) to RGB at full saturation and value.
void hueToRGB(double hue, double& r, double& g, double& b) {
    const double h = hue * 6;
    const double x = 1 - std::fabs(std::fmod(h, 2) - 1);
    switch (static_cast<int>(h) % 6) {
        case 0:
            r = 1, g = x, b = 0;
            break;
        case 1:
            r = x, g = 1, b = 0;
            break;
        case 2:
            r = 0, g = 1, b = x;
            break;
        case 3:
            r = 0, g = x, b = 1;
            break;
        case 4:
            r = x, g = 0, b = 1;
            break;
        default:
            r = 1, g = 0, b = x;
            break;
    }
}

}  // namespace

const std::vector<std::string>& partSelectors() {
    static const std::vector<std::string> selectors = {"lunke",      "qianbaowei", "houbaowei", "cequn",
                                                       "yinqinggai", "yeziban",    "weiyi",     "cheshen"};
    return selectors;
}

Ref<UIImage> drawColorWheel(int side, int scale) {
    if (side <= 0 || scale <= 0 || side > 4096 || scale > 4) return nullptr;
    const int pixelsWide = side * scale;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(pixelsWide) * pixelsWide * 4, 0);
    const double radius = pixelsWide / 2.0;
    for (int row = 0; row < pixelsWide; ++row) {
        for (int column = 0; column < pixelsWide; ++column) {
            const double dx = column + 0.5 - radius, dy = row + 0.5 - radius;
            const double fromCentre = std::sqrt(dx * dx + dy * dy);
            // The share of the pixel inside the circle, so that the rim is smooth, not stepped.
            const double cover = std::clamp(radius - fromCentre + 0.5, 0.0, 1.0);
            if (cover <= 0) continue;
            const double distance = std::min(1.0, fromCentre / radius);
            double hue = std::atan2(dy, dx) / (2 * M_PI);
            if (hue < 0) hue += 1;
            double r, g, b;
            hueToRGB(hue, r, g, b);
            // White towards the centre.
            r = 1 - (1 - r) * distance, g = 1 - (1 - g) * distance, b = 1 - (1 - b) * distance;
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(row) * pixelsWide + column) * 4];
            p[0] = static_cast<std::uint8_t>(std::lround(r * cover * 255));
            p[1] = static_cast<std::uint8_t>(std::lround(g * cover * 255));
            p[2] = static_cast<std::uint8_t>(std::lround(b * cover * 255));
            p[3] = static_cast<std::uint8_t>(std::lround(cover * 255));
        }
    }
    CGContextRef context = CGBitmapContextCreate(pixels.data(), pixelsWide, pixelsWide, 8, pixelsWide * 4,
                                                 CGColorSpaceCreateDeviceRGB(),
                                                 kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    if (!context) return nullptr;
    return UIImage::imageWithCGImage(CGBitmapContextCreateImage(context), scale);
}

namespace {

// The studio's button look: a dark disc with a grey rim that reads on the dark showcase; pressed
// or selected, the disc turns the studio's red with a thick white rim.
constexpr double kDiscGrey[3] = {40 / 255.0, 44 / 255.0, 52 / 255.0};
constexpr double kPressedRed[3] = {0.78, 0.16, 0.13};
// The part a button stands for, picked out in the drawing of the car.
constexpr double kPartAmber[3] = {1.0, 0.78, 0.22};
// The pictures are drawn at twice their size in points and written as "@2x" files, which
// UIImage::imageNamed prefers, so they stay sharp on the 2x screens.
constexpr double kArtworkScale = 2;

Ref<UIImage> drawAt2x(CGSize size, const std::function<void(CGContextRef)>& paint) {
    return StandInArtwork::drawImage(size, kArtworkScale, paint);
}

void drawDisc(CGContextRef c, double side, bool pressed) {
    const double* fill = pressed ? kPressedRed : kDiscGrey;
    CGContextSetRGBFillColor(c, fill[0], fill[1], fill[2], pressed ? 1.0 : 0.92);
    CGContextFillEllipseInRect(c, CGRectMake(1, 1, side - 2, side - 2));
    const double rim = pressed ? 3 : 1.5;
    if (pressed)
        CGContextSetRGBStrokeColor(c, 1, 1, 1, 1);
    else
        CGContextSetGrayStrokeColor(c, 0.6, 1);
    CGContextSetLineWidth(c, rim);
    CGContextStrokeEllipseInRect(c, CGRectMake(1 + rim / 2, 1 + rim / 2, side - 2 - rim, side - 2 - rim));
}

// A car seen from the side, nose to the left, in `box`; the part of `selector` (or, for the
// presets, the whole outline) in amber over the outline.
void drawCar(CGContextRef c, CGRect box, const std::string& selector, bool pressed) {
    auto at = [&](double x, double y) {
        return CGPointMake(box.origin.x + x * box.size.width, box.origin.y + y * box.size.height);
    };
    auto polyline = [&](std::initializer_list<std::pair<double, double>> points) {
        CGContextBeginPath(c);
        bool first = true;
        for (const auto& [x, y] : points) {
            CGPoint p = at(x, y);
            if (first)
                CGContextMoveToPoint(c, p.x, p.y);
            else
                CGContextAddLineToPoint(c, p.x, p.y);
            first = false;
        }
    };
    const double wheelRadius = 0.17 * box.size.height / box.size.width;  // in widths
    auto wheel = [&](double x) {
        CGPoint centre = at(x, 0.78);
        double r = wheelRadius * box.size.width;
        return CGRectMake(centre.x - r, centre.y - r, 2 * r, 2 * r);
    };
    auto body = [&] {
        polyline({{0.02, 0.75},
                  {0.02, 0.52},
                  {0.32, 0.42},
                  {0.45, 0.1},
                  {0.7, 0.1},
                  {0.86, 0.4},
                  {0.98, 0.43},
                  {0.98, 0.75}});
        CGContextClosePath(c);
    };
    const double line = box.size.width / 22;
    CGContextSetLineCap(c, kCGLineCapRound);
    CGContextSetLineJoin(c, kCGLineJoinRound);
    const double outline = pressed ? 1.0 : 0.8;
    if (selector == "cheshen") {
        CGContextSetRGBFillColor(c, kPartAmber[0], kPartAmber[1], kPartAmber[2], 1);
        body();
        CGContextFillPath(c);
    }
    CGContextSetGrayStrokeColor(c, outline, 1);
    CGContextSetLineWidth(c, line);
    body();
    CGContextStrokePath(c);
    // Wheels: filled with the disc's colour so the body line does not run through them.
    const double* under = pressed ? kPressedRed : kDiscGrey;
    for (double x : {0.22, 0.78}) {
        if (selector == "lunke")
            CGContextSetRGBFillColor(c, kPartAmber[0], kPartAmber[1], kPartAmber[2], 1);
        else
            CGContextSetRGBFillColor(c, under[0], under[1], under[2], 1);
        CGContextFillEllipseInRect(c, wheel(x));
        CGContextStrokeEllipseInRect(c, wheel(x));
    }

    CGContextSetRGBStrokeColor(c, kPartAmber[0], kPartAmber[1], kPartAmber[2], 1);
    CGContextSetLineWidth(c, line * 2);
    if (selector == "qianbaowei") {
        polyline({{0.1, 0.5}, {0.02, 0.53}, {0.02, 0.74}, {0.1, 0.74}});
    } else if (selector == "houbaowei") {
        polyline({{0.9, 0.42}, {0.98, 0.44}, {0.98, 0.74}, {0.9, 0.74}});
    } else if (selector == "yinqinggai") {
        polyline({{0.06, 0.51}, {0.31, 0.43}});
    } else if (selector == "cequn") {
        polyline({{0.38, 0.76}, {0.62, 0.76}});
    } else if (selector == "weiyi") {
        polyline({{0.78, 0.26}, {0.99, 0.26}});
        CGContextStrokePath(c);
        CGContextSetLineWidth(c, line);
        polyline({{0.9, 0.26}, {0.9, 0.41}});
    } else if (selector == "yeziban") {
        CGPoint centre = at(0.22, 0.78);
        double r = wheelRadius * box.size.width + line * 1.6;
        CGContextBeginPath(c);
        CGContextAddArc(c, centre.x, centre.y, r, M_PI * 1.1, M_PI * 1.9, false);
    } else if (selector.empty()) {
        CGContextSetLineWidth(c, line * 1.4);
        body();
    }
    if (!CGContextIsPathEmpty(c)) CGContextStrokePath(c);
}

// The name under the drawing, white and bold: it reads on both the grey and the red disc.
void drawName(const std::string& name, CGRect box) {
    StandInArtwork::drawCaption(name, box, 11, UIColor::whiteColor());
}

Ref<UIImage> drawNamedFace(const std::string& selector, const std::string& name, bool pressed, int side) {
    return drawAt2x(CGSizeMake(side, side), [&](CGContextRef c) {
        drawDisc(c, side, pressed);
        const double s = side / 50.0;
        drawCar(c, CGRectMake(9 * s, 8 * s, 32 * s, 15 * s), selector, pressed);
        drawName(name, CGRectMake(4 * s, 24 * s, side - 8 * s, 16 * s));
    });
}

}  // namespace

std::string partName(const std::string& selector) {
    for (const auto& [key, format] : TuningDetailViewController::slots()) {
        if (key != selector) continue;
        // "前包围: %@" -> "前包围"
        return format.substr(0, format.find(':'));
    }
    // The body takes only a colour, so it has no row in the tuning-list detail.
    if (selector == "cheshen") return "车身";
    return selector;
}

Ref<UIImage> drawPartButton(const std::string& selector, bool pressed, int side) {
    if (side <= 0) return nullptr;
    return drawNamedFace(selector, partName(selector), pressed, side);
}

Ref<UIImage> drawPresetsButton(bool pressed, int side) {
    if (side <= 0) return nullptr;
    return drawNamedFace("", kPresetsButtonName, pressed, side);
}

Ref<UIImage> drawBackButton(bool pressed, int side) {
    if (side <= 0) return nullptr;
    return drawAt2x(CGSizeMake(side, side), [&](CGContextRef c) {
        drawDisc(c, side, pressed);
        // A chevron pointing left, a little left of centre so that it looks centred.
        const double s = side / 44.0;
        CGContextSetRGBStrokeColor(c, 1, 1, 1, 1);
        CGContextSetLineWidth(c, 3.5 * s);
        CGContextSetLineCap(c, kCGLineCapRound);
        CGContextSetLineJoin(c, kCGLineJoinRound);
        CGContextBeginPath(c);
        CGContextMoveToPoint(c, 25 * s, 12 * s);
        CGContextAddLineToPoint(c, 16 * s, 22 * s);
        CGContextAddLineToPoint(c, 25 * s, 32 * s);
        CGContextStrokePath(c);
    });
}

Ref<UIImage> drawConsoleHandleArrow(bool up) {
    return drawAt2x(CGSizeMake(24, 14), [&](CGContextRef c) {
        CGContextSetRGBStrokeColor(c, 1, 1, 1, 1);
        CGContextSetLineWidth(c, 2.5);
        CGContextSetLineCap(c, kCGLineCapRound);
        CGContextSetLineJoin(c, kCGLineJoinRound);
        CGContextBeginPath(c);
        const double tip = up ? 3 : 11, ends = up ? 11 : 3;
        CGContextMoveToPoint(c, 4, ends);
        CGContextAddLineToPoint(c, 12, tip);
        CGContextAddLineToPoint(c, 20, ends);
        CGContextStrokePath(c);
    });
}

Ref<UIImage> drawCrossHair() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(15, 15), false, kArtworkScale);
    if (auto c = UIGraphicsGetCurrentContext()) {
        CGContextSetRGBFillColor(c, 0, 0, 0, 1);
        CGContextFillRect(c, CGRectMake(6.5, 0, 2, 15));
        CGContextFillRect(c, CGRectMake(0, 6.5, 15, 2));
    }
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

bool writeResources(const std::string& resourcesDirectory) {
    std::error_code error;
    std::filesystem::create_directories(resourcesDirectory, error);
    const std::filesystem::path folder(resourcesDirectory);
    auto path = [&](const std::string& name) { return (folder / name).string(); };
    auto retina = [&](const std::string& name) { return path(name + "@2x.png"); };
    bool ok = writePNG(drawBackButton(false), retina("back_up"));
    ok = writePNG(drawBackButton(true), retina("back_down")) && ok;
    ok = writePNG(drawPresetsButton(false), retina("zhengti_up")) && ok;
    ok = writePNG(drawPresetsButton(true), retina("zhengti_down")) && ok;
    ok = writePNG(drawConsoleHandleArrow(false), retina(kConsoleLowerImage)) && ok;
    ok = writePNG(drawConsoleHandleArrow(true), retina(kConsoleRaiseImage)) && ok;
    ok = writePNG(drawCrossHair(), retina("shizi")) && ok;
    ok = writePNG(drawColorWheel(), retina("color_wheel")) && ok;
    for (const auto& selector : partSelectors()) {
        ok = writePNG(drawPartButton(selector, false), retina(selector + "_up")) && ok;
        ok = writePNG(drawPartButton(selector, true), retina(selector + "_down")) && ok;
    }
    return ok;
}

}  // namespace CarStudioResources
