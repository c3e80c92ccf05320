#include "controls/HorizontalTableView.h"

#include "foundation/NSMainThreadCheck.h"
#include <cmath>

namespace {

constexpr CGFloat kQuarterTurn = M_PI / 2;
// The scroll indicator's distance from the table's own left edge (the strip's bottom).
constexpr CGFloat kIndicatorInset = 7;

}  // namespace

Ref<HorizontalTableView> HorizontalTableView::initWithFrameOfWidth(CGRect frame, CGFloat width) {
    return make<HorizontalTableView>(frame, width, HorizontalTableViewOrientationHorizontal);
}

Ref<HorizontalTableView> HorizontalTableView::initWithFrameOfHeight(CGRect frame, CGFloat height) {
    return make<HorizontalTableView>(frame, height, HorizontalTableViewOrientationVertical);
}

HorizontalTableView::HorizontalTableView(CGRect frame, CGFloat rowExtent,
                                         HorizontalTableViewOrientation orientation)
    : UIView(frame), orientation_(orientation), initialRowExtent_(rowExtent) {}

void HorizontalTableView::didInit() {
    auto table = make<UITableView>();
    setTableView(table);
    table->setRowHeight(initialRowExtent_);
}

void HorizontalTableView::setTableView(const Ref<UITableView>& tableView) {
    NS_ASSERT_MAIN_THREAD();
    tableView_ = tableView;
    setOrientation(orientation_);
    if (!tableView) return;
    auto self = selfAs<HorizontalTableView>();
    tableView->setDelegate(self);
    tableView->setDataSource(self);
    tableView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    addSubview(tableView);
}

void HorizontalTableView::setOrientation(std::uint64_t orientation) {
    NS_ASSERT_MAIN_THREAD();
    orientation_ = orientation;
    if (!tableView_) return;
    const CGSize size = bounds().size;
    const CGFloat W = size.width, H = size.height;
    tableView_->setTransform(CGAffineTransformIdentity);
    tableView_->setFrame(CGRectMake(0, 0, W, H));
    if (isHorizontal()) {
        tableView_->setFrame(CGRectMake(std::trunc((W - H) / 2), std::trunc((H - W) / 2), H, W));
        tableView_->setTransform(CGAffineTransformMakeRotation(-kQuarterTurn));
        tableView_->setScrollIndicatorInsets(UIEdgeInsetsMake(0, 0, 0, H - kIndicatorInset));
    }
}

void HorizontalTableView::setFrame(CGRect frame) {
    UIView::setFrame(frame);
    setOrientation(orientation_);
}

CGPoint HorizontalTableView::contentOffset() const {
    if (!tableView_) return CGPointZero;
    const CGPoint offset = tableView_->contentOffset();
    return isHorizontal() ? CGPointMake(offset.y, offset.x) : offset;
}

void HorizontalTableView::setContentOffset(CGPoint offset, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!tableView_) return;
    tableView_->setContentOffset(isHorizontal() ? CGPointMake(offset.y, offset.x) : offset, animated);
}

CGSize HorizontalTableView::contentSize() const {
    if (!tableView_) return CGSizeZero;
    const CGSize size = tableView_->contentSize();
    return isHorizontal() ? CGSizeMake(size.height, size.width) : size;
}

void HorizontalTableView::reload() {
    NS_ASSERT_MAIN_THREAD();
    if (tableView_) tableView_->reloadData();
}

Ref<UIView> HorizontalTableView::viewToHoldSectionView(const Ref<UIView>& sectionView) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!sectionView) return nullptr;
    if (isHorizontal()) {
        sectionView->setFrame(CGRectMake(0, 0, sectionView->frame().size.width, frame().size.height));
    }
    auto holder = make<UIView>(sectionView->frame());
    if (isHorizontal()) {
        holder->setTransform(CGAffineTransformMakeRotation(kQuarterTurn));
        sectionView->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin);
    } else {
        sectionView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    }
    holder->addSubview(sectionView);
    return holder;
}

// ---- the table's data source and delegate -------------------------------------------------------

long HorizontalTableView::numberOfSectionsInTableView(UITableView&) {
    auto d = delegate();
    if (!d) return 1;
    auto sections = d->numberOfSectionsInHorizontalTableView(*this);
    return sections ? long(*sections) : 1;
}

long HorizontalTableView::tableViewNumberOfRowsInSection(UITableView&, long section) {
    auto d = delegate();
    return d ? d->horizontalTableViewNumberOfRowsInSection(*this, section) : 0;
}

Ref<UITableViewCell> HorizontalTableView::tableViewCellForRowAtIndexPath(UITableView&,
                                                                         const Ref<NSIndexPath>& indexPath) {
    auto d = delegate();
    if (!d) return nullptr;
    auto cell = d->horizontalTableViewCellForRowAtIndexPath(*this, indexPath);
    if (cell && isHorizontal()) {
        const Ref<UIView>& content = cell->contentView();
        // A reused cell keeps the turn it was given the first time.
        if (CGAffineTransformIsIdentity(content->transform())) {
            const CGSize size = cell->bounds().size;
            const CGFloat w = size.width, h = size.height;
            content->setFrame(CGRectMake(std::trunc((w - h) / 2), std::trunc((h - w) / 2), h, w));
            content->setTransform(CGAffineTransformMakeRotation(kQuarterTurn));
        }
    }
    return cell;
}

std::optional<CGFloat>
HorizontalTableView::tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                      const Ref<NSIndexPath>& indexPath) {
    if (auto d = delegate()) {
        if (auto extent = d->horizontalTableViewHeightOrWidthForCellAtIndexPath(*this, indexPath))
            return extent;
    }
    return tableView.rowHeight();
}

void HorizontalTableView::tableViewDidSelectRowAtIndexPath(UITableView&, const Ref<NSIndexPath>& indexPath) {
    if (auto d = delegate()) d->horizontalTableViewDidSelectRowAtIndexPath(*this, indexPath);
}

std::optional<Ref<UIView>> HorizontalTableView::sectionView(long section, bool footer) {
    auto d = delegate();
    if (!d) return std::nullopt;
    return footer ? d->horizontalTableViewViewForFooterInSection(*this, section)
                  : d->horizontalTableViewViewForHeaderInSection(*this, section);
}

CGFloat HorizontalTableView::sectionExtent(long section, bool footer) {
    auto view = sectionView(section, footer);
    if (!view || !*view) return 0;
    const CGRect f = (*view)->frame();
    return isHorizontal() ? f.size.width : f.size.height;
}

std::optional<CGFloat> HorizontalTableView::tableViewHeightForHeaderInSection(UITableView&, long section) {
    return sectionExtent(section, false);
}

std::optional<CGFloat> HorizontalTableView::tableViewHeightForFooterInSection(UITableView&, long section) {
    return sectionExtent(section, true);
}

Ref<UIView> HorizontalTableView::tableViewViewForHeaderInSection(UITableView&, long section) {
    auto view = sectionView(section, false);
    return view ? viewToHoldSectionView(*view) : nullptr;
}

Ref<UIView> HorizontalTableView::tableViewViewForFooterInSection(UITableView&, long section) {
    auto view = sectionView(section, true);
    return view ? viewToHoldSectionView(*view) : nullptr;
}
