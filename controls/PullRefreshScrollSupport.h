#pragma once
// Helpers the refresh controls share for moving their scroll view.

#include "uikit/UIScrollView.h"

namespace detail {

// After a control gave back the inset it had borrowed: a scroll view that no finger holds and
// whose offset now lies outside its resting range moves back into it, as the platform's scroll
// view does when its inset shrinks (otherwise the list would stay pulled open). A scroll view
// being dragged or moving on its own is left alone.
void settleIntoContentRange(UIScrollView& scrollView);

}  // namespace detail
