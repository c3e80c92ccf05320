#include "controls/PullRefreshResources.h"

#include <filesystem>

#include "graphics/UIGraphics.h"

namespace PullRefreshResources {

namespace {
constexpr CGFloat kArrowWidth = 15;
constexpr CGFloat kArrowHeight = 40;

bool writePNG(const Ref<UIImage>& image, const std::string& path) {
    if (!image) return false;
    auto data = UIImagePNGRepresentation(image);
    return data && data->writeToFile(path, true);
}
}  // namespace

Ref<UIImage> drawArrow(CGFloat scale) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(kArrowWidth, kArrowHeight), false, scale);
    if (auto c = UIGraphicsGetCurrentContext()) {
        // The labels' grey, so arrow and text read as one.
        CGContextSetRGBFillColor(c, 90 / 255.0, 90 / 255.0, 90 / 255.0, 1);
        const CGFloat mid = kArrowWidth / 2;
        // Shaft, then the head pointing down.
        CGContextFillRect(c, CGRectMake(mid - 1.5, 0, 3, 28));
        CGContextMoveToPoint(c, 0.5, 24);
        CGContextAddLineToPoint(c, kArrowWidth - 0.5, 24);
        CGContextAddLineToPoint(c, mid, kArrowHeight);
        CGContextClosePath(c);
        CGContextFillPath(c);
    }
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

bool writeBundle(const std::string& resourcesDirectory) {
    std::error_code error;
    const auto folder = std::filesystem::path(resourcesDirectory) / "PullRefresh.bundle";
    std::filesystem::create_directories(folder, error);
    if (error) return false;
    bool ok = writePNG(drawArrow(1), (folder / "arrow.png").string());
    ok = writePNG(drawArrow(2), (folder / "arrow@2x.png").string()) && ok;
    return ok;
}

Ref<UIImage> arrowImage() {
    if (auto image = UIImage::imageNamed(kArrowPath)) return image;
    return UIImage::imageNamed(kFrameworkArrowPath);
}

}  // namespace PullRefreshResources
