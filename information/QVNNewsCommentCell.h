#pragma once
// One comment under an article (the prototype "NewsCommentCell"): the author's avatar and name,
// the date, the text, and the like and reply buttons with their counts. The buttons and the
// avatar hand the cell's comment to the blocks the screen sets; the cell itself decides nothing.
// Its height follows the text (sizeThatFits), so template-cell measurement gives each row its own.
//
// Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "information/QVNNews.h"
#include "uikit/UIButton.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNNewsCommentCell : public UITableViewCell {
  public:
    static constexpr char kIdentifier[] = "NewsCommentCell";
    using CommentBlock = std::function<void(const Ref<QVNNewsComment>& comment)>;

    QVNNewsCommentCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNNewsCommentCell"; }
    // The storyboard prototype: the outlets built and connected, then awakeFromNib.
    static Ref<QVNNewsCommentCell> makePrototype(const std::string& reuseIdentifier);

    // Outlets.
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UILabel> contentLabel;
    Weak<UIButton> likeButton;
    Weak<UIButton> replyButton;
    Weak<UILabel> dateLabel;

    CommentBlock replyCommentBlock;
    CommentBlock likeBlock;
    CommentBlock checkUserInfoBlock;

    const Ref<QVNNewsComment>& comment() const { return comment_; }
    void setComment(const Ref<QVNNewsComment>& comment);

    void replyComment(const Ref<NSObject>& sender);
    void like(const Ref<NSObject>& sender);
    void checkUserInfo(const Ref<NSObject>& sender);

    void awakeFromNib() override;
    void layoutSubviews() override;
    CGSize sizeThatFits(CGSize size) const override;

  private:
    Ref<QVNNewsComment> comment_;
};
