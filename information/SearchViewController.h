#pragma once
// SearchViewController: searches news or the Q&A forum by keyword and shows the results in pages.
// The type is chosen in a small drop-down under the type button ("资讯" news, "问吧" questions)
// and read when the user presses return, which starts a new search from the first page; a
// pull-down searches the field's text again from the first page, and load-more asks for the next
// page, both with the type of the last return. The request goes straight to the second server
// root ("search/search.do") through a plain request manager; success is "errmsg" "success".
// A result opens the article screen (news) or the forum's question detail (questions), by
// storyboard identifiers. A reply that belongs to an earlier search is dropped, and a page that
// failed is asked again by the next load-more.
//
// Main thread only.

#include <optional>
#include <string>

#include "information/QVNSearchCell.h"
#include "uikit/UIButton.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UIViewController.h"

class SearchViewController : public UIViewController,
                             public UITextFieldDelegate,
                             public UITableViewDelegate,
                             public UITableViewDataSource {
  public:
    std::string className() const override { return "SearchViewController"; }
    // The scene's layout (the storyboard resource): builds the view and connects the outlets and
    // actions of the screen it is given.
    static Ref<UIView> loadSceneView(UIViewController& owner);

    static constexpr char kNewsTitle[] = "资讯";
    static constexpr char kQuestionTitle[] = "问吧";

    // ---- outlets ---------------------------------------------------------------------------------
    Weak<UITextField> searchField;
    Weak<UIButton> newsBtn;
    Weak<UITableView> tableView;

    // ---- state -----------------------------------------------------------------------------------
    const Ref<UIButton>& selectedBtn() const { return selectedBtn_; }
    // The drop-down's buttons while it is open.
    const Ref<UIButton>& btn1() const { return btn1_; }
    const Ref<UIButton>& btn2() const { return btn2_; }
    // QVNNews rows (news) or detail::search::QuestionRow rows (questions).
    Array& resultList();
    long page() const { return page_; }
    long typeIndex() const { return typeIndex_; }

    // ---- the screen ------------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override {
        return UIInterfaceOrientationMaskPortrait;
    }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override {
        return UIInterfaceOrientationPortrait;
    }

    void cancelBtnClick(const Ref<NSObject>& sender);
    void newsBtnClick(const Ref<NSObject>& sender);
    void btnClick(const Ref<NSObject>& sender);
    std::optional<bool> textFieldShouldReturn(UITextField& textField) override;
    void loadSearchResultWith(std::optional<long> type, const std::string& keyword, long page);

    // ---- the table -------------------------------------------------------------------------------
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;
    void scrollViewWillBeginDragging(UIScrollView& scrollView) override;
    void pushToNewsDetailViewWithIndexPath(const Ref<NSIndexPath>& indexPath);
    void pushToQuestionDetailViewWithIndexPath(const Ref<NSIndexPath>& indexPath);
    // A video row's page (no search type gives video rows).
    void pushToDetailViewController();

  private:
    void closeDropDown();
    void endRefreshing();
    std::string fieldText() const;

    Ref<UIButton> selectedBtn_;
    Ref<UIButton> btn1_;
    Ref<UIButton> btn2_;
    std::optional<Array> resultList_;
    long page_ = 0;
    long typeIndex_ = 0;
    // Counts searches started from the first page; a reply to an older one is dropped.
    unsigned long searchSerial_ = 0;
};
