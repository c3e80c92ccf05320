#include "controls/UIView+RMExtension.h"

#include "foundation/NSMainThreadCheck.h"

namespace UIView_RMExtension {

namespace {
template <class Change>
void changeFrame(UIView& view, Change change) {
    CGRect frame = view.frame();
    change(frame);
    view.setFrame(frame);
}
}  // namespace

CGFloat pr_x(const UIView& view) {
    return view.frame().origin.x;
}
void setPr_x(UIView& view, CGFloat x) {
    NS_ASSERT_MAIN_THREAD();
    changeFrame(view, [x](CGRect& f) { f.origin.x = x; });
}
CGFloat pr_y(const UIView& view) {
    return view.frame().origin.y;
}
void setPr_y(UIView& view, CGFloat y) {
    NS_ASSERT_MAIN_THREAD();
    changeFrame(view, [y](CGRect& f) { f.origin.y = y; });
}
CGFloat pr_w(const UIView& view) {
    return view.frame().size.width;
}
void setPr_w(UIView& view, CGFloat width) {
    NS_ASSERT_MAIN_THREAD();
    changeFrame(view, [width](CGRect& f) { f.size.width = width; });
}
CGFloat pr_h(const UIView& view) {
    return view.frame().size.height;
}
void setPr_h(UIView& view, CGFloat height) {
    NS_ASSERT_MAIN_THREAD();
    changeFrame(view, [height](CGRect& f) { f.size.height = height; });
}
CGSize pr_size(const UIView& view) {
    return view.frame().size;
}
void setPr_size(UIView& view, CGSize size) {
    NS_ASSERT_MAIN_THREAD();
    changeFrame(view, [size](CGRect& f) { f.size = size; });
}
CGPoint pr_origin(const UIView& view) {
    return view.frame().origin;
}
void setPr_origin(UIView& view, CGPoint origin) {
    NS_ASSERT_MAIN_THREAD();
    changeFrame(view, [origin](CGRect& f) { f.origin = origin; });
}

}  // namespace UIView_RMExtension
