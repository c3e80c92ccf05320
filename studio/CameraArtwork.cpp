#include "studio/CameraArtwork.h"

#include <algorithm>
#include <map>

#include "app/StandInArtwork.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIColor.h"

namespace CameraArtwork {

namespace {

enum class Shape { Round, Ring, Square, Frame, Badge };

struct Artwork {
    CGSize size;
    Shape shape;
    unsigned rgb;         // fill or stroke
    std::string caption;  // drawn in white (or the colour for rings)
};

const std::map<std::string, Artwork>& artworks() {
    static const std::map<std::string, Artwork> table = {
        {"shangguang", {{40, 40}, Shape::Round, 0xF5C400, "A"}},
        {"shangguang-guanbi", {{40, 40}, Shape::Round, 0x707070, "×"}},
        {"qiehuan", {{40, 40}, Shape::Round, 0x3A7BD5, "⟲"}},
        {"qiehuan-xuanzhong", {{40, 40}, Shape::Round, 0x63D6E4, "⟲"}},
        {"zhengmian", {{80, 30}, Shape::Square, 0x3C3C40, "正面"}},
        {"zhengmian1", {{80, 30}, Shape::Square, 0x63D6E4, "正面"}},
        {"cemian", {{80, 30}, Shape::Square, 0x3C3C40, "侧面"}},
        {"cemian1", {{80, 30}, Shape::Square, 0x63D6E4, "侧面"}},
        {"selected_border.png", {{60, 60}, Shape::Frame, 0x63D6E4, ""}},
        {"image_border1.png", {{60, 60}, Shape::Frame, 0x505055, ""}},
        {"shuiyin.png", {{180, 35}, Shape::Badge, 0x0B232C, "改装车 · 相机"}},
        {"SKStickerView.bundle/SKBtn4.png", {{36, 36}, Shape::Round, 0xD83A3A, "×"}},
        {"SKStickerView.bundle/SKBtn2.png", {{36, 36}, Shape::Round, 0x3A7BD5, "⤡"}},
        {"paizhao", {{72, 72}, Shape::Ring, 0xFFFFFF, ""}},
        {"shuiyin-anniu", {{44, 44}, Shape::Round, 0x2E8B57, "印"}},
        {"guanbi", {{40, 40}, Shape::Round, 0x505055, "<"}},
    };
    return table;
}

Ref<UIColor> colour(unsigned rgb, CGFloat alpha = 1) {
    return UIColor::colorWithRed(((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                                 (rgb & 0xFF) / 255.0, alpha);
}

Ref<UIImage> draw(const Artwork& art) {
    return StandInArtwork::drawImage(art.size, 0, [&](CGContextRef) {
        CGRect box = CGRectMake(0, 0, art.size.width, art.size.height);
        switch (art.shape) {
            case Shape::Round:
                colour(art.rgb, 0.9)->setFill();
                UIBezierPath::bezierPathWithOvalInRect(CGRectInset(box, 1, 1))->fill();
                break;
            case Shape::Ring: {
                colour(art.rgb)->setStroke();
                auto ring = UIBezierPath::bezierPathWithOvalInRect(CGRectInset(box, 4, 4));
                ring->setLineWidth(5);
                ring->stroke();
                colour(art.rgb, 0.85)->setFill();
                UIBezierPath::bezierPathWithOvalInRect(CGRectInset(box, 12, 12))->fill();
                break;
            }
            case Shape::Square:
                colour(art.rgb)->setFill();
                UIBezierPath::bezierPathWithRoundedRect(box, 6)->fill();
                break;
            case Shape::Frame: {
                colour(art.rgb)->setStroke();
                auto frame = UIBezierPath::bezierPathWithRect(CGRectInset(box, 2, 2));
                frame->setLineWidth(4);
                frame->stroke();
                break;
            }
            case Shape::Badge:
                colour(art.rgb, 0.8)->setFill();
                UIBezierPath::bezierPathWithRoundedRect(box, art.size.height / 2)->fill();
                colour(0x63D6E4)->setFill();
                UIBezierPath::bezierPathWithOvalInRect(
                    CGRectMake(6, 6, art.size.height - 12, art.size.height - 12))
                    ->fill();
                break;
        }
        if (!art.caption.empty()) {
            // The badge's caption stands right of its dot.
            CGFloat left = art.shape == Shape::Badge ? art.size.height : 0;
            StandInArtwork::drawCaption(art.caption,
                                        CGRectMake(left, 0, art.size.width - left, art.size.height),
                                        std::min<CGFloat>(16, art.size.height * 0.45), UIColor::whiteColor());
        }
    });
}

}  // namespace

Ref<UIImage> imageNamed(const std::string& name) {
    static StandInArtwork::Library library(artworks(), draw);
    return library.imageNamed(name);
}

}  // namespace CameraArtwork
