#include "studio/CameraArtwork.h"

#include <algorithm>
#include <map>

#include "app/StandInArtwork.h"
#include "graphics/UIBezierPath.h"
#include "graphics/UIColor.h"

namespace CameraArtwork {

namespace {

// Flash: a lightning bolt on a dark disc, with an "A" beside it (auto) or struck through (off).
enum class Shape { Round, Ring, Square, Frame, Badge, FlashAuto, FlashOff };

struct Artwork {
    CGSize size;
    Shape shape;
    unsigned rgb;         // fill or stroke
    std::string caption;  // drawn in white (or the colour for rings)
};

// The chosen tab's and the switched camera's fill: the accent deepened, so their white captions read.
constexpr unsigned kChosen = 0x007A8A;

const std::map<std::string, Artwork>& artworks() {
    static const std::map<std::string, Artwork> table = {
        // The camera shows "shangguang" for any mode but off; it only ever switches to auto.
        {"shangguang", {{40, 40}, Shape::FlashAuto, 0xF5C400, ""}},
        {"shangguang-guanbi", {{40, 40}, Shape::FlashOff, 0xD0D0D0, ""}},
        {"qiehuan", {{40, 40}, Shape::Round, 0x3A7BD5, "⟲"}},
        {"qiehuan-xuanzhong", {{40, 40}, Shape::Round, kChosen, "⟲"}},
        {"zhengmian", {{80, 30}, Shape::Square, 0x3C3C40, "正面"}},
        {"zhengmian1", {{80, 30}, Shape::Square, kChosen, "正面"}},
        {"cemian", {{80, 30}, Shape::Square, 0x3C3C40, "侧面"}},
        {"cemian1", {{80, 30}, Shape::Square, kChosen, "侧面"}},
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

// The flash buttons' ground: darker than the close button's grey disc, so the two read as a pair of
// different buttons.
constexpr unsigned kFlashDisc = 0x26262B;

// A lightning bolt in the unit square, placed in `box`.
Ref<UIBezierPath> bolt(CGRect box) {
    static constexpr CGPoint kCorners[] = {{0.52, 0.12}, {0.30, 0.56}, {0.47, 0.56}, {0.40, 0.90},
                                           {0.72, 0.40}, {0.54, 0.40}, {0.70, 0.12}};
    auto path = UIBezierPath::bezierPath();
    bool first = true;
    for (CGPoint corner : kCorners) {
        CGPoint point =
            CGPointMake(box.origin.x + corner.x * box.size.width, box.origin.y + corner.y * box.size.height);
        if (first) {
            path->moveToPoint(point);
        } else {
            path->addLineToPoint(point);
        }
        first = false;
    }
    path->closePath();
    return path;
}

void drawFlash(const Artwork& art, CGRect box) {
    colour(kFlashDisc, 0.85)->setFill();
    UIBezierPath::bezierPathWithOvalInRect(CGRectInset(box, 1, 1))->fill();
    const CGFloat side = box.size.width;
    if (art.shape == Shape::FlashAuto) {
        // The bolt moves left to leave the "A" its room.
        colour(art.rgb)->setFill();
        bolt(CGRectMake(side * 0.04, side * 0.08, side * 0.74, side * 0.84))->fill();
        StandInArtwork::drawCaption("A", CGRectMake(side * 0.58, side * 0.46, side * 0.34, side * 0.34),
                                    side * 0.32, colour(art.rgb));
        return;
    }
    colour(art.rgb)->setFill();
    bolt(CGRectMake(side * 0.11, side * 0.08, side * 0.78, side * 0.84))->fill();
    // The stroke through it, edged in the disc's colour so that it stands apart from the bolt.
    auto slash = UIBezierPath::bezierPath();
    slash->moveToPoint(CGPointMake(side * 0.24, side * 0.22));
    slash->addLineToPoint(CGPointMake(side * 0.76, side * 0.78));
    slash->setLineCapStyle(kCGLineCapRound);
    colour(kFlashDisc)->setStroke();
    slash->setLineWidth(side * 0.16);
    slash->stroke();
    colour(art.rgb)->setStroke();
    slash->setLineWidth(side * 0.07);
    slash->stroke();
}

Ref<UIImage> draw(const Artwork& art) {
    return StandInArtwork::drawImage(art.size, 0, [&](CGContextRef) {
        CGRect box = CGRectMake(0, 0, art.size.width, art.size.height);
        switch (art.shape) {
            case Shape::FlashAuto:
            case Shape::FlashOff:
                drawFlash(art, box);
                break;
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
