#pragma once
// UIColor(Extensions): the app's palette, opaque RGB colours.

#include "graphics/UIColor.h"

namespace UIColor_Extensions {

// 99, 214, 228: the accent (text-input tint, the selected home tab's title).
Ref<UIColor> QVNRedColor();
// 0, 122, 138: the accent deepened, the fill of buttons and bubbles that carry white text (which
// hardly reads on the light accent itself: 1.7 to 1 against 5 to 1 here).
Ref<UIColor> QVNAccentFillColor();
// 11, 35, 44: dark backgrounds.
Ref<UIColor> QVNBlackColor();
// 230, 230, 230: the cached-cars list's background.
Ref<UIColor> QVNCacheTableViewColor();

}  // namespace UIColor_Extensions
