#pragma once
// An inbox row. Two prototypes: "messageImageCell" (mail and Q&A replies: avatar, name, digest,
// date) and "messageCell" (system notices: digest, date and a holder picture beside which the
// unread marker sits). setMessage fills the row and shows the unread marker of a row that is
// unread: beside the avatar when the row has a sender picture, beside the holder for a notice.
//
// Main thread only.

#include "app/QVNMessage.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNMessageCell : public UITableViewCell {
  public:
    static constexpr char kImageIdentifier[] = "messageImageCell";
    static constexpr char kSystemIdentifier[] = "messageCell";
    // The reuse identifier of a category's rows.
    static const char* identifierForCategory(long category) {
        return category == QVNMessage::kCategorySystem ? kSystemIdentifier : kImageIdentifier;
    }

    QVNMessageCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNMessageCell"; }
    // The storyboard prototypes, built with their outlets.
    static Ref<QVNMessageCell> makePrototype(const std::string& identifier);

    // Outlets.
    Weak<UIImageView> userImageView;
    Weak<UILabel> userNameLabel;
    Weak<UILabel> digestLabel;
    Weak<UILabel> dateLabel;
    Weak<UIImageView> siTongHolderImage;

    const Ref<QVNMessage>& message() const { return message_; }
    void setMessage(const Ref<QVNMessage>& message);

    // The unread markers, made on first use (10 × 10, "dot_05").
    const Ref<UIImageView>& dotImage();
    const Ref<UIImageView>& siTongDotImage();

    CGSize sizeThatFits(CGSize size) const override;

  private:
    Ref<QVNMessage> message_;
    Ref<UIImageView> dotImage_;
    Ref<UIImageView> siTongDotImage_;
};
