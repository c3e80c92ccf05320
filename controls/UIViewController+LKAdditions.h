#pragma once
// UIViewController(LKAdditions): the controller's layout guides as builder attributes. The top
// guide's bottom edge and the bottom guide's top edge are what content is laid against.

#include "controls/LKViewAttribute.h"
#include "uikit/UIViewController.h"

namespace UIViewController_LKAdditions {
// View: the controller's view; item: its top layout guide; attribute: bottom.
Ref<LKViewAttribute> lk_topLayoutGuide(const Ref<UIViewController>& controller);
// View: the controller's view; item: its bottom layout guide; attribute: top.
Ref<LKViewAttribute> lk_bottomLayoutGuide(const Ref<UIViewController>& controller);
}  // namespace UIViewController_LKAdditions
