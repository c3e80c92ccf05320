#include "account/AccountArtwork.h"

#include "app/StandInArtwork.h"

namespace AccountArtwork {

namespace {

using StandInArtwork::hex;
using StandInArtwork::Shape;

// The accent deepened, as the screens' own buttons are, so that the white captions read on it.
constexpr unsigned kAccentFill = 0x007A8A;

// The friend and submit buttons are drawn at the screen's scale (scale 0): they are read beside
// sharp text. The submit button's grey picture is its look while the form is not yet filled in.
StandInArtwork::Library& library() {
    static StandInArtwork::Library artworks(
        {
            {"touxiang.jpg", {{80, 80}, hex(0xB8C4CA), Shape::Avatar}},
            {"touxiangmorentu", {{80, 80}, hex(0xB8C4CA), Shape::Avatar}},
            {"dot_05", {{10, 10}, hex(0xE52626), Shape::Round}},
            {"jiaweihaoyou_up", {{120, 36}, hex(kAccentFill), Shape::Rect, "加为好友", 0}},
            {"shanchuhao_up.png", {{120, 36}, hex(0xE06060), Shape::Rect, "删除好友", 0}},
            {"shanchuhao_down.png", {{120, 36}, hex(0xA04040), Shape::Rect, "删除好友", 0}},
            {"tijiaobigup", {{280, 44}, hex(kAccentFill), Shape::Rect, "提交", 0}},
            {"tijiaobigdown", {{280, 44}, hex(0xC9D7CB), Shape::Rect, "提交", 0}},
        },
        {.largestFont = 16, .fontPerHeight = 0.45});
    return artworks;
}

}  // namespace

Ref<UIImage> imageNamed(const std::string& name) {
    return library().imageNamed(name);
}

}  // namespace AccountArtwork
