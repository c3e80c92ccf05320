#include "account/AccountArtwork.h"

#include "app/StandInArtwork.h"

namespace AccountArtwork {

namespace {

using StandInArtwork::hex;
using StandInArtwork::Shape;

// The friend button is drawn at the screen's scale (scale 0): it is read beside sharp text.
StandInArtwork::Library& library() {
    static StandInArtwork::Library artworks(
        {
            {"touxiang.jpg", {{80, 80}, hex(0xB8C4CA), Shape::Avatar}},
            {"touxiangmorentu", {{80, 80}, hex(0xB8C4CA), Shape::Avatar}},
            {"dot_05", {{10, 10}, hex(0xE52626), Shape::Round}},
            {"jiaweihaoyou_up", {{120, 36}, hex(0x63D6E4), Shape::Rect, "加为好友", 0}},
            {"shanchuhao_up.png", {{120, 36}, hex(0xE06060), Shape::Rect, "删除好友", 0}},
            {"shanchuhao_down.png", {{120, 36}, hex(0xA04040), Shape::Rect, "删除好友", 0}},
            {"tijiaobigup", {{280, 44}, hex(0x63D6E4), Shape::Rect, "提交"}},
            {"tijiaobigdown", {{280, 44}, hex(0xC9D7CB), Shape::Rect, "提交"}},
        },
        {.largestFont = 16, .fontPerHeight = 0.45});
    return artworks;
}

}  // namespace

Ref<UIImage> imageNamed(const std::string& name) {
    return library().imageNamed(name);
}

}  // namespace AccountArtwork
