#pragma once
// The message centre: the three inbox categories side by side (private mail, Q&A replies, system
// notices), each a table with pull-down refresh and load-more, a title button per category with
// the unread count of its first page, and a clear action per category. The shown category's title
// is marked (accent colour, a bar under it) and only its own clear button is on show, named after
// it, so that a clear never empties a category the user is not looking at. A mail row opens the thread
// with its sender and marks that sender's mail read; a Q&A row opens the question (storyboard
// "MyRizUr") and marks the replies read. Coming back from a thread or a question refreshes that
// category once; leaving the centre marks the system notices read.
//
// Paging: each pull-down asks for the first page; load-more asks for the rows after the last one
// held, and only an empty or failed page ends the list.
//
// The "my" page pushes it (storyboard "MyUser", "NewMessageAllListController"). Main thread only.

#include <optional>
#include <string>

#include "account/AccountScreen.h"
#include "app/QVNMessage.h"
#include "app/QVNMessageCommunicator.h"
#include "foundation/NSNotificationCenter.h"
#include "uikit/UIAlertView.h"
#include "uikit/UIButton.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableView.h"

class NewMessageViewController : public AccountScreen,
                                 public UITableViewDataSource,
                                 public UITableViewDelegate,
                                 public UIAlertViewDelegate {
  public:
    ~NewMessageViewController() override;
    std::string className() const override { return "NewMessageViewController"; }

    static constexpr char kMailReadNotification[] = "updateRead";
    static constexpr char kQuestionReadNotification[] = "updateReadRromeQuestionVc";

    // Outlets.
    Weak<UITableView> siXinTableView;
    Weak<UITableView> rizUrTableView;
    Weak<UITableView> siTongTableView;
    Weak<UIButton> siXinTitle;
    Weak<UIButton> rizUrTitle;
    Weak<UIButton> siTongTitle;
    // The pager the three tables sit in, side by side.
    Weak<UIScrollView> pagesView;
    // The clear buttons, one per category, and the bar under the shown category's title.
    Weak<UIButton> siXinClear;
    Weak<UIButton> rizUrClear;
    Weak<UIButton> siTongClear;
    Weak<UIView> titleMark;

    // The category on show: 1 mail, 2 Q&A replies, 3 system notices.
    long shownCategory() const { return shown_ + 1; }

    std::optional<NSNumber> siXinCategory, rizUrCategory, siTongCategory;
    Array& siXinMessages();
    Array& rizUrMessages();
    Array& siTongMessages();
    const std::string& isFormMailistVcStr() const { return isFormMailistVcStr_; }
    const std::string& isFromeDetailQuestionStr() const { return isFromeDetailQuestionStr_; }

    // Declared for the storyboard; nothing uses them.
    std::optional<NSNumber> category;
    Weak<UITableView> tableView;
    Ref<QVNMessageCommunicator> messageCommunicator;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    void siXinCleanMessage(const Ref<NSObject>& sender);
    void rizUrCleanMessage(const Ref<NSObject>& sender);
    void xiTongCleanMessage(const Ref<NSObject>& sender);
    void goBackAction(const Ref<NSObject>& sender);
    // Shows a category's table (the title buttons).
    void showCategoryPage(const Ref<NSObject>& sender);

    void getStrFromMailistVC(const Ref<NSNotification>& notification);
    void getStrFromeDetailQuestionVC(const Ref<NSNotification>& notification);
    void updateReadWithCategory(long category, const std::optional<NSNumber>& senderUid);

    // ---- the tables -----------------------------------------------------------------------------
    long tableViewNumberOfRowsInSection(UITableView& table, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& table,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& table, const Ref<NSIndexPath>& indexPath) override;

    // ---- the pager (the tables share this delegate and are let be) -----------------------------
    void scrollViewDidEndDragging(UIScrollView& scrollView, bool willDecelerate) override;
    void scrollViewDidEndDecelerating(UIScrollView& scrollView) override;
    void scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) override;

  private:
    struct Page {
        long category = 0;
        Weak<UITableView> table;
        Weak<UIButton> title;
        Array messages;
        const char* titleFormat = "";
        Weak<UIButton> clear;
    };
    Page* pageOf(const UITableView& table);
    Page& page(long category);
    void setupTable(long category);
    void firstPageArrived(long category, const std::optional<Array>& messages);
    void nextPageArrived(long category, const std::optional<Array>& messages);
    void clean(long category);
    // Marks the page at `index` (0 to 2) as the one shown.
    void markShown(long index);
    // Marks the page the pager has come to rest on.
    void pagerSettled(UIScrollView& scrollView);

    Page pages_[3];
    long shown_ = 0;
    std::string isFormMailistVcStr_ = "NO";
    std::string isFromeDetailQuestionStr_ = "NO";
};
