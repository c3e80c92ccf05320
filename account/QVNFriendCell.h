#pragma once
// A row of the friend list ("QVNFriendCell"): avatar and nickname. The avatar comes from the
// shared picture cache when it holds it, else from the network (and is then cached under its URL).
// A tap on the avatar, while somebody is signed in, calls tapUserImageBlock with the cell.
//
// Main thread only.

#include <functional>

#include "account/QVNFriend.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNFriendCell : public UITableViewCell {
  public:
    static constexpr char kIdentifier[] = "QVNFriendCell";
    using CellBlock = std::function<void(const Ref<QVNFriendCell>& cell)>;

    QVNFriendCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNFriendCell"; }
    static Ref<QVNFriendCell> makePrototype();

    // Outlets.
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;

    const Ref<QVNFriend>& myFriend() const { return myFriend_; }
    void setMyFriend(const Ref<QVNFriend>& myFriend);
    CellBlock tapUserImageBlock;

    void tapUserImageAction(const Ref<NSObject>& sender);
    CGSize sizeThatFits(CGSize size) const override { return CGSizeMake(size.width, 64); }

  private:
    Ref<QVNFriend> myFriend_;
};
