#pragma once
// The tuning-list screens' list: the signed-in user's lists, fetched once on load, with a
// checkmark on the chosen one. Delete removes the chosen list on the server and from the rows;
// check opens its detail (segue "ShowTuningListDetailFromList"), which may read the list back into
// the studio through this screen's delegate. A tap on the empty background closes the screen.
//
// Landscape only; presented over the car studio with a clear background. Main thread only.

#include <optional>
#include <string>

#include "app/ArrayDataSource.h"
#include "app/QVNTuningList.h"
#include "controls/VHProgressHUD.h"
#include "studio/HomeStandInPages.h"
#include "uikit/UIButton.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UITableView.h"
#include "uikit/UIViewController.h"

// Told which list was read (the studio adopts it).
class TuningListTableViewControllerDelegate {
  public:
    virtual ~TuningListTableViewControllerDelegate() = default;
    virtual void didSelectTuningList(const Ref<QVNTuningList>& tuningList) = 0;
};

// Told when the detail's list is read (the list screen adopts it).
class TuningDetailViewControllerDelegate {
  public:
    virtual ~TuningDetailViewControllerDelegate() = default;
    virtual void didReadTuningList(const Ref<QVNTuningList>& tuningList) = 0;
};

class TuningListTableViewController : public UIViewController,
                                      public UIGestureRecognizerDelegate,
                                      public UITableViewDelegate,
                                      public TuningDetailViewControllerDelegate {
  public:
    std::string className() const override { return "TuningListTableViewController"; }

    // The cell identifier of the rows and the segue to the detail.
    static constexpr char kCellIdentifier[] = "TuningListCell";
    static constexpr char kDetailSegue[] = "ShowTuningListDetailFromList";

    Ref<TuningListTableViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TuningListTableViewControllerDelegate>& delegate) { delegate_ = delegate; }
    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) { activity_ = activity; }

    // Outlets.
    Weak<UIButton> deleteButton;
    Weak<UIButton> checkButton;
    Weak<UITableView> tableView;

    const Ref<ArrayDataSource>& tuningsDataSource() const { return tuningsDataSource_; }
    // Made on first use over the view and added to it, not shown.
    const Ref<VHProgressHUD>& hud();
    const Ref<QVNTuningList>& selectedTuningList() const { return selectedTuningList_; }
    // Also marks the list selected.
    void setSelectedTuningList(const Ref<QVNTuningList>& list);

    // ---- the screen ---------------------------------------------------------------------------
    void viewDidLoad() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override;

    // ---- actions ------------------------------------------------------------------------------
    void deleteTuningList(const Ref<NSObject>& sender);
    void showTuningListDetail(const Ref<NSObject>& sender);
    void cancel(const Ref<NSObject>& sender);

    // ---- delegates ----------------------------------------------------------------------------
    void didReadTuningList(const Ref<QVNTuningList>& tuningList) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;
    std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer,
                                                            const Ref<UITouch>& touch) override;

  private:
    void listsArrived(const std::optional<Array>& lists, const Ref<NSError>& error);
    void setButtonsEnabled(bool enabled);

    Weak<TuningListTableViewControllerDelegate> delegate_;
    Ref<QVNActivity> activity_;
    Ref<ArrayDataSource> tuningsDataSource_;
    Ref<VHProgressHUD> hud_;
    Ref<QVNTuningList> selectedTuningList_;
};
