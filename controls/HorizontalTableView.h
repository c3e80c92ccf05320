#pragma once
// A view that shows a scrolling list of cells top to bottom or, its main use, left to right. It
// owns a platform table view; for the horizontal mode it turns the table a quarter turn
// counter-clockwise so that its rows run sideways, and turns each cell's content view a quarter
// turn back so that it stands upright. A delegate (HorizontalTableViewDelegate) supplies rows,
// cells, sections and selection handling, with the HorizontalTableView as first argument.
//
//     auto strip = make<HorizontalTableView>(CGRectMake(0, 400, 320, 80), 80);  // cells 80 wide
//     strip->setDelegate(self);
//     strip->tableView()->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
//     strip->reload();
//
// Layout (setOrientation, run again on every frame change): the table covers the view. In the
// horizontal mode it gets the frame (trunc((W - H) / 2), trunc((H - W) / 2), H, W) for a view of
// W x H and a rotation of -pi/2, which makes it cover the view exactly, and its scroll indicator
// insets (0, 0, 0, H - 7) put the indicator along the bottom of the strip. A horizontal cell whose
// content view is not turned yet gets the content frame (trunc((w - h) / 2), trunc((h - w) / 2), h, w)
// for its w x h bounds and a rotation of +pi/2; a reused cell that is already turned is left
// alone. Section headers and footers come wrapped in a holder view, turned likewise.
//
// contentOffset and contentSize are the table's, with x and y (width and height) exchanged in the
// horizontal mode, so they read in the view's own axes.
//
// The view holds its table strongly and its delegate weakly. Installing another table leaves the
// previous one in place (as a subview that no longer hears from this view). Main thread only.

#include <cstdint>
#include <optional>

#include "uikit/UITableView.h"
#include "uikit/UIView.h"

class HorizontalTableView;

enum HorizontalTableViewOrientation : std::uint64_t {
    HorizontalTableViewOrientationVertical = 0,
    HorizontalTableViewOrientationHorizontal = 1,
};

// Optional operations answer nullopt ("not implemented") by default.
class HorizontalTableViewDelegate {
  public:
    virtual ~HorizontalTableViewDelegate() = default;
    virtual long horizontalTableViewNumberOfRowsInSection(HorizontalTableView& tableView, long section) = 0;
    virtual Ref<UITableViewCell>
    horizontalTableViewCellForRowAtIndexPath(HorizontalTableView& tableView,
                                             const Ref<NSIndexPath>& indexPath) = 0;
    // 1 section when not implemented.
    virtual std::optional<std::uint64_t>
    numberOfSectionsInHorizontalTableView(HorizontalTableView& tableView) {
        return std::nullopt;
    }
    virtual void horizontalTableViewDidSelectRowAtIndexPath(HorizontalTableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) {}
    virtual std::optional<Ref<UIView>>
    horizontalTableViewViewForHeaderInSection(HorizontalTableView& tableView, long section) {
        return std::nullopt;
    }
    virtual std::optional<Ref<UIView>>
    horizontalTableViewViewForFooterInSection(HorizontalTableView& tableView, long section) {
        return std::nullopt;
    }
    // The cell's extent along the scrolling direction; the table's row height when not implemented.
    virtual std::optional<CGFloat>
    horizontalTableViewHeightOrWidthForCellAtIndexPath(HorizontalTableView& tableView,
                                                       const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
};

class HorizontalTableView : public UIView, public UITableViewDelegate, public UITableViewDataSource {
  public:
    // initWithFrame:ofWidth: (horizontal, cells `width` wide) and initWithFrame:ofHeight:
    // (vertical, cells `height` high). The table is made and installed by didInit.
    static Ref<HorizontalTableView> initWithFrameOfWidth(CGRect frame, CGFloat width);
    static Ref<HorizontalTableView> initWithFrameOfHeight(CGRect frame, CGFloat height);
    HorizontalTableView(CGRect frame, CGFloat rowExtent, HorizontalTableViewOrientation orientation);
    // The horizontal form.
    HorizontalTableView(CGRect frame, CGFloat width)
        : HorizontalTableView(frame, width, HorizontalTableViewOrientationHorizontal) {}
    std::string className() const override { return "HorizontalTableView"; }
    void didInit();

    Ref<HorizontalTableViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const Ref<HorizontalTableViewDelegate>& delegate) { delegate_ = delegate; }

    const Ref<UITableView>& tableView() const { return tableView_; }
    // Installs the table: lays it out for the orientation, becomes its delegate and data source,
    // gives it a flexible width and height and adds it as a subview.
    void setTableView(const Ref<UITableView>& tableView);

    std::uint64_t orientation() const { return orientation_; }
    void setOrientation(std::uint64_t orientation);
    bool isHorizontal() const { return orientation_ == HorizontalTableViewOrientationHorizontal; }

    void setFrame(CGRect frame) override;

    CGPoint contentOffset() const;
    void setContentOffset(CGPoint offset) { setContentOffset(offset, false); }
    void setContentOffset(CGPoint offset, bool animated);
    CGSize contentSize() const;

    // Reloads the table's data.
    void reload();

    // The holder that carries a section header or footer view in the table.
    Ref<UIView> viewToHoldSectionView(const Ref<UIView>& sectionView);

    // ---- the table's data source and delegate -------------------------------------------------
    long numberOfSectionsInTableView(UITableView& tableView) override;
    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                            const Ref<NSIndexPath>& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) override;
    std::optional<CGFloat> tableViewHeightForHeaderInSection(UITableView& tableView, long section) override;
    std::optional<CGFloat> tableViewHeightForFooterInSection(UITableView& tableView, long section) override;
    Ref<UIView> tableViewViewForHeaderInSection(UITableView& tableView, long section) override;
    Ref<UIView> tableViewViewForFooterInSection(UITableView& tableView, long section) override;

  private:
    std::optional<Ref<UIView>> sectionView(long section, bool footer);
    CGFloat sectionExtent(long section, bool footer);

    Weak<HorizontalTableViewDelegate> delegate_;
    Ref<UITableView> tableView_;
    std::uint64_t orientation_ = HorizontalTableViewOrientationHorizontal;
    CGFloat initialRowExtent_ = UITableView::kDefaultRowHeight;
};
