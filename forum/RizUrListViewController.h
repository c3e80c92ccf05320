#pragma once
// RizUrListViewController: the Q&A page of the home screen. The questions in rows laid out ahead
// of time; the first page by pulling down (and on the first showing, and again after "RefreshView"
// from the detail or publishing screen), the next pages by the automatic footer; a brand filter
// from a drop-down list, a keyword search from the field; likes; and the detail, publishing,
// profile and login screens.
//
// Paging: the plain list by the last question's id; a brand filter or a keyword search by page
// numbers of ten, where a first page of ten rows makes the next page 1 and anything shorter ends
// paging. With nothing held the footer ends at once.
//
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "controls/VHProgressHUD.h"
#include "forum/QVNQuestion.h"
#include "forum/QVNRizUrCell.h"
#include "forum/QVNRizUrFrame.h"
#include "uikit/UIButton.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITextField.h"
#include "uikit/UIViewController.h"

class RizUrListViewController : public UIViewController,
                                public UITableViewDataSource,
                                public UITableViewDelegate,
                                public UITextFieldDelegate {
  public:
    RizUrListViewController();
    std::string className() const override { return "RizUrListViewController"; }

    static constexpr char kIdentifier[] = "RizUrListViewController";
    static constexpr char kCellIdentifier[] = "rizurCell";
    static constexpr char kBrandCellIdentifier[] = "QVNRizUrBrandCell";

    // Outlets.
    Weak<UIButton> brandButton;
    Weak<UIView> topView;
    Weak<UITableView> tableView;
    Weak<UIView> seachView;
    Weak<UITextField> seachfieldd;

    std::vector<Ref<QVNMyCarBrand>>& carBrands();
    std::vector<Ref<QVNQuestion>>& questions() { return questions_; }
    std::vector<Ref<QVNRizUrFrame>>& questionFrames() { return questionFrames_; }
    const Ref<VHProgressHUD>& hud();
    const Ref<UITableView>& brandTableView() const { return brandTableView_; }
    bool showBrandTableView() const { return showBrandTableView_; }
    const std::optional<NSNumber>& brandId() const { return brandId_; }
    const std::optional<std::string>& text() const { return text_; }
    long page() const { return page_; }
    const Ref<UIView>& backgroundMaskView() const { return backgroundMaskView_; }
    const Ref<UILabel>& questionLab() const { return questionLab_; }
    bool oneView() const { return OneView_; }

    // ---- actions --------------------------------------------------------------------------------
    void buttonClick(const Ref<NSObject>& sender);
    void setupBackgroundMaskView();
    void backgroundMaskViewTapped();
    void submitQuestion(const Ref<NSObject>& sender);
    void refreshView();
    void letTheLabDismiss();
    void LetTheLabDismiss();
    void afterDelay(double seconds, std::function<void()> block);
    void configureCell(const Ref<QVNRizUrCell>& cell, const Ref<NSIndexPath>& indexPath);
    void handleclickQuestionLikeBtnWithQuestion(const Ref<QVNQuestion>& question);

    // ---- the screen -----------------------------------------------------------------------------
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;

    // ---- tables, field ----------------------------------------------------------------------------
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;
    void scrollViewDidScroll(UIScrollView& scrollView) override;
    void textFieldDidEndEditing(UITextField& textField) override;
    std::optional<bool> textFieldShouldReturn(UITextField& textField) override;

  private:
    void firstPageRefresh();
    void nextPageLoad();
    void replaceRows(const QVNQuestion::List& rows);
    void plainResult(const std::optional<QVNQuestion::List>& list, const Ref<NSError>& error);
    void searchResult(const std::optional<QVNQuestion::List>& list, const Ref<NSError>& error);
    void openQuestion(const Ref<QVNQuestion>& question);
    void chooseBrand(long row);
    long rowOf(const Ref<QVNQuestion>& question) const;
    bool isBrandTable(const UITableView& table) const { return brandTableView_.get() == &table; }
    void endHeaderRefreshing();

    std::vector<Ref<QVNMyCarBrand>> carBrands_;
    bool carBrandsMade_ = false;
    Ref<UITableView> brandTableView_;
    bool showBrandTableView_ = false;
    std::vector<Ref<QVNQuestion>> questions_;
    std::vector<Ref<QVNRizUrFrame>> questionFrames_;
    std::optional<NSNumber> brandId_;
    std::optional<std::string> text_;
    std::optional<std::string> textbool_;
    // The keyword whose results the rows show (the next pages go on with it); nullopt for the plain
    // list and for a brand alone.
    std::optional<std::string> searchKeyword_;
    long page_ = 0;
    Ref<UIView> backgroundMaskView_;
    Ref<VHProgressHUD> hud_;
    Ref<UILabel> questionLab_;
    bool OneView_ = false;
    bool observing_ = false;
};
