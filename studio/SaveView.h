#pragma once
// The camera's save bar (SaveView: cancel 22, save 23, share 24) and share sheet (ShareView:
// WeChat moments 26, WeChat chat 27, Weibo 28, cancel 29), each loaded from its nib ("SaveView",
// "ShareView"). Every button sends its action, which hands the button to the owner's block; the
// owner tells the buttons apart by tag. Main thread only.

#include <functional>

#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UIView.h"

class SaveView : public UIView {
  public:
    using ButtonAction = std::function<void(const Ref<UIButton>& button)>;
    static constexpr char kNibName[] = "SaveView";

    using UIView::UIView;
    std::string className() const override { return "SaveView"; }

    const ButtonAction& buttonAction() const { return buttonAction_; }
    void setButtonAction(ButtonAction action) { buttonAction_ = std::move(action); }

    Weak<UIButton> cancelBtn;
    Weak<UIButton> saveBtn;
    Weak<UIButton> shareBtn;

    // The three buttons' action.
    void btnAction(const Ref<NSObject>& sender);

  private:
    ButtonAction buttonAction_;
};

class ShareView : public UIView {
  public:
    using ButtonAction = std::function<void(const Ref<UIButton>& button)>;
    static constexpr char kNibName[] = "ShareView";

    using UIView::UIView;
    std::string className() const override { return "ShareView"; }

    const ButtonAction& buttonAction() const { return buttonAction_; }
    void setButtonAction(ButtonAction action) { buttonAction_ = std::move(action); }

    Weak<UIButton> pengyouBtn;
    Weak<UIButton> weixinBtn;
    Weak<UIButton> weiboBtn;
    Weak<UIButton> cancelBtn;
    // The Weibo button's horizontal offset from the centre.
    Weak<NSLayoutConstraint> xinLangWeiBoCenterXConstraint;

    // The four buttons' action.
    void buttonActionSent(const Ref<NSObject>& sender);
    // Hides both WeChat buttons and centres the Weibo button.
    void hideWeiXinBtn();

  private:
    ButtonAction buttonAction_;
};
