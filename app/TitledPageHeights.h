#pragma once
// The heights in a detail header that holds a title of many lines over a web page (the article's,
// the question's). Each height is kept in a height constraint of its view, which the header's
// layoutSubviews reads; once the page has loaded the header measures its title and takes the
// page's height. Main thread only.

#include "uikit/NSLayoutConstraint.h"
#include "uikit/UILabel.h"
#include "uikit/UIWebView.h"

struct TitledPageHeights {
    Ref<NSLayoutConstraint> title;
    Ref<NSLayoutConstraint> page;

    // Constraints at 0 for `titleLabel` and `web`, kept alive by `header`.
    static TitledPageHeights makeFor(UIView& header, const Ref<UILabel>& titleLabel,
                                     const Ref<UIWebView>& web);

    // Puts the title's measured height, rounded up, and `web`'s content height into the
    // constraints, and makes `header` as tall as both and `chrome`, laid out at once. Answers the
    // title's height.
    static CGFloat fit(UIView& header, CGRect measuredTitle, const Ref<UIWebView>& web,
                       const Ref<NSLayoutConstraint>& titleConstraint,
                       const Ref<NSLayoutConstraint>& pageConstraint, CGFloat chrome);
};
