#include "uikit/UIResponder.h"

#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIWindow.h"

bool UIResponder::becomeFirstResponder() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (isFirstResponder()) return true;
    if (!canBecomeFirstResponder()) return false;
    UIWindow* window = windowForFirstResponder();
    if (!window) return false;
    if (auto current = window->firstResponder()) {
        if (!current->canResignFirstResponder() || !current->resignFirstResponder()) return false;
        // The old responder's resign may have moved things about; ask again.
        if (window->firstResponder() && window->firstResponder().get() != this) return false;
    }
    auto me = std::dynamic_pointer_cast<UIResponder>(weak_from_this().lock());
    if (!me) return false;
    window->setFirstResponderInternal(me);
    return true;
}

bool UIResponder::resignFirstResponder() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    UIWindow* window = windowForFirstResponder();
    if (window && window->firstResponder().get() == this) window->setFirstResponderInternal(nullptr);
    return true;
}

bool UIResponder::isFirstResponder() const {
    UIWindow* window = windowForFirstResponder();
    return window && window->firstResponder().get() == this;
}

void UIResponder::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesBegan(touches, event);
}
void UIResponder::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesMoved(touches, event);
}
void UIResponder::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesEnded(touches, event);
}
void UIResponder::touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (auto next = nextResponder()) next->touchesCancelled(touches, event);
}

UIWindow* UIResponder::windowForFirstResponder() const {
    for (auto next = nextResponder(); next; next = next->nextResponder()) {
        if (auto* window = dynamic_cast<UIWindow*>(next.get())) return window;
        if (auto* view = dynamic_cast<UIView*>(next.get())) return view->windowPointer();
    }
    return nullptr;
}
