#include "app/StandInArtwork.h"

#include <algorithm>

#include "graphics/NSStringDrawing.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"

namespace StandInArtwork {

Ref<UIImage> drawImage(CGSize size, CGFloat contextScale, const std::function<void(CGContextRef)>& paint) {
    UIGraphicsBeginImageContextWithOptions(size, false, contextScale);
    if (CGContextRef context = UIGraphicsGetCurrentContext()) paint(context);
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

void drawText(const std::string& text, CGRect box, const Ref<UIFont>& font, const Ref<UIColor>& colour) {
    Dictionary attributes;
    attributes.setObject(NSFontAttributeName, Value(font));
    attributes.setObject(NSForegroundColorAttributeName, Value(colour));
    CGSize size = NSStringDrawing::sizeWithAttributes(text, attributes);
    NSStringDrawing::drawAtPoint(text,
                                 CGPointMake(box.origin.x + (box.size.width - size.width) / 2,
                                             box.origin.y + (box.size.height - size.height) / 2),
                                 attributes);
}

void drawCaption(const std::string& caption, CGRect box, CGFloat fontSize, const Ref<UIColor>& colour) {
    drawText(caption, box, UIFont::boldSystemFontOfSize(fontSize), colour);
}

CGFloat captionFontSize(CGSize size, const Style& style) {
    return std::min<CGFloat>(style.largestFont, size.height * style.fontPerHeight);
}

Ref<UIImage> draw(const Picture& picture, const Style& style) {
    const bool screenScale = !(picture.scale > 0);
    Ref<UIImage> image = drawImage(picture.size, screenScale ? 0 : 1, [&](CGContextRef context) {
        const Colour& fill = picture.fill;
        const CGFloat width = picture.size.width;
        CGRect all = CGRectMake(0, 0, width, picture.size.height);
        CGContextSetRGBFillColor(context, fill.red, fill.green, fill.blue, fill.alpha);
        switch (picture.shape) {
            case Shape::Rect:
                CGContextFillRect(context, all);
                break;
            case Shape::Round:
                CGContextFillEllipseInRect(context, all);
                break;
            case Shape::Frame:
                CGContextFillRect(context, all);
                CGContextSetRGBStrokeColor(context, style.frameGrey, style.frameGrey, style.frameGrey, 1);
                CGContextSetLineWidth(context, style.frameWidth);
                CGContextStrokeRect(context, CGRectInset(all, style.frameWidth / 2, style.frameWidth / 2));
                break;
            case Shape::Avatar:
                CGContextFillEllipseInRect(context, all);
                CGContextSetRGBFillColor(context, 1, 1, 1, 0.9);
                CGContextFillEllipseInRect(context,
                                           CGRectMake(width * 0.34, width * 0.2, width * 0.32, width * 0.32));
                CGContextFillEllipseInRect(context,
                                           CGRectMake(width * 0.2, width * 0.56, width * 0.6, width * 0.5));
                break;
            case Shape::MiddleMark:
                // Twice the header wide, so the middle eighth is one tab of four.
                CGContextFillRect(context, CGRectMake(width * 7 / 16, 0, width / 8, picture.size.height));
                break;
        }
        if (!picture.caption.empty()) {
            bool light = style.darkCaptionOnLight && (fill.red + fill.green + fill.blue) > 2.4;
            drawCaption(picture.caption, all, captionFontSize(picture.size, style),
                        light ? UIColor::darkGrayColor() : UIColor::whiteColor());
        }
    });
    if (image && !screenScale && picture.scale != 1)
        image = UIImage::imageWithCGImage(image->CGImage(), picture.scale, image->imageOrientation());
    return image;
}

Library::Library(std::map<std::string, Picture> pictures, Style style)
    : Library(std::move(pictures), [style](const Picture& picture) { return draw(picture, style); }) {}

Ref<UIImage> Library::imageNamed(const std::string& name) {
    if (Ref<UIImage> image = UIImage::imageNamed(name)) return image;
    std::lock_guard lock(mutex_);
    auto it = drawn_.find(name);
    if (it != drawn_.end()) return it->second;
    Ref<UIImage> image = draw_(name);
    if (image) drawn_[name] = image;
    return image;
}

}  // namespace StandInArtwork
