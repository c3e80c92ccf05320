#include "account/MyUserStoryboardKit.h"

#include "app/UIColor+Extensions.h"
#include "uikit/UIScreen.h"

namespace MyUserStoryboardKit {

CGFloat width() {
    return UIScreen::mainScreen()->bounds().size.width;
}

CGFloat height() {
    return UIScreen::mainScreen()->bounds().size.height;
}

Ref<UIView> screenRoot(bool dark) {
    auto root = make<UIView>(UIScreen::mainScreen()->bounds());
    root->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    root->setBackgroundColor(dark ? UIColor_Extensions::QVNBlackColor()
                                  : UIColor::colorWithRed(240 / 255.0, 242 / 255.0, 244 / 255.0, 1));
    return root;
}

Ref<UIButton> titleBar(const Ref<UIView>& root, const std::string& title) {
    auto bar = make<UIView>(CGRectMake(0, 0, width(), kBarHeight));
    bar->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    bar->setBackgroundColor(UIColor_Extensions::QVNBlackColor());
    root->addSubview(bar);
    auto heading = make<UILabel>(CGRectMake(60, 20, width() - 120, 44));
    heading->setText(title);
    heading->setTextAlignment(NSTextAlignmentCenter);
    heading->setTextColor(UIColor::whiteColor());
    heading->setFont(UIFont::boldSystemFontOfSize(18));
    bar->addSubview(heading);
    auto back = UIButton::buttonWithType(UIButtonTypeCustom);
    back->setFrame(CGRectMake(4, 20, 56, 44));
    back->setTitle(std::string("返回"), UIControlStateNormal);
    back->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    back->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    bar->addSubview(back);
    return back;
}

Ref<UITextField> field(const Ref<UIView>& parent, CGRect frame, const std::string& placeholder, bool secure) {
    auto text = make<UITextField>(frame);
    text->setBorderStyle(UITextBorderStyleRoundedRect);
    text->setBackgroundColor(UIColor::whiteColor());
    text->setPlaceholder(placeholder);
    text->setFont(UIFont::systemFontOfSize(15));
    if (secure) text->setSecureTextEntry(true);
    parent->addSubview(text);
    return text;
}

Ref<UIButton> button(const Ref<UIView>& parent, CGRect frame, const std::string& title, bool accent) {
    auto control = UIButton::buttonWithType(UIButtonTypeCustom);
    control->setFrame(frame);
    control->setTitle(title, UIControlStateNormal);
    control->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
    control->setTitleColor(UIColor::lightGrayColor(), UIControlStateDisabled);
    control->titleLabel()->setFont(UIFont::systemFontOfSize(16));
    control->setBackgroundColor(accent ? UIColor_Extensions::QVNDeepAccentColor()
                                       : UIColor::colorWithWhite(1, 0.15));
    control->layer()->setCornerRadius(4);
    parent->addSubview(control);
    return control;
}

Ref<UILabel> label(const Ref<UIView>& parent, CGRect frame, const std::string& text, CGFloat size,
                   bool white) {
    auto shown = make<UILabel>(frame);
    shown->setText(text);
    shown->setFont(UIFont::systemFontOfSize(size));
    shown->setTextColor(white ? UIColor::whiteColor() : UIColor::darkGrayColor());
    parent->addSubview(shown);
    return shown;
}

Ref<UIView> row(const Ref<UIView>& parent, CGFloat y, CGFloat rowHeight, const std::string& caption) {
    auto line = make<UIView>(CGRectMake(0, y, width(), rowHeight));
    line->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    line->setBackgroundColor(UIColor::whiteColor());
    parent->addSubview(line);
    if (!caption.empty()) label(line, CGRectMake(16, 0, 90, rowHeight), caption, 15, false);
    return line;
}

Ref<UITableView> table(const Ref<UIView>& parent, CGRect frame) {
    auto list = make<UITableView>(frame);
    list->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    list->setBackgroundColor(UIColor::whiteColor());
    parent->addSubview(list);
    return list;
}

}  // namespace MyUserStoryboardKit
