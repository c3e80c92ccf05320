#include "uikit/UIEvent.h"

#include "uikit/UIEventDispatch.h"

#include "uikit/UIGestureRecognizer.h"
#include "uikit/UITouch.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

UIEvent::UIEvent() {
    detail::installEventDispatch();
    detail::installGestureHooks();
}

std::set<Ref<UITouch>> UIEvent::touchesForView(const Ref<UIView>& view) const {
    std::set<Ref<UITouch>> result;
    for (const auto& touch : touches_) {
        if (touch->view() == view) result.insert(touch);
    }
    return result;
}

std::set<Ref<UITouch>> UIEvent::touchesForWindow(const Ref<UIWindow>& window) const {
    std::set<Ref<UITouch>> result;
    for (const auto& touch : touches_) {
        if (touch->window() == window) result.insert(touch);
    }
    return result;
}

std::set<Ref<UITouch>>
UIEvent::touchesForGestureRecognizer(const Ref<UIGestureRecognizer>& recognizer) const {
    std::set<Ref<UITouch>> result;
    for (const auto& touch : touches_) {
        for (const auto& r : touch->gestureRecognizers()) {
            if (r == recognizer) result.insert(touch);
        }
    }
    return result;
}
