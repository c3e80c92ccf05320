#include "account/FeedbackViewController.h"

#include "account/AccountForms.h"
#include "app/KeyboardMove.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UIApplication.h"

FeedbackViewController::~FeedbackViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
}

void FeedbackViewController::viewDidLoad() {
    AccountScreen::viewDidLoad();
    if (auto text = FeedbackTextView.lock()) {
        text->setDelegate(selfAs<FeedbackViewController>());
        if (text->text().empty()) text->setText(std::string(kPlaceholder));
    }
}

void FeedbackViewController::viewWillAppear(bool animated) {
    AccountScreen::viewWillAppear(animated);
    if (observingKeyboard_) return;
    auto center = NSNotificationCenter::defaultCenter();
    auto self = selfAs<FeedbackViewController>();
    center->addObserver(self, &FeedbackViewController::keyboardWillChange,
                        std::string(UIKeyboardWillShowNotification));
    center->addObserver(self, &FeedbackViewController::keyboardWillChange,
                        std::string(UIKeyboardWillHideNotification));
    observingKeyboard_ = true;
}

void FeedbackViewController::viewWillDisappear(bool animated) {
    AccountScreen::viewWillDisappear(animated);
    NSNotificationCenter::defaultCenter()->removeObserver(static_cast<const NSObject*>(this));
    observingKeyboard_ = false;
}

void FeedbackViewController::keyboardWillChange(const Ref<NSNotification>& notification) {
    KeyboardMove move = KeyboardMove::fromNotification(*notification);
    CGFloat constant = move.showing ? move.height() + 70.0 : 200.0;
    Weak<NSLayoutConstraint> weak = feedbackBottomConstraint;
    Ref<UIView> root = view();
    move.animate([weak, root, constant] {
        if (auto constraint = weak.lock()) constraint->setConstant(constant);
        root->layoutIfNeeded();
    });
}

void FeedbackViewController::textViewDidBeginEditing(UITextView& textView) {
    if (textView.text() == kPlaceholder) textView.setText(std::string());
}

void FeedbackViewController::textViewDidEndEditing(UITextView& textView) {
    if (textView.text().empty()) textView.setText(std::string(kPlaceholder));
}

void FeedbackViewController::SubmitBtnAction(const Ref<NSObject>&) {
    NS_ASSERT_MAIN_THREAD();
    auto text = FeedbackTextView.lock();
    Dictionary params = Dictionary::mutableDictionary();
    if (auto token = QVNUserManager::shareObject()->currentUserToken()) {
        params.setObject("content", text ? text->text() : std::string());
        params.setObject("token", *token);
    }
    Weak<FeedbackViewController> weak = selfAs<FeedbackViewController>();
    QVNAPIClient::getWithURL(
        "feedback/add.do", Value(params),
        [weak](const Value&, const Ref<NSError>& error) {
            auto self = weak.lock();
            if (!self) return;
            auto box = VHProgressHUD::showHUDAddedTo(self->view(), true);
            self->replyHUD_ = box;
            if (!error) {
                box->setLabelText(std::string("反馈成功"));
                box->hide(true, 1.0);
                AccountForms::after(1.5, [weak] {
                    if (auto screen = weak.lock()) screen->popScreen();
                });
            } else if (error->code() == QVNResultCodeInvalidToken) {
                AccountForms::showAlert(std::string(AccountForms::kInvalidTokenTitle), std::nullopt);
                box->hide(true);
            } else {
                box->setLabelText(std::string("反馈失败"));
                box->hide(true, 1.0);
            }
        },
        [weak](const Ref<NSError>&) {
            auto self = weak.lock();
            if (!self) return;
            auto box = VHProgressHUD::showHUDAddedTo(self->view(), true);
            self->replyHUD_ = box;
            box->setLabelText(std::string("反馈失败"));
            box->hide(true, 1.0);
        });
}

void FeedbackViewController::FanhuiBtnAction(const Ref<NSObject>&) {
    popScreen();
}
