#pragma once
// A speech-bubble row of a mail thread. Two prototypes of the thread's table: "MessageOtherCell"
// (the signed-in user's own mails, at the right) and "MessageMeCell" (the other user's, at the
// left). Rows size themselves to their text.
//
// Main thread only.

#include "account/QVNMail.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UITableViewCell.h"

class QVNMailCell : public UITableViewCell {
  public:
    static constexpr char kOwnIdentifier[] = "MessageOtherCell";
    static constexpr char kOtherIdentifier[] = "MessageMeCell";

    QVNMailCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNMailCell"; }
    static Ref<QVNMailCell> makePrototype(const std::string& identifier);

    // Outlets.
    Weak<UIButton> userIconButton;
    Weak<UIButton> contentButton;
    Weak<UILabel> dateLabel;
    Weak<UILabel> contentLabel;

    const Ref<QVNMail>& mail() const { return mail_; }
    void setMail(const Ref<QVNMail>& mail);
    // Not set by the app.
    std::optional<NSNumber> sender_uid;

    void awakeFromNib() override;
    CGSize sizeThatFits(CGSize size) const override;
    void layoutSubviews() override;

  private:
    bool own() const;
    Ref<QVNMail> mail_;
};
