// The sign-in scenes of "MyUser": login, sign-up, password recovery, phone binding and password
// change.

#include "account/AccountArtwork.h"
#include "account/AccountScenes.h"
#include "account/ChangePasswordViewController.h"
#include "account/FindPasswordViewController.h"
#include "account/LoginViewController.h"
#include "account/MyUserStoryboard.h"
#include "account/MyUserStoryboardKit.h"
#include "account/SignUpViewController.h"
#include "account/VerifyPhoneViewController.h"
#include "app/UIColor+Extensions.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIStoryboard.h"

using namespace MyUserStoryboardKit;

namespace {

Ref<UIView> buildLogin(UIViewController& owner) {
    auto& screen = static_cast<LoginViewController&>(owner);
    using S = LoginViewController;
    auto root = screenRoot();
    CGFloat w = width();
    connect<S>(owner, titleBar(root, "登录"), &S::fanhuiAction, "fanhuiAction:");

    auto heading = label(root, CGRectMake(0, 100, w, 40), "改装社区", 26);
    heading->setTextAlignment(NSTextAlignmentCenter);
    heading->setFont(UIFont::boldSystemFontOfSize(26));
    auto name = field(root, CGRectMake(32, 170, w - 64, 44), "手机号");
    name->setKeyboardType(UIKeyboardTypeNumberPad);
    auto password = field(root, CGRectMake(32, 226, w - 64, 44), "密码", true);
    screen.userNameTextField = name;
    screen.passwordTextField = password;

    connect<S>(owner, button(root, CGRectMake(32, 296, w - 64, 46), "登录"), &S::login, "login:");
    auto signUp = button(root, CGRectMake(32, 354, 100, 32), "注册账号", false);
    signUp->setBackgroundColor(UIColor::clearColor());
    connect<S>(owner, signUp, &S::showSignUpView, "showSignUpView:");
    auto forgot = button(root, CGRectMake(w - 132, 354, 100, 32), "忘记密码", false);
    forgot->setBackgroundColor(UIColor::clearColor());
    connect<S>(owner, forgot, &S::FindPassword, "FindPassword:");

    auto quick = label(root, CGRectMake(0, 470, w, 24), "快速登录", 14);
    quick->setTextAlignment(NSTextAlignmentCenter);
    screen.kuaiSuDengLuLable = quick;

    // The two social buttons sit either side of the centre; the Weibo one is hidden at load.
    auto weibo = button(root, CGRectMake(0, 0, 64, 64), "微博", false);
    auto wechat = button(root, CGRectMake(w / 2 + 20, 510, 64, 64), "微信", false);
    wechat->setBackgroundColor(UIColor::colorWithRed(0.2, 0.7, 0.3, 1));
    weibo->layer()->setCornerRadius(32);
    wechat->layer()->setCornerRadius(32);
    weibo->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto centre = NSLayoutConstraint::constraintWithItem(
        weibo, NSLayoutAttributeCenterX, NSLayoutRelationEqual, root, NSLayoutAttributeCenterX, 1.0, -52.0);
    root->addConstraints({
        centre,
        NSLayoutConstraint::constraintWithItem(weibo, NSLayoutAttributeTop, NSLayoutRelationEqual, root,
                                               NSLayoutAttributeTop, 1.0, 510.0),
        NSLayoutConstraint::constraintWithItem(weibo, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                                               NSLayoutAttributeNotAnAttribute, 1.0, 64.0),
        NSLayoutConstraint::constraintWithItem(weibo, NSLayoutAttributeHeight, NSLayoutRelationEqual, nullptr,
                                               NSLayoutAttributeNotAnAttribute, 1.0, 64.0),
    });
    screen.xinLangLogin = weibo;
    screen.weiXinLogin = wechat;
    screen.xinLangCenterXConstraint = centre;
    connect<S>(owner, weibo, &S::xinLangLoginAction, "xinLangLoginAction:");
    connect<S>(owner, wechat, &S::weiXinBtnAction, "weiXinBtnAction:");
    return root;
}

// Phone, code with its button, and the password fields; answers the y below the last field.
struct CodeForm {
    Ref<UITextField> phone, code;
    Ref<UIButton> codeButton;
};

CodeForm codeForm(const Ref<UIView>& root, CGFloat y) {
    CGFloat w = width();
    CodeForm form;
    form.phone = field(root, CGRectMake(24, y, w - 48, 44), "手机号码");
    form.phone->setKeyboardType(UIKeyboardTypeNumberPad);
    form.code = field(root, CGRectMake(24, y + 56, w - 168, 44), "验证码");
    form.code->setKeyboardType(UIKeyboardTypeNumberPad);
    form.codeButton = button(root, CGRectMake(w - 136, y + 56, 112, 44), "获取验证码");
    // The counting title changes width every second: it takes the whole button, centred.
    form.codeButton->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentFill);
    form.codeButton->titleLabel()->setTextAlignment(NSTextAlignmentCenter);
    return form;
}

Ref<UIView> buildSignUp(UIViewController& owner) {
    auto& screen = static_cast<SignUpViewController&>(owner);
    using S = SignUpViewController;
    auto root = screenRoot();
    CGFloat w = width();
    connect<S>(owner, titleBar(root, "注册"), &S::fanhuiaction, "fanhuiaction:");
    CodeForm form = codeForm(root, 90);
    screen.phoneTextField = form.phone;
    screen.codeTextField = form.code;
    screen.identifyCodeBtn = form.codeButton;
    screen.nickNameTextField = field(root, CGRectMake(24, 202, w - 48, 44), "昵称");
    screen.passwordTextField = field(root, CGRectMake(24, 258, w - 48, 44), "密码(6-16位数字与字母)", true);
    screen.conformTextField = field(root, CGRectMake(24, 314, w - 48, 44), "确认密码", true);
    connect<S>(owner, button(root, CGRectMake(24, 384, w - 48, 46), "注册"), &S::signup, "signup:");
    return root;
}

Ref<UIView> buildFindPassword(UIViewController& owner) {
    auto& screen = static_cast<FindPasswordViewController&>(owner);
    using S = FindPasswordViewController;
    auto root = screenRoot();
    CGFloat w = width();
    connect<S>(owner, titleBar(root, "找回密码"), &S::goBack, "goBack:");
    CodeForm form = codeForm(root, 90);
    screen.phonenumberTextField = form.phone;
    screen.identifyCodeTextField = form.code;
    screen.identifyCodeBtn = form.codeButton;
    screen.PasswordTextfield = field(root, CGRectMake(24, 202, w - 48, 44), "新密码", true);
    screen.turePasswordTextField = field(root, CGRectMake(24, 258, w - 48, 44), "确认新密码", true);
    connect<S>(owner, button(root, CGRectMake(24, 328, w - 48, 46), "重置密码"), &S::findPasswordBtnAction,
               "findPasswordBtnAction:");
    return root;
}

Ref<UIView> buildVerifyPhone(UIViewController& owner) {
    auto& screen = static_cast<VerifyPhoneViewController&>(owner);
    using S = VerifyPhoneViewController;
    auto root = screenRoot();
    CGFloat w = width();
    connect<S>(owner, titleBar(root, "绑定手机"), &S::goBack, "goBack:");
    CodeForm form = codeForm(root, 90);
    screen.phoneNumber = form.phone;
    screen.verifyNumber = form.code;
    screen.verityBtn = form.codeButton;
    auto submit = UIButton::buttonWithType(UIButtonTypeCustom);
    submit->setFrame(CGRectMake((w - 280) / 2, 230, 280, 44));
    submit->setImage(AccountArtwork::imageNamed("tijiaobigdown"), UIControlStateNormal);
    root->addSubview(submit);
    screen.summitBtn = submit;
    connect<S>(owner, submit, &S::commitNumberBtn, "commitNumberBtn:");
    return root;
}

Ref<UIView> buildChangePassword(UIViewController& owner) {
    auto& screen = static_cast<ChangePasswordViewController&>(owner);
    using S = ChangePasswordViewController;
    auto root = screenRoot();
    CGFloat w = width();
    connect<S>(owner, titleBar(root, "修改密码"), &S::goBackAction, "goBackAction:");
    screen.oldPassword = field(root, CGRectMake(24, 90, w - 48, 44), "原密码", true);
    screen.NewPassword = field(root, CGRectMake(24, 146, w - 48, 44), "新密码", true);
    screen.TureNewPassword = field(root, CGRectMake(24, 202, w - 48, 44), "确认新密码", true);
    connect<S>(owner, button(root, CGRectMake(24, 272, w - 48, 46), "提交"), &S::submitAction,
               "submitAction:");
    return root;
}

template <class Screen>
void scene(const char* identifier, UIViewController::ViewLoader loader) {
    UIStoryboard::registerScene(AccountScenes::kStoryboard, identifier,
                                [loader](UIStoryboard&) -> Ref<UIViewController> {
                                    auto screen = make<Screen>();
                                    screen->setViewLoader(loader);
                                    return screen;
                                });
}

}  // namespace

namespace MyUserStoryboard {

void registerSignInScenes() {
    scene<LoginViewController>("LoginViewController", buildLogin);
    scene<SignUpViewController>("SignUpViewController", buildSignUp);
    scene<FindPasswordViewController>("FindPasswordViewController", buildFindPassword);
    scene<VerifyPhoneViewController>("VerifyPhoneViewController", buildVerifyPhone);
    scene<ChangePasswordViewController>("ChangePasswordViewController", buildChangePassword);
}

}  // namespace MyUserStoryboard
