#include "studio/SaveView.h"

namespace {

template <class Action>
void send(const Action& action, const Ref<NSObject>& sender) {
    auto button = std::dynamic_pointer_cast<UIButton>(sender);
    if (action && button) action(button);
}

}  // namespace

void SaveView::btnAction(const Ref<NSObject>& sender) {
    send(buttonAction_, sender);
}

void ShareView::buttonActionSent(const Ref<NSObject>& sender) {
    send(buttonAction_, sender);
}

void ShareView::hideWeiXinBtn() {
    if (auto button = pengyouBtn.lock()) button->setHidden(true);
    if (auto button = weixinBtn.lock()) button->setHidden(true);
    if (auto constraint = xinLangWeiBoCenterXConstraint.lock()) constraint->setConstant(0);
}
