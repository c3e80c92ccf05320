#pragma once
// UIColor(Extensions): the app's palette, opaque RGB colours.

#include "graphics/UIColor.h"

namespace UIColor_Extensions {

// 99, 214, 228: the accent (text-input tint, the selected home tab's title).
Ref<UIColor> QVNRedColor();
// 11, 35, 44: dark backgrounds.
Ref<UIColor> QVNBlackColor();
// 230, 230, 230: the cached-cars list's background.
Ref<UIColor> QVNCacheTableViewColor();

}  // namespace UIColor_Extensions
