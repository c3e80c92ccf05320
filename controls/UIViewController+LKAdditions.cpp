#include "controls/UIViewController+LKAdditions.h"

#include "uikit/UILayoutSupport.h"

namespace UIViewController_LKAdditions {

Ref<LKViewAttribute> lk_topLayoutGuide(const Ref<UIViewController>& controller) {
    if (!controller) return nullptr;
    return make<LKViewAttribute>(controller->view(), controller->topLayoutGuide(), NSLayoutAttributeBottom);
}

Ref<LKViewAttribute> lk_bottomLayoutGuide(const Ref<UIViewController>& controller) {
    if (!controller) return nullptr;
    return make<LKViewAttribute>(controller->view(), controller->bottomLayoutGuide(), NSLayoutAttributeTop);
}

}  // namespace UIViewController_LKAdditions
