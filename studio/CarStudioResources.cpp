#include "studio/CarStudioResources.h"

#include <cmath>
#include <cstdint>
#include <filesystem>

#include "graphics/CGContext.h"
#include "graphics/UIGraphics.h"

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

Ref<UIImage> drawColorWheel(int side) {
    if (side <= 0) return nullptr;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side * 4, 0);
    const double radius = side / 2.0;
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const double dx = column + 0.5 - radius, dy = row + 0.5 - radius;
            const double distance = std::sqrt(dx * dx + dy * dy) / radius;
            if (distance > 1) continue;
            double hue = std::atan2(dy, dx) / (2 * M_PI);
            if (hue < 0) hue += 1;
            double r, g, b;
            hueToRGB(hue, r, g, b);
            // White towards the centre.
            r = 1 - (1 - r) * distance, g = 1 - (1 - g) * distance, b = 1 - (1 - b) * distance;
            std::uint8_t* p = &pixels[(static_cast<std::size_t>(row) * side + column) * 4];
            p[0] = static_cast<std::uint8_t>(std::lround(r * 255));
            p[1] = static_cast<std::uint8_t>(std::lround(g * 255));
            p[2] = static_cast<std::uint8_t>(std::lround(b * 255));
            p[3] = 255;
        }
    }
    CGContextRef context =
        CGBitmapContextCreate(pixels.data(), side, side, 8, side * 4, CGColorSpaceCreateDeviceRGB(),
                              kCGImageAlphaPremultipliedLast | kCGBitmapByteOrder32Big);
    if (!context) return nullptr;
    return UIImage::imageWithCGImage(CGBitmapContextCreateImage(context));
}

Ref<UIImage> drawButtonFace(double red, double green, double blue, bool pressed, int side) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(side, side), false, 1);
    if (auto c = UIGraphicsGetCurrentContext()) {
        CGContextSetRGBFillColor(c, red, green, blue, pressed ? 1.0 : 0.85);
        CGContextAddEllipseInRect(c, CGRectMake(2, 2, side - 4, side - 4));
        CGContextFillPath(c);
        CGContextSetRGBStrokeColor(c, 1, 1, 1, pressed ? 1.0 : 0.5);
        CGContextSetLineWidth(c, pressed ? 4 : 2);
        CGContextAddEllipseInRect(c, CGRectMake(3, 3, side - 6, side - 6));
        CGContextStrokePath(c);
    }
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

Ref<UIImage> drawCrossHair() {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(15, 15), false, 1);
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
    bool ok = writePNG(drawButtonFace(0.85, 0.85, 0.88, false, 44), path("back_up.png"));
    ok = writePNG(drawButtonFace(0.55, 0.55, 0.6, true, 44), path("back_down.png")) && ok;
    ok = writePNG(drawButtonFace(0.95, 0.6, 0.1, false), path("zhengti_up.png")) && ok;
    ok = writePNG(drawButtonFace(0.95, 0.6, 0.1, true), path("zhengti_down.png")) && ok;
    ok = writePNG(drawCrossHair(), path("shizi.png")) && ok;
    ok = writePNG(drawColorWheel(), path("color_wheel.png")) && ok;
    // Each part a hue of its own, so the row reads at a glance.
    const auto& selectors = partSelectors();
    for (std::size_t i = 0; i < selectors.size(); ++i) {
        double r, g, b;
        hueToRGB(static_cast<double>(i) / static_cast<double>(selectors.size()), r, g, b);
        ok = writePNG(drawButtonFace(r * 0.8, g * 0.8, b * 0.8, false), path(selectors[i] + "_up.png")) && ok;
        ok = writePNG(drawButtonFace(r, g, b, true), path(selectors[i] + "_down.png")) && ok;
    }
    return ok;
}

}  // namespace CarStudioResources
