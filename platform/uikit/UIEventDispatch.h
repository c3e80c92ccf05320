#pragma once
// Internal links between the event dispatcher, the gesture recognisers and the test driver.

#include <vector>

#include "foundation/NSObject.h"

class UIView;
class UIEvent;
class UITouch;

namespace detail {

// Sets the application's and the windows' dispatchers (once).
void installEventDispatch();
// Delivers the event's touches of the tree rooted at `root` (a window or a root view): hit testing
// of new touches, recognisers first, then the views.
void deliverTouchEvent(UIView& root, const Ref<UIEvent>& event);
// The event being delivered, if any.
Ref<UIEvent> currentTouchEvent();
// The views stop hearing of these touches; those that heard them begin get touchesCancelled.
void cancelTouchesInViews(const std::vector<Ref<UITouch>>& touches);
// Delivers held touch phases whose recognisers have decided.
void flushHeldTouches();

}  // namespace detail
