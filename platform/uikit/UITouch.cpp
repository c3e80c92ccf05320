#include "uikit/UITouch.h"

#include <algorithm>

#include "uikit/UIGestureRecognizer.h"
#include "uikit/UIView.h"
#include "uikit/UIWindow.h"

UITouch::UITouch() {
    static std::uint64_t next = 1;
    serial_ = next++;
}

CGPoint UITouch::locationInView(const Ref<UIView>& view) const {
    if (!view) return location_;
    return view->convertPointFromView(location_, nullptr);
}

CGPoint UITouch::previousLocationInView(const Ref<UIView>& view) const {
    if (!view) return previous_;
    return view->convertPointFromView(previous_, nullptr);
}

Ref<UIWindow> UITouch::window() const {
    return asKind<UIWindow>(root_.lock());
}

std::vector<Ref<UIGestureRecognizer>> UITouch::gestureRecognizers() const {
    std::vector<Ref<UIGestureRecognizer>> result;
    for (const auto& weak : recognizers_) {
        if (auto recognizer = weak.lock()) result.push_back(recognizer);
    }
    return result;
}

void UITouch::moveTo(CGPoint location, double timestamp) {
    previous_ = location_;
    location_ = location;
    timestamp_ = timestamp;
}

void UITouch::removeGestureRecognizer(const UIGestureRecognizer* recognizer) {
    recognizers_.erase(std::remove_if(recognizers_.begin(), recognizers_.end(),
                                      [&](const Weak<UIGestureRecognizer>& w) {
                                          auto r = w.lock();
                                          return !r || r.get() == recognizer;
                                      }),
                       recognizers_.end());
}
