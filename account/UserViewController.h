#pragma once
// The "my" page: the signed-in user's avatar and nickname, a red dot on the messages entry while
// the inbox has something unread, and entries to the message centre, friends, the own profile,
// feedback and the cached cars. The home screen pushes it (storyboard "MyUser",
// "UserViewController") after handing it the signed-in user; every appearance reads the stored
// user again and asks the inbox whether anything is unread.
//
// Main thread only.

#include "account/AccountScreen.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNUser.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"

class UserViewController : public AccountScreen,
                           public UIAlertViewDelegate,
                           public QVNAccountScreens::UserPageHandOver {
  public:
    std::string className() const override { return "UserViewController"; }

    const Ref<QVNUser>& user() const { return user_; }
    void setUser(const Ref<QVNUser>& user) override { user_ = user; }

    // Outlets.
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UIButton> messageBtn;

    // The unread dot: 10 × 10 points near the messages button's right end, made on first use.
    const Ref<UIImageView>& dotImage();
    bool hasDotImage() const { return dotImage_ != nullptr; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    void showMessage(const Ref<NSObject>& sender);
    void showFriends(const Ref<NSObject>& sender);
    void showUserInfo(const Ref<NSObject>& sender);
    void FeedbackBtnAction(const Ref<NSObject>& sender);
    void cleanCache(const Ref<NSObject>& sender);
    void fanhuiAction(const Ref<NSObject>& sender);

  private:
    void push(const std::string& storyboard, const std::string& identifier,
              const std::function<void(const Ref<UIViewController>&)>& prepare = {});

    Ref<QVNUser> user_;
    Ref<UIImageView> dotImage_;
};

// A plain screen of the storyboard that no code opens.
class MyViewController : public UIViewController {
  public:
    std::string className() const override { return "MyViewController"; }
};
