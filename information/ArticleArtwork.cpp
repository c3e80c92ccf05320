#include "information/ArticleArtwork.h"

#include <map>

#include "graphics/CGContext.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"

namespace detail::article {

namespace {

enum class Shape { Rect, Round, Frame };

struct Artwork {
    CGSize size;
    unsigned rgb;
    const char* caption;
    Shape shape;
    CGFloat scale = 1;
};

const std::map<std::string, Artwork>& artworks() {
    static const std::map<std::string, Artwork> table = {
        {"touxiangmorentu", {{80, 80}, 0xC8C8C8, "", Shape::Round, 2}},
        {"dianzan_up", {{36, 36}, 0xB0B0B0, "赞", Shape::Round, 2}},
        {"dianzan_down", {{36, 36}, 0xE0403A, "赞", Shape::Round, 2}},
        {"wodepinglun", {{36, 36}, 0x3A7BD5, "评", Shape::Round, 2}},
        {"tupianlogo", {{140, 100}, 0xDDDDDD, "", Shape::Frame, 2}},
        {"shaixuantankuang1", {{60, 32}, 0xFAFAFA, "", Shape::Frame}},
        {"shaixuantankuang3", {{60, 32}, 0xFAFAFA, "", Shape::Frame}},
    };
    return table;
}

Ref<UIImage> draw(const Artwork& art) {
    UIGraphicsBeginImageContextWithOptions(art.size, false, 1);
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGFloat r = ((art.rgb >> 16) & 0xFF) / 255.0, g = ((art.rgb >> 8) & 0xFF) / 255.0,
            b = (art.rgb & 0xFF) / 255.0;
    CGRect all = CGRectMake(0, 0, art.size.width, art.size.height);
    CGContextSetRGBFillColor(context, r, g, b, 1);
    switch (art.shape) {
        case Shape::Round:
            CGContextFillEllipseInRect(context, all);
            break;
        case Shape::Rect:
            CGContextFillRect(context, all);
            break;
        case Shape::Frame:
            CGContextFillRect(context, all);
            CGContextSetRGBStrokeColor(context, 0.7, 0.7, 0.7, 1);
            CGContextSetLineWidth(context, 1);
            CGContextStrokeRect(context, CGRectInset(all, 0.5, 0.5));
            break;
    }
    if (art.caption && *art.caption) {
        Dictionary attributes;
        attributes.setObject(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(
                                                      std::min<CGFloat>(20, art.size.height * 0.55))));
        attributes.setObject(NSForegroundColorAttributeName, Value(UIColor::whiteColor()));
        CGSize text = NSStringDrawing::sizeWithAttributes(art.caption, attributes);
        NSStringDrawing::drawAtPoint(
            art.caption, CGPointMake((art.size.width - text.width) / 2, (art.size.height - text.height) / 2),
            attributes);
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    if (image && art.scale != 1)
        image = UIImage::imageWithCGImage(image->CGImage(), art.scale, image->imageOrientation());
    return image;
}

}  // namespace

Ref<UIImage> imageNamed(const std::string& name) {
    if (Ref<UIImage> image = UIImage::imageNamed(name)) return image;
    static std::map<std::string, Ref<UIImage>> drawn;
    auto it = drawn.find(name);
    if (it != drawn.end()) return it->second;
    auto art = artworks().find(name);
    if (art == artworks().end()) return nullptr;
    Ref<UIImage> image = draw(art->second);
    drawn[name] = image;
    return image;
}

}  // namespace detail::article
