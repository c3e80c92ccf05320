#pragma once
// The paged form of the inbox: one full-screen list page per category (mail, Q&A replies, system
// notices) side by side in a horizontally paged scroll view, with a tab button per category. Pages
// are added to the scroll view when first scrolled to and kept. Reached only through a storyboard
// connection (identifier "MessageAllListController"); each page is a MessageListViewController.
//
// Main thread only.

#include <vector>

#include "account/AccountScreen.h"
#include "app/ArrayDataSource.h"
#include "app/QVNMessage.h"
#include "uikit/UIButton.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableViewController.h"

class MessageAllListController : public AccountScreen, public UIScrollViewDelegate {
  public:
    std::string className() const override { return "MessageAllListController"; }

    // Outlets.
    Weak<UIScrollView> scrollView;
    Weak<UIButton> mailButton;
    Weak<UIButton> rizurButton;
    Weak<UIButton> systemButton;

    const Ref<UIButton>& selectedButton() const { return selectedButton_; }
    const std::vector<Ref<UIButton>>& buttons() const { return buttons_; }

    void viewDidLoad() override;

    void showMail(const Ref<NSObject>& sender);
    void showRizUr(const Ref<NSObject>& sender);
    void showSystem(const Ref<NSObject>& sender);
    void fanhuiAction(const Ref<NSObject>& sender);

    void scrollViewDidScroll(UIScrollView& scrollView) override;
    void scrollViewDidEndScrollingAnimation(UIScrollView& scrollView) override;
    void scrollViewDidEndDecelerating(UIScrollView& scrollView) override;

  private:
    void show(long index);
    void select(const Ref<UIButton>& button);
    void recolour();
    void addPageIfNeeded(UIScrollView& scrollView);

    Ref<UIButton> selectedButton_;
    std::vector<Ref<UIButton>> buttons_;
};

// One list page of the paged inbox: the first page of its category on load and on every pull,
// more rows at the bottom. A mail row opens its thread; other rows do nothing.
class MessageListViewController : public UITableViewController {
  public:
    std::string className() const override { return "MessageListViewController"; }

    const std::optional<NSNumber>& category() const { return category_; }
    void setCategory(const std::optional<NSNumber>& category) { category_ = category; }
    const Ref<ArrayDataSource>& messagesDataSource() const { return messagesDataSource_; }
    // The reuse identifier of the page's rows.
    std::string cellIdentifier() const;

    void viewDidLoad() override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& table,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& table, const Ref<NSIndexPath>& indexPath) override;
    long tableViewNumberOfRowsInSection(UITableView& table, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& table,
                                                        const Ref<NSIndexPath>& indexPath) override;

  private:
    void firstPageArrived(const std::optional<Array>& messages);
    void nextPageArrived(const std::optional<Array>& messages);

    std::optional<NSNumber> category_;
    Ref<ArrayDataSource> messagesDataSource_;
};
