#pragma once
// The refresh controls keep their labels, arrows, indicators and picture views weakly (the
// control's subview list owns them) and make each on first use; a view handed in replaces the
// current one. These helpers hold that pattern once, together with the per-state title tables of
// the controls with a state label. Main thread only, like the controls.

#include <map>
#include <optional>
#include <string>

#include "uikit/UIView.h"

namespace detail {

// The view in the slot; when there is none (never made, or gone), `makeView()` makes one, which
// joins the owner's subviews and fills the slot.
template <class View, class Make>
Ref<View> lazySubview(UIView& owner, Weak<View>& slot, Make&& makeView) {
    auto view = slot.lock();
    if (!view) {
        view = makeView();
        owner.addSubview(view);
        slot = view;
    }
    return view;
}

// Puts `view` in the slot: the previous view leaves the owner, the new one (if any) joins it
// unless it is already there. Nothing happens when the slot already holds `view`.
template <class View>
void replaceSubview(UIView& owner, Weak<View>& slot, const Ref<View>& view) {
    auto old = slot.lock();
    if (old == view) return;
    if (old) old->removeFromSuperview();
    slot = view;
    if (view && view->superviewPointer() != &owner) owner.addSubview(view);
}

// The title stored for a state, nil when there is none.
inline std::optional<std::string> refreshTitleForState(const std::map<int, std::string>& titles, int state) {
    auto it = titles.find(state);
    if (it == titles.end()) return std::nullopt;
    return it->second;
}

}  // namespace detail
