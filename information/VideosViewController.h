#pragma once
// The video tab: a list of videos with pull-to-refresh and load-more, newest first. A header
// refresh replaces the list with the first page (a failure keeps what was shown); load-more asks
// for the page after the last video and ends in the no-more-data state on an empty page. The
// home screen embeds it from the storyboard "MyVideo" under "VideosViewController".
//
// Main thread only.

#include <string>
#include <vector>

#include "information/QVNVideo.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UITableView.h"
#include "uikit/UITableViewCell.h"
#include "uikit/UIViewController.h"

class QVNVideoTableViewCell : public UITableViewCell {
  public:
    using UITableViewCell::UITableViewCell;
    std::string className() const override { return "QVNVideoTableViewCell"; }
    static constexpr char kIdentifier[] = "QVNVideoTableViewCell";
    static constexpr CGFloat kHeight = 90;

    Weak<UIImageView> image;
    Weak<UILabel> title;
    Weak<UILabel> source;
    Weak<UILabel> date;
    Weak<UILabel> view;

    // Builds the outlets once.
    void buildIfNeeded();
};

class VideosViewController : public UIViewController,
                             public UITableViewDataSource,
                             public UITableViewDelegate {
  public:
    std::string className() const override { return "VideosViewController"; }
    static constexpr char kStoryboard[] = "MyVideo";
    static constexpr char kIdentifier[] = "VideosViewController";

    Weak<UITableView> tableView;
    std::vector<Ref<QVNVideo>>& videoList() { return videoList_; }

    void viewDidLoad() override;
    bool shouldAutorotate() const override { return false; }

    void loadFirstPage();
    void loadMore();
    void configureCell(const Ref<QVNVideoTableViewCell>& cell, const Ref<NSIndexPath>& indexPath);

    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;

  private:
    std::vector<Ref<QVNVideo>> videoList_;
};
