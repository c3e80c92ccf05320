#pragma once
// The add-friend screen: a keyword, the server's user search, and a result row per user with an
// add button (hidden for friends) and the user's profile behind the avatar. The friend list pushes
// it (storyboard "MyUser", "AddFriendViewcontroller").
//
// A successful add marks the record a friend and, a second later, hides the row's button; a
// failed one leaves the record as it was. Every search answer ends the pull-down refresh. Each
// message shows in a HUD of its own.
//
// Main thread only.

#include "account/AccountScreen.h"
#include "account/QVNAddFriendCell.h"
#include "controls/VHProgressHUD.h"
#include "uikit/UIAlertView.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"

class AddFriendViewController : public AccountScreen,
                                public UITableViewDataSource,
                                public UITableViewDelegate,
                                public UITextFieldDelegate,
                                public UIAlertViewDelegate {
  public:
    std::string className() const override { return "AddFriendViewController"; }

    // Outlets.
    Weak<UITextField> seachfiled;
    Weak<UITableView> addFriendTableView;

    Array& friendsArr() { return friendsArr_; }
    const Ref<UIViewController>& userInfoVc() const { return userInfoVc_; }
    // The HUD of the last message.
    const Ref<VHProgressHUD>& hud() const { return hud_; }

    void viewDidLoad() override;
    std::optional<bool> textFieldShouldReturn(UITextField& textField) override;
    void loadSeachResultWithKeyword(const std::string& keyword);
    void addFfriendWithCell(const Ref<QVNAddFriendCell>& cell);
    void goBack(const Ref<NSObject>& sender);

    long tableViewNumberOfRowsInSection(UITableView& table, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) override;

  private:
    void showMessage(const std::string& text, double seconds);
    void showInvalidToken();

    Array friendsArr_ = Array::mutableArray();
    Ref<UIViewController> userInfoVc_;
    Ref<VHProgressHUD> hud_;
};
