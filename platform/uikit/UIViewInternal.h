#pragma once
// Private links between views, layers, windows and the animation machinery.

#include <string>

#include "foundation/Value.h"
#include "graphics/CGGeometry.h"

class UIView;

namespace detail {

struct UIViewAccess {
    // The view's layer changed its geometry; oldSize is the bounds size before the change.
    static void layerGeometryChanged(UIView& view, CGSize oldSize);
};

// Whether an animation block is open (and animations are enabled) right now.
bool viewAnimationCaptureActive();
// Records a model change of an animatable property of a view inside an open animation block.
void recordViewAnimatableChange(UIView& view, const std::string& layerKey, const Value& from,
                                const Value& to);
// Installs the end-of-turn hook of the layout and display cycle (once).
void ensureDisplayCycleHook();

}  // namespace detail
