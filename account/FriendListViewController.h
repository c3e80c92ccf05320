#pragma once
// The friend list: the signed-in user's friends, fetched when the screen loads and on every pull.
// A row opens the mail thread with that friend; a tap on an avatar opens the friend's profile; the
// add button opens the add-friend screen. The "my" page pushes it (storyboard "MyUser",
// "FriendListViewController").
//
// Main thread only.

#include "account/AccountScreen.h"
#include "account/QVNFriendCell.h"
#include "uikit/UIAlertView.h"
#include "uikit/UITableView.h"

class AddFriendViewController;
class MailListlViewController;

class FriendListViewController : public AccountScreen,
                                 public UITableViewDataSource,
                                 public UITableViewDelegate,
                                 public UIAlertViewDelegate {
  public:
    std::string className() const override { return "FriendListViewController"; }

    static constexpr char kAddFriendIdentifier[] = "AddFriendViewcontroller";

    Weak<UITableView> tableView;
    Array& friends() { return friends_; }
    const Ref<MailListlViewController>& mailListVc() const { return mailListVc_; }
    const Ref<UIViewController>& userInfoVc() const { return userInfoVc_; }
    const Ref<AddFriendViewController>& addFriendVc() const { return addFriendVc_; }

    void viewDidLoad() override;
    void getFriendsAnswered(const std::optional<Array>& friends, const Ref<NSError>& error);

    void goToAddFriendVC(const Ref<NSObject>& sender);
    void fanhuiAction(const Ref<NSObject>& sender);

    long tableViewNumberOfRowsInSection(UITableView& table, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& table, const Ref<NSIndexPath>& indexPath) override;

  private:
    Array friends_ = Array::mutableArray();
    Ref<MailListlViewController> mailListVc_;
    Ref<UIViewController> userInfoVc_;
    Ref<AddFriendViewController> addFriendVc_;
};
