#pragma once
// UILabel(PullRefresh): the factory of the refresh controls' state and time labels, so that every
// header and footer writes in the same style: bold 14-point system font, grey 90/255, centred, on
// a clear background, stretching with its superview's width.

#include "uikit/UILabel.h"

namespace UILabel_PullRefresh {

// The labels' text colour: 90/255 on all three channels, opaque.
Ref<UIColor> labelTextColor();
Ref<UILabel> label();

}  // namespace UILabel_PullRefresh
