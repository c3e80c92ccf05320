#include "uikit/UIWindowRenderer.h"

#include "graphics/UIGraphics.h"
#include "uikit/UIApplication.h"
#include "uikit/UIScreen.h"

Ref<UIImage> UIWindowRenderer::imageOfView(const Ref<UIView>& view, CGFloat scale, bool opaque) {
    if (!view) return nullptr;
    CGRect bounds = view->bounds();
    if (bounds.size.width <= 0 || bounds.size.height <= 0) return nullptr;
    UIGraphicsBeginImageContextWithOptions(bounds.size, opaque, scale);
    CGContextRef context = UIGraphicsGetCurrentContext();
    Ref<UIImage> image;
    if (context) {
        CGContextTranslateCTM(context, -bounds.origin.x, -bounds.origin.y);
        view->layer()->renderInContext(context);
        image = UIGraphicsGetImageFromCurrentImageContext();
    }
    UIGraphicsEndImageContext();
    return image;
}

Ref<UIImage> UIWindowRenderer::imageOfScreen(CGFloat scale) {
    CGRect screen = UIScreen::mainScreen()->bounds();
    UIGraphicsBeginImageContextWithOptions(screen.size, true, scale);
    CGContextRef context = UIGraphicsGetCurrentContext();
    Ref<UIImage> image;
    if (context) {
        CGContextSetFillColorWithColor(context, UIColor::blackColor()->CGColor());
        CGContextFillRect(context, screen);
        for (auto& window : UIApplication::sharedApplication()->windows()) {
            if (window->isHidden()) continue;
            CGContextSaveGState(context);
            CGContextConcatCTM(context, window->layer()->transformToSuperlayer());
            window->layer()->renderInContext(context);
            CGContextRestoreGState(context);
        }
        image = UIGraphicsGetImageFromCurrentImageContext();
    }
    UIGraphicsEndImageContext();
    return image;
}

bool UIWindowRenderer::writePNG(const Ref<UIImage>& image, const std::string& path) {
    auto png = UIImagePNGRepresentation(image);
    if (!png) return false;
    return png->writeToFile(path);
}
