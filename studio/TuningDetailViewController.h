#pragma once
// The tuning-list detail: seven fixed rows naming the option of each body part (front bumper,
// bonnet, wheels, wings, side skirts, rear bumper, spoiler), and one button. A stored list (one
// with an id) is read back: the detail closes and tells its delegate. A new list from the studio
// goes on to the save box (segue "ShowSaveTuningList", custom modal presentation). A tap on the
// empty background closes the screen.
//
// Landscape only, clear background. Main thread only.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/ArrayDataSource.h"
#include "app/QVNTuningList.h"
#include "graphics/UIImage.h"
#include "studio/HomeStandInPages.h"
#include "studio/TuningListTableViewController.h"
#include "uikit/UIButton.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UITableView.h"
#include "uikit/UIViewController.h"

class TuningDetailViewController : public UIViewController,
                                   public UITableViewDelegate,
                                   public UIGestureRecognizerDelegate {
  public:
    std::string className() const override { return "TuningDetailViewController"; }

    static constexpr char kCellIdentifier[] = "TuningListDetailCell";
    static constexpr char kSaveSegue[] = "ShowSaveTuningList";
    // The slots in their order: option-group key and row format.
    static const std::vector<std::pair<std::string, std::string>>& slots();
    // The seven row texts of an option group (empty where the group lacks the key).
    static std::vector<std::string> rowTexts(const std::optional<Dictionary>& optionGroup);

    const Ref<QVNTuningList>& tuningList() const { return tuningList_; }
    void setTuningList(const Ref<QVNTuningList>& list) { tuningList_ = list; }
    const Ref<QVNActivity>& activity() const { return activity_; }
    void setActivity(const Ref<QVNActivity>& activity) { activity_ = activity; }
    const Ref<UIImage>& screenShotImage() const { return screenShotImage_; }
    void setScreenShotImage(const Ref<UIImage>& image) { screenShotImage_ = image; }
    Ref<TuningDetailViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<TuningDetailViewControllerDelegate>& delegate) { delegate_ = delegate; }

    // Outlets.
    Weak<UITableView> tableView;
    Weak<UIButton> rightFirstButton;

    const Ref<ArrayDataSource>& partDataSource() const { return partDataSource_; }

    void viewDidLoad() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    void prepareForSegue(const Ref<UIStoryboardSegue>& segue, const Ref<NSObject>& sender) override;

    // Actions.
    void readTuningList(const Ref<NSObject>& sender);
    void saveTuningList(const Ref<NSObject>& sender);
    void cancel(const Ref<NSObject>& sender);

    std::optional<bool> gestureRecognizerShouldReceiveTouch(UIGestureRecognizer& recognizer,
                                                            const Ref<UITouch>& touch) override;

  private:
    Ref<QVNTuningList> tuningList_;
    Ref<QVNActivity> activity_;
    Ref<UIImage> screenShotImage_;
    Weak<TuningDetailViewControllerDelegate> delegate_;
    Ref<ArrayDataSource> partDataSource_;
};
