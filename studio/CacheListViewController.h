#pragma once
// CacheListViewController: the cached-cars screen. It lists every car that has a folder in the
// car cache and whose car_en the stored car list knows (a car under two brands gives two rows),
// and removes a car's data on request: its logo, every option picture (under the same
// double-slash URLs the car model builds from car_en) and the car folder with its description
// and frame tables. The folder always goes, also when its description cannot be read.
//
// It comes from storyboard "MyActivity", scene "CacheListViewController" (registerScene), and is
// pushed on a navigation stack; a swipe to the right goes back. Portrait only. Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "app/ArrayDataSource.h"
#include "studio/QVNCar.h"
#include "studio/QVNCarCache.h"
#include "uikit/UIGestureRecognizer.h"
#include "uikit/UITableView.h"
#include "uikit/UIViewController.h"

class CacheListViewController : public UIViewController {
  public:
    static constexpr char kStoryboardName[] = "MyActivity";
    static constexpr char kIdentifier[] = "CacheListViewController";
    static constexpr char kCellIdentifier[] = "CacheCell";

    std::string className() const override { return "CacheListViewController"; }

    // Registers the scene in "MyActivity" (its view: the table with the "CacheCell" prototype).
    static void registerScene();

    void viewDidLoad() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override;
    UIStatusBarStyle preferredStatusBarStyle() const override { return UIStatusBarStyleLightContent; }

    // Every car of the stored car list, read on first use.
    const std::vector<Ref<QVNCar>>& cars();
    // One entry per (cache folder, known car with that car_en), in folder listing order.
    Array cacheCars();
    void removeCarFromFileWithCarCache(const Ref<QVNCarCache>& carCache);
    // Removes the data of the entry at the index path; the row stays.
    void removeCarCacheAtIndexPath(const Ref<NSIndexPath>& indexPath);
    void setupTableView();
    void setupGesture();
    void back(const Ref<NSObject>& sender);

    Weak<UITableView> tableView;
    const Ref<ArrayDataSource>& carCacheArrayDataSource() const { return carCacheArrayDataSource_; }

  private:
    Ref<ArrayDataSource> carCacheArrayDataSource_;
    std::optional<std::vector<Ref<QVNCar>>> cars_;
};
