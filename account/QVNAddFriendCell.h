#pragma once
// A result row of the user search ("AddFriendCell"): avatar, nickname and an add button, hidden
// for users who already are friends. The add button calls addFriendBlock with the cell; a tap on
// the avatar calls tapUserImageBlock. The row's isFriend flag is changed by the screen once the
// server agrees, not before.
//
// Main thread only.

#include <functional>

#include "account/QVNFriend.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"

class QVNAddFriendCell : public UITableViewCell {
  public:
    static constexpr char kIdentifier[] = "AddFriendCell";
    using CellBlock = std::function<void(const Ref<QVNAddFriendCell>& cell)>;

    QVNAddFriendCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNAddFriendCell"; }
    static Ref<QVNAddFriendCell> makePrototype();
    // Dequeues a row of the table (without index path).
    static Ref<QVNAddFriendCell> cellWithTableView(UITableView& tableView);

    // Outlets.
    Weak<UIImageView> userImage;
    Weak<UILabel> userName;
    Weak<UIButton> addFriendBtn;

    const Ref<QVNFriend>& friends() const { return friends_; }
    void setFriends(const Ref<QVNFriend>& record);
    CellBlock addFriendBlock;
    CellBlock tapUserImageBlock;

    void addFriend(const Ref<NSObject>& sender);
    void tapUserImageAction(const Ref<NSObject>& sender);
    CGSize sizeThatFits(CGSize size) const override { return CGSizeMake(size.width, 64); }

  private:
    Ref<QVNFriend> friends_;
};
