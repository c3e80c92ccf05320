#pragma once
// Internal links between the event dispatcher, the gesture recognisers and the test driver.

#include <vector>

#include "foundation/NSObject.h"

class UIView;
class UIEvent;
class UITouch;
class UIGestureRecognizer;

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
// Whether the views from each touch's hit view up to the recogniser's own view let it begin (or
// recognise), as the phone platform decides:
// - an enabled control that answers taps itself (a button or a page control always; any control
//   with actions for touch events, value changes or its primary action) keeps its single-finger
//   single tap from a tap recogniser of an ancestor; a recogniser of the control itself or of a
//   view inside it still takes the tap, and other gestures (a pan, a double tap) are not held
//   back;
// - a scroll view's own pan does not begin while scrolling is off, nor for a drag whose main axis
//   (the larger of its two movements when it passes the threshold) the view cannot scroll along
//   (content not larger than the bounds on that axis and no alwaysBounce... for it), so the drag
//   goes to an enclosing scroll view: a vertical list in a horizontal pager leaves sideways drags
//   to the pager.
bool viewsLetBegin(UIGestureRecognizer& recognizer, const std::vector<Ref<UITouch>>& touches);

}  // namespace detail
