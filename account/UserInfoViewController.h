#pragma once
// A user's profile: avatar, nickname, sex, signature and, for the own profile only, the bound
// phone number. The own profile (opened with setUser:, which always shows the stored signed-in
// user) offers editing and signing out; another user's (opened with setUid:, fetched from the
// server on every appearance) offers adding or removing the friend and writing a private mail.
// There the phone row leaves, the signature row closing up to 8 points below the sex row, and the
// sign-out button becomes the friend picture alone (no title, no colour of its own).
// Storyboard "MyUser", "UserInfoViewController".
//
// Signing out forgets the stored user, posts "LoginSuccess", returns to the root and ends the
// analytics profile; nothing is asked first.
//
// Main thread only.

#include <optional>

#include "account/AccountScreen.h"
#include "app/QVNAccountScreens.h"
#include "app/QVNUser.h"
#include "controls/VHProgressHUD.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"

class MailListlViewController;

class UserInfoViewController : public AccountScreen, public QVNAccountScreens::UserInfoHandOver {
  public:
    std::string className() const override { return "UserInfoViewController"; }

    static constexpr char kSignedOutNotification[] = "LoginSuccess";

    const Ref<QVNUser>& user() const { return user_; }
    void setUser(const Ref<QVNUser>& user) override { user_ = user; }
    const std::optional<NSNumber>& uid() const { return uid_; }
    void setUid(const std::optional<NSNumber>& uid) override { uid_ = uid; }
    // The user the views show.
    const Ref<QVNUser>& boolUser() const { return boolUser_; }

    // Outlets.
    Weak<UIImageView> userImageView;
    Weak<UIButton> editButton;
    Weak<UILabel> nameLabel;
    Weak<UILabel> genderLabel;
    Weak<UILabel> signLabel;
    Weak<UIButton> changeButton;
    Weak<UILabel> phoneNumber;
    Weak<UILabel> phoneNumberLabel;
    Weak<UIButton> senderMessageBtn;
    Weak<NSLayoutConstraint> signTopMargin;
    Weak<NSLayoutConstraint> signLabelTopMargin;

    // Made on first use over the view, text-only.
    const Ref<VHProgressHUD>& hud();
    const Ref<MailListlViewController>& mailListVc() const { return mailListVc_; }
    // The HUD of the last friend change.
    const Ref<VHProgressHUD>& friendHUD() const { return friendHUD_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    void configureSubViewsWithUser(const Ref<QVNUser>& user);

    void logOutButtonTapped(const Ref<NSObject>& sender);
    void editButtonTapped(const Ref<NSObject>& sender);
    void senderMessageBtnAction(const Ref<NSObject>& sender);
    void fanhuiAction(const Ref<NSObject>& sender);

  private:
    bool isSignedInUser(const Ref<QVNUser>& user) const;

    Ref<QVNUser> user_;
    std::optional<NSNumber> uid_;
    Ref<QVNUser> boolUser_;
    Ref<VHProgressHUD> hud_;
    Ref<VHProgressHUD> friendHUD_;
    Ref<MailListlViewController> mailListVc_;
};
