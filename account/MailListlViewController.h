#pragma once
// A private-mail thread between the signed-in user and one other user: speech-bubble rows above a
// text entry bar that rises with the keyboard. Opened from the message centre, the inbox list
// page, the friend list and another user's profile (storyboard "MyUser",
// "MailListlViewController"). The correspondent is `friendUid`, else the sender of `message`.
//
// The whole thread is fetched when the screen loads and on every pull. A sent mail joins the rows
// only once the server accepted it, with the local time and the user's own avatar. Leaving a
// thread opened from the message centre posts "updateRead" so that the centre refreshes its mail.
//
// Main thread only.

#include <optional>

#include "account/AccountScreen.h"
#include "account/QVNMail.h"
#include "app/QVNMessage.h"
#include "foundation/NSDateFormatter.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIAlertView.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UITextView.h"

class MailListlViewController : public AccountScreen,
                                public UITableViewDataSource,
                                public UITableViewDelegate,
                                public UIAlertViewDelegate {
  public:
    ~MailListlViewController() override;
    std::string className() const override { return "MailListlViewController"; }

    static constexpr char kMailReadNotification[] = "updateRead";

    const std::optional<NSNumber>& friendUid() const { return friendUid_; }
    void setFriendUid(const std::optional<NSNumber>& uid) { friendUid_ = uid; }
    const Ref<QVNMessage>& message() const { return message_; }
    void setMessage(const Ref<QVNMessage>& message) { message_ = message; }
    bool isFromMessafeVc() const { return isFromMessafeVc_; }
    void setIsFromMessafeVc(bool from) { isFromMessafeVc_ = from; }
    // friendUid, else the sender of message.
    std::optional<NSNumber> correspondent() const;

    // Outlets.
    Weak<UITableView> tableView;
    Weak<UITextView> textView;
    Weak<UITextField> textField;
    Weak<NSLayoutConstraint> bottmViewBottomConstraint;

    // "yyyy-MM-dd HH:mm:ss", made on first use.
    const Ref<NSDateFormatter>& dateFormatter();
    Array& mails();

    void viewDidLoad() override;

    void sendMail(const Ref<NSObject>& sender);
    void goBack(const Ref<NSObject>& sender);
    void keyboardWillShow(const Ref<NSNotification>& notification);
    void keyboardWillHide(const Ref<NSNotification>& notification);

    long tableViewNumberOfRowsInSection(UITableView& table, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) override;
    void scrollViewWillBeginDragging(UIScrollView& scrollView) override;

  private:
    void animateBar(const Ref<NSNotification>& notification, CGFloat constant);

    std::optional<NSNumber> friendUid_;
    Ref<QVNMessage> message_;
    bool isFromMessafeVc_ = false;
    Ref<NSDateFormatter> dateFormatter_;
    Array mails_ = Array::mutableArray();
};
