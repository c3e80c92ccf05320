#include "controls/GHProgressHUDResources.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "graphics/UIBezierPath.h"
#include "graphics/UIGraphics.h"

namespace GHProgressHUDResources {

namespace {

constexpr CGFloat kGlyphSide = 28;
constexpr CGFloat kMaskSide = 96;

Ref<UIImage> drawImage(CGFloat side, const std::function<void(const CGContextRef&)>& draw) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 1);
    if (auto context = UIGraphicsGetCurrentContext()) draw(context);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

Ref<UIBezierPath> ring() {
    auto path = UIBezierPath::bezierPathWithOvalInRect(CGRectMake(2, 2, kGlyphSide - 4, kGlyphSide - 4));
    path->setLineWidth(2);
    return path;
}

Ref<UIImage> infoGlyph() {
    return drawImage(kGlyphSide, [](const CGContextRef& c) {
        CGContextSetRGBStrokeColor(c, 0, 0, 0, 1);
        CGContextSetRGBFillColor(c, 0, 0, 0, 1);
        ring()->stroke();
        CGContextFillEllipseInRect(c, CGRectMake(12.5, 7, 3, 3));
        CGContextFillRect(c, CGRectMake(12.75, 12, 2.5, 9));
    });
}

Ref<UIImage> successGlyph() {
    return drawImage(kGlyphSide, [](const CGContextRef& c) {
        CGContextSetRGBStrokeColor(c, 0, 0, 0, 1);
        ring()->stroke();
        auto tick = UIBezierPath::bezierPath();
        tick->moveToPoint(CGPointMake(8, 14.5));
        tick->addLineToPoint(CGPointMake(12.5, 19));
        tick->addLineToPoint(CGPointMake(20.5, 9.5));
        tick->setLineWidth(2.5);
        tick->setLineCapStyle(kCGLineCapRound);
        tick->setLineJoinStyle(kCGLineJoinRound);
        tick->stroke();
    });
}

Ref<UIImage> errorGlyph() {
    return drawImage(kGlyphSide, [](const CGContextRef& c) {
        CGContextSetRGBStrokeColor(c, 0, 0, 0, 1);
        ring()->stroke();
        auto cross = UIBezierPath::bezierPath();
        cross->moveToPoint(CGPointMake(9.5, 9.5));
        cross->addLineToPoint(CGPointMake(18.5, 18.5));
        cross->moveToPoint(CGPointMake(18.5, 9.5));
        cross->addLineToPoint(CGPointMake(9.5, 18.5));
        cross->setLineWidth(2.5);
        cross->setLineCapStyle(kCGLineCapRound);
        cross->stroke();
    });
}

// Transparent just right of twelve o'clock, growing clockwise to opaque just left of it: turned
// over the arc, the stroke shows a solid head and a tail that fades out.
Ref<UIImage> angleMask() {
    const std::size_t side = static_cast<std::size_t>(kMaskSide);
    CGContextRef context =
        CGBitmapContextCreate(nullptr, side, side, 8, 0, CGColorSpaceCreateDeviceRGB(),
                              kCGBitmapByteOrder32Little | kCGImageAlphaPremultipliedFirst);
    if (!context) return nullptr;
    auto* pixels = static_cast<std::uint8_t*>(CGBitmapContextGetData(context));
    const std::size_t rowBytes = CGBitmapContextGetBytesPerRow(context);
    const double centre = kMaskSide / 2;
    for (std::size_t y = 0; y < side; ++y) {
        for (std::size_t x = 0; x < side; ++x) {
            // The angle from twelve o'clock, clockwise on screen (rows grow downwards).
            const double dx = x + 0.5 - centre, dy = y + 0.5 - centre;
            double angle = std::atan2(dx, -dy);
            if (angle < 0) angle += 2 * M_PI;
            const auto alpha = static_cast<std::uint8_t>(std::lround(255 * angle / (2 * M_PI)));
            std::uint8_t* p = pixels + y * rowBytes + x * 4;
            p[0] = p[1] = p[2] = 0;  // premultiplied black
            p[3] = alpha;
        }
    }
    CGImageRef image = CGBitmapContextCreateImage(context);
    return image ? UIImage::imageWithCGImage(image) : nullptr;
}

bool writePNG(const Ref<UIImage>& image, const std::string& path) {
    if (!image) return false;
    auto data = UIImagePNGRepresentation(image);
    return data && data->writeToFile(path, true);
}

}  // namespace

bool writeBundle(const std::string& resourcesDirectory) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(resourcesDirectory) / "GHProgressHUD.bundle";
    std::filesystem::create_directories(folder, error);
    if (error) return false;
    bool ok = writePNG(infoGlyph(), (folder / "info.png").string());
    ok = writePNG(successGlyph(), (folder / "success.png").string()) && ok;
    ok = writePNG(errorGlyph(), (folder / "error.png").string()) && ok;
    ok = writePNG(angleMask(), (folder / "angle-mask.png").string()) && ok;
    return ok;
}

Ref<NSBundle> bundle() {
    auto classBundle = NSBundle::bundleForClass("GHProgressHUD");
    if (!classBundle) return nullptr;
    auto path = classBundle->pathForResource("GHProgressHUD", "bundle");
    if (!path) return nullptr;
    return NSBundle::bundleWithPath(*path);
}

Ref<UIImage> imageNamed(const std::string& name) {
    auto resources = bundle();
    if (!resources) return nullptr;
    auto path = resources->pathForResource(name, "png");
    if (!path) return nullptr;
    return UIImage::imageWithContentsOfFile(*path);
}

}  // namespace GHProgressHUDResources
