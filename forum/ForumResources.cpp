#include "forum/ForumResources.h"

#include "app/StandInArtwork.h"

namespace detail::forum {

namespace {

using StandInArtwork::hex;
using StandInArtwork::Shape;

StandInArtwork::Library& library() {
    static StandInArtwork::Library artworks(
        {
            {"touxiangmorentu", {{80, 80}, hex(0xC8C8C8), Shape::Round, "", 2}},
            {"dianzan_up", {{36, 36}, hex(0xB0B0B0), Shape::Round, "赞", 2}},
            {"dianzan_down", {{36, 36}, hex(0xE0403A), Shape::Round, "赞", 2}},
            {"wodepinglun", {{36, 36}, hex(0x3A7BD5), Shape::Round, "评", 2}},
            {"zixunpinpaikuang", {{100, 200}, hex(0xF7F7F7), Shape::Frame}},
            {"add_05", {{70, 106}, hex(0xE6E6E6), Shape::Frame, "+"}},
            {"close_05", {{30, 30}, hex(0xE0403A), Shape::Round, "×", 2}},
            // Placed at its size: drawn at the screen's scale, in a red deep enough for white (5:1).
            {"tijiao_up.png", {{164, 35}, hex(0xC8322C), Shape::Rect, "提交", 0}},
            {"tijiao_down.png", {{164, 35}, hex(0xA02A26), Shape::Rect, "提交", 0}},
            {"fanhui1.png", {{22, 40}, hex(0xFFFFFF), Shape::Rect, "<", 2}},
            {"PKAssetPicker.Bundle/Images/AssetsPickerChecked@2x.png",
             {{48, 48}, hex(0x20A39E), Shape::Round, "✓", 2}},
            {"PKAssetPicker.Bundle/Images/AssetsPickerNo@2x.png",
             {{48, 48}, hex(0xFFFFFF), Shape::Frame, "", 2}},
            {"PKAssetPicker.Bundle/Images/AssetsPickerVideo@2x.png",
             {{30, 18}, hex(0xFFFFFF), Shape::Rect, "", 2}},
            {"PKAssetPicker.Bundle/Images/AssetsPickerLocked@2x.png",
             {{128, 128}, hex(0x818894), Shape::Round, "锁", 2}},
        },
        // Captions on the nearly white pictures ("+", "<") are written in dark grey to be seen.
        {.largestFont = 20,
         .fontPerHeight = 0.55,
         .frameGrey = 0.6,
         .frameWidth = 2,
         .darkCaptionOnLight = true});
    return artworks;
}

}  // namespace

Ref<UIImage> imageNamed(const std::string& name) {
    return library().imageNamed(name);
}

}  // namespace detail::forum
