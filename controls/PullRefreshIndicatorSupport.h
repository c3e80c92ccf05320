#pragma once
// Layout shared by the controls that show an arrow or an activity indicator beside their text.

#include "uikit/UIActivityIndicatorView.h"
#include "uikit/UIImageView.h"
#include "uikit/UIView.h"

namespace detail {

// The centre of an arrow or indicator in a control of the given bounds: the middle when the text
// is not shown, else 100 points left of it.
CGPoint pullRefreshIndicatorCentre(CGRect bounds, bool textHidden);
// The arrow at its picture's size around the centre; the indicator takes the arrow's frame, or
// keeps its own size at that centre when the arrow has no picture.
void placeArrowAndIndicator(UIImageView& arrow, UIActivityIndicatorView& indicator, CGPoint centre);
// The control's indicator in the slot; when there is none, a new one of the style that hides
// itself when stopped, added to the control.
Ref<UIActivityIndicatorView> refreshIndicator(UIView& control, Weak<UIActivityIndicatorView>& slot,
                                              UIActivityIndicatorViewStyle style);

}  // namespace detail
