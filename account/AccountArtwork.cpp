#include "account/AccountArtwork.h"

#include <algorithm>
#include <map>

#include "graphics/CGContext.h"
#include "graphics/NSAttributedString.h"
#include "graphics/NSStringDrawing.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "graphics/UIGraphics.h"

namespace {

enum class Shape { Rect, Round, Avatar };

struct Artwork {
    CGSize size;
    unsigned rgb;
    Shape shape;
    const char* caption;
};

const std::map<std::string, Artwork>& artworks() {
    static const std::map<std::string, Artwork> table = {
        {"touxiang.jpg", {{80, 80}, 0xB8C4CA, Shape::Avatar, ""}},
        {"touxiangmorentu", {{80, 80}, 0xB8C4CA, Shape::Avatar, ""}},
        {"dot_05", {{10, 10}, 0xE52626, Shape::Round, ""}},
        {"jiaweihaoyou_up", {{120, 36}, 0x63D6E4, Shape::Rect, "加为好友"}},
        {"shanchuhao_up.png", {{120, 36}, 0xE06060, Shape::Rect, "删除好友"}},
        {"shanchuhao_down.png", {{120, 36}, 0xA04040, Shape::Rect, "删除好友"}},
        {"tijiaobigup", {{280, 44}, 0x63D6E4, Shape::Rect, "提交"}},
        {"tijiaobigdown", {{280, 44}, 0xC9D7CB, Shape::Rect, "提交"}},
    };
    return table;
}

Ref<UIImage> draw(const Artwork& art) {
    UIGraphicsBeginImageContextWithOptions(art.size, false, 1);
    CGContextRef context = UIGraphicsGetCurrentContext();
    CGFloat r = ((art.rgb >> 16) & 0xFF) / 255.0, g = ((art.rgb >> 8) & 0xFF) / 255.0,
            b = (art.rgb & 0xFF) / 255.0;
    CGContextSetRGBFillColor(context, r, g, b, 1);
    CGRect all = CGRectMake(0, 0, art.size.width, art.size.height);
    if (art.shape == Shape::Rect) {
        CGContextFillRect(context, all);
    } else {
        CGContextFillEllipseInRect(context, all);
    }
    if (art.shape == Shape::Avatar) {
        // A head and shoulders in white.
        CGFloat w = art.size.width;
        CGContextSetRGBFillColor(context, 1, 1, 1, 0.9);
        CGContextFillEllipseInRect(context, CGRectMake(w * 0.34, w * 0.2, w * 0.32, w * 0.32));
        CGContextFillEllipseInRect(context, CGRectMake(w * 0.2, w * 0.56, w * 0.6, w * 0.5));
    }
    if (art.caption && *art.caption) {
        Dictionary attributes;
        attributes.setObject(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(
                                                      std::min<CGFloat>(16, art.size.height * 0.45))));
        attributes.setObject(NSForegroundColorAttributeName, Value(UIColor::whiteColor()));
        CGSize text = NSStringDrawing::sizeWithAttributes(art.caption, attributes);
        NSStringDrawing::drawAtPoint(
            art.caption, CGPointMake((art.size.width - text.width) / 2, (art.size.height - text.height) / 2),
            attributes);
    }
    Ref<UIImage> image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

}  // namespace

namespace AccountArtwork {

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

}  // namespace AccountArtwork
