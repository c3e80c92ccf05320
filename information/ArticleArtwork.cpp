#include "information/ArticleArtwork.h"

#include "app/StandInArtwork.h"

namespace detail::article {

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
            {"tupianlogo", {{140, 100}, hex(0xDDDDDD), Shape::Frame, "", 2}},
            {"shaixuantankuang1", {{60, 32}, hex(0xFAFAFA), Shape::Frame}},
            {"shaixuantankuang3", {{60, 32}, hex(0xFAFAFA), Shape::Frame}},
        },
        {.largestFont = 20, .fontPerHeight = 0.55, .frameGrey = 0.7, .frameWidth = 1});
    return artworks;
}

}  // namespace

Ref<UIImage> imageNamed(const std::string& name) {
    return library().imageNamed(name);
}

}  // namespace detail::article
