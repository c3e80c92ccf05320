#include "app/ScreenParts.h"

#include "app/UIColor+Extensions.h"
#include "graphics/UIColor.h"
#include "graphics/UIFont.h"
#include "uikit/UIScreen.h"

namespace ScreenParts {

Ref<UIView> screenRoot() {
    auto root = make<UIView>(UIScreen::mainScreen()->bounds());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->setBackgroundColor(UIColor::whiteColor());
    return root;
}

Ref<UILabel> label(CGRect frame, CGFloat fontSize, const Ref<UIColor>& colour) {
    auto made = make<UILabel>(frame);
    made->setFont(UIFont::systemFontOfSize(fontSize));
    made->setTextColor(colour);
    return made;
}

Ref<UIButton> barButton(const std::string& title, CGRect frame, const Ref<UIColor>& colour) {
    auto button = UIButton::buttonWithType(UIButtonTypeCustom);
    button->setFrame(frame);
    button->setTitle(title, UIControlStateNormal);
    button->setTitleColor(colour, UIControlStateNormal);
    button->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    return button;
}

Ref<UIView> topBar(const Ref<UIView>& root, Ref<UILabel>& title) {
    const CGFloat W = root->bounds().size.width;
    auto bar = make<UIView>(CGRectMake(0, 0, W, kTopBarHeight));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    bar->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    title = make<UILabel>(CGRectMake(70, 20, W - 140, 44));
    title->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    title->setTextAlignment(NSTextAlignmentCenter);
    title->setTextColor(UIColor::whiteColor());
    title->setFont(UIFont::boldSystemFontOfSize(17));
    bar->addSubview(title);
    root->addSubview(bar);
    return bar;
}

BottomPin pinToBottom(const Ref<UIView>& root, const Ref<UIView>& bar, CGFloat height) {
    bar->setTranslatesAutoresizingMaskIntoConstraints(false);
    BottomPin pin;
    pin.bottom = NSLayoutConstraint::constraintWithItem(root, NSLayoutAttributeBottom, NSLayoutRelationEqual,
                                                        bar, NSLayoutAttributeBottom, 1.0, 0.0);
    pin.height =
        NSLayoutConstraint::constraintWithItem(bar, NSLayoutAttributeHeight, NSLayoutRelationEqual, nullptr,
                                               NSLayoutAttributeNotAnAttribute, 1.0, height);
    root->addConstraints({
        pin.bottom,
        pin.height,
        NSLayoutConstraint::constraintWithItem(bar, NSLayoutAttributeLeft, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeLeft, 1.0, 0.0),
        NSLayoutConstraint::constraintWithItem(bar, NSLayoutAttributeRight, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeRight, 1.0, 0.0),
    });
    return pin;
}

}  // namespace ScreenParts
