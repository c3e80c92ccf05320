#include "app/UIColor+Extensions.h"

namespace {
Ref<UIColor> rgb(int red, int green, int blue) {
    return UIColor::colorWithRed(red / 255.0, green / 255.0, blue / 255.0, 1.0);
}
}  // namespace

namespace UIColor_Extensions {

Ref<UIColor> QVNRedColor() {
    return rgb(99, 214, 228);
}

Ref<UIColor> QVNDeepAccentColor() {
    return rgb(0, 122, 138);
}

Ref<UIColor> QVNBlackColor() {
    return rgb(11, 35, 44);
}

Ref<UIColor> QVNCacheTableViewColor() {
    return rgb(230, 230, 230);
}

}  // namespace UIColor_Extensions
