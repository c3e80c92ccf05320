#pragma once
// QVNRizUrDetailCell: one answer row, built in code and placed by a QVNRizUrDetailFrame: avatar,
// name, time, text, like and reply buttons, and up to five pictures. Picture views the answer
// does not use are hidden and emptied on every fill, so a reused row shows only its own pictures.
// Main thread only.

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "forum/QVNRizUrDetailFrame.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UIWebView.h"

class QVNRizUrDetailCell : public UITableViewCell {
  public:
    using CellBlock = std::function<void(const Ref<QVNRizUrDetailCell>& cell)>;

    QVNRizUrDetailCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier)
        : UITableViewCell(style, std::move(reuseIdentifier)) {}
    void didInit();
    std::string className() const override { return "QVNRizUrDetailCell"; }
    static std::string commentIdentifier() { return "DetailCommentCell"; }

    Ref<UIButton> userNameBtn;
    Ref<UILabel> userNameLab;
    Ref<UIButton> likeBtn;
    Ref<UIButton> commentBtn;
    Ref<UILabel> dateTimeLab;
    Ref<UILabel> titleLab;
    std::array<Ref<UIImageView>, 5> imageArray;

    const Ref<QVNRizUrDetailFrame>& commentFrame() const { return commentFrame_; }
    void setCommentFrame(const Ref<QVNRizUrDetailFrame>& frame);
    CellBlock likeBlock;
    CellBlock commentBlock;
    CellBlock tapUserImageblock;

    // Interface-file leftovers: nothing sets them.
    Ref<QVNQuestionComment> comment;
    bool isLike = false;
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UILabel> dateLabel;
    Weak<UIButton> replyButton;
    Weak<UIWebView> webView;
    Weak<UILabel> replyTextLabel;
    Weak<UIButton> likeButton;

    void settingFrame();
    void settingData();
    void likeButtonClick(const Ref<NSObject>& sender);
    void commentButtonClick(const Ref<NSObject>& sender);
    void tapUserImageAction(const Ref<NSObject>& sender);
    void awakeFromNib() override { isLike = true; }

  private:
    Ref<QVNRizUrDetailFrame> commentFrame_;
};
