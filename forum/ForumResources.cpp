#include "forum/ForumResources.h"

#include <map>

#include "graphics/CGContext.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"

namespace detail::forum {

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
        {"zixunpinpaikuang", {{100, 200}, 0xF7F7F7, "", Shape::Frame}},
        {"add_05", {{70, 106}, 0xE6E6E6, "+", Shape::Frame}},
        {"close_05", {{30, 30}, 0xE0403A, "×", Shape::Round, 2}},
        {"tijiao_up.png", {{164, 35}, 0xE0403A, "提交", Shape::Rect}},
        {"tijiao_down.png", {{164, 35}, 0xA02A26, "提交", Shape::Rect}},
        {"fanhui1.png", {{22, 40}, 0xFFFFFF, "<", Shape::Rect, 2}},
        {"PKAssetPicker.Bundle/Images/AssetsPickerChecked@2x.png",
         {{48, 48}, 0x20A39E, "✓", Shape::Round, 2}},
        {"PKAssetPicker.Bundle/Images/AssetsPickerNo@2x.png", {{48, 48}, 0xFFFFFF, "", Shape::Frame, 2}},
        {"PKAssetPicker.Bundle/Images/AssetsPickerVideo@2x.png", {{30, 18}, 0xFFFFFF, "", Shape::Rect, 2}},
        {"PKAssetPicker.Bundle/Images/AssetsPickerLocked@2x.png",
         {{128, 128}, 0x818894, "锁", Shape::Round, 2}},
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
            CGContextSetRGBStrokeColor(context, 0.6, 0.6, 0.6, 1);
            CGContextSetLineWidth(context, 2);
            CGContextStrokeRect(context, CGRectInset(all, 1, 1));
            break;
    }
    if (art.caption && *art.caption) {
        bool light = (r + g + b) > 2.4;
        Dictionary attributes;
        attributes.setObject(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(
                                                      std::min<CGFloat>(20, art.size.height * 0.55))));
        attributes.setObject(NSForegroundColorAttributeName,
                             Value(light ? UIColor::darkGrayColor() : UIColor::whiteColor()));
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

}  // namespace detail::forum
