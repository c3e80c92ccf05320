#pragma once
// UIColor(Extensions): the app's palette, opaque RGB colours.

#include "graphics/UIColor.h"

namespace UIColor_Extensions {

// 99, 214, 228: the accent (text-input tint, marks, the selected home tab's title on the dark bar).
Ref<UIColor> QVNRedColor();
// 0, 122, 138: the accent deepened, for writing: the fill of buttons and bubbles that carry white
// text, and the colour of accented text on white. Either reads at 5 to 1, where the light accent
// gives 1.7 to 1.
Ref<UIColor> QVNDeepAccentColor();
// 11, 35, 44: dark backgrounds.
Ref<UIColor> QVNBlackColor();
// 230, 230, 230: the cached-cars list's background.
Ref<UIColor> QVNCacheTableViewColor();

}  // namespace UIColor_Extensions
