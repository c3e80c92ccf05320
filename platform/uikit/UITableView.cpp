#include "uikit/UITableView.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIScreen.h"
#include "uikit/UITouch.h"

namespace {

// ---- the hook lists ------------------------------------------------------------------------------

struct UpdateWrapperEntry {
    std::uint64_t token;
    int order;
    UITableView::UpdateWrapper wrapper;
};

detail::ListReloadHooks<UITableView::ReloadHook>& reloadHooks() {
    static detail::ListReloadHooks<UITableView::ReloadHook> hooks;
    return hooks;
}

std::vector<UpdateWrapperEntry>& updateWrappers() {
    static std::vector<UpdateWrapperEntry> wrappers;
    return wrappers;
}

std::uint64_t nextHookToken() {
    static std::uint64_t next = 0;
    return ++next;
}

Ref<NSIndexPath> pathFor(detail::ListPosition key) {
    return NSIndexPath::indexPathForRow(key.second, key.first);
}

}  // namespace

// ---- construction -------------------------------------------------------------------------------

UITableView::UITableView() : UITableView(CGRectZero, UITableViewStylePlain) {}

UITableView::UITableView(CGRect frame, UITableViewStyle style) : UIScrollView(frame), style_(style) {}

UITableView::~UITableView() = default;

void UITableView::didInit() {
    UIScrollView::didInit();
    setAlwaysBounceVertical(true);
    setBackgroundColor(style_ == UITableViewStyleGrouped ? UIColor::colorWithRed(0.94, 0.94, 0.96, 1)
                                                         : UIColor::whiteColor());
}

// ---- data source and delegate -------------------------------------------------------------------

void UITableView::setDataSource(const Ref<UITableViewDataSource>& dataSource) {
    NS_ASSERT_MAIN_THREAD();
    dataSource_ = dataSource;
    loaded_ = false;
    setNeedsLayout();
}

Ref<UITableViewDelegate> UITableView::delegate() const {
    return std::dynamic_pointer_cast<UITableViewDelegate>(UIScrollView::delegate());
}

void UITableView::setDelegate(const Ref<UITableViewDelegate>& delegate) {
    NS_ASSERT_MAIN_THREAD();
    UIScrollView::setDelegate(delegate);
    loaded_ = false;
    setNeedsLayout();
}

// ---- hooks --------------------------------------------------------------------------------------

std::uint64_t UITableView::addReloadDataHook(ReloadStage stage, int order, ReloadHook hook) {
    return reloadHooks().add(stage == ReloadStage::Before, order, std::move(hook));
}

void UITableView::removeReloadDataHook(std::uint64_t token) {
    reloadHooks().remove(token);
}

std::uint64_t UITableView::addUpdateWrapper(int order, UpdateWrapper wrapper) {
    const std::uint64_t token = nextHookToken();
    if (wrapper) updateWrappers().push_back({token, order, std::move(wrapper)});
    return token;
}

void UITableView::removeUpdateWrapper(std::uint64_t token) {
    auto& list = updateWrappers();
    list.erase(std::remove_if(list.begin(), list.end(), [token](const auto& e) { return e.token == token; }),
               list.end());
}

// ---- the model ----------------------------------------------------------------------------------

void UITableView::reloadData() {
    NS_ASSERT_MAIN_THREAD();
    auto keepAlive = shared_from_this();
    reloadHooks().runAround(*this, [this] { platformReloadData(); });
}

void UITableView::platformReloadData() {
    NS_ASSERT_MAIN_THREAD();
    auto keepAlive = shared_from_this();
    if (updateDepth_ > 0 && !pending_.empty()) {
        NSLog("UITableView: reloadData inside beginUpdates drops the updates recorded so far");
        pending_.clear();
    }
    reloading_ = true;
    detail::retireListCells(visible_, previous_,
                            [this](const auto& cell, Key key) { endDisplaying(cell, key); });
    for (auto* views : {&headerViews_, &footerViews_}) {
        for (auto& [section, view] : *views) view->removeFromSuperview();
        views->clear();
    }
    selected_.clear();
    if (touchedRow_) touchedRow_.reset();
    loaded_ = true;
    loadCounts();
    computeHeights();
    recomputeOffsets();
    layoutVisibleRows();
    previous_.clear();
    sweepStaleCells();
    reloading_ = false;
}

void UITableView::ensureLoaded() {
    if (!loaded_ && !reloading_) platformReloadData();
}

long UITableView::numberOfSections() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    return long(sections_.size());
}

long UITableView::numberOfRowsInSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    if (section < 0 || std::size_t(section) >= sections_.size()) return 0;
    return sections_[std::size_t(section)].rows;
}

void UITableView::loadCounts() {
    auto ds = dataSource();
    sections_.clear();
    if (!ds) return;
    const long count = std::max(0L, ds->numberOfSectionsInTableView(*this));
    sections_.resize(std::size_t(count));
    for (long s = 0; s < count; ++s) {
        sections_[std::size_t(s)].rows = std::max(0L, ds->tableViewNumberOfRowsInSection(*this, s));
    }
}

void UITableView::computeHeights() {
    for (long s = 0; s < long(sections_.size()); ++s) computeSectionHeights(s);
}

CGFloat UITableView::headerHeightFor(long section, bool footer) {
    if (auto d = delegate()) {
        auto h = footer ? d->tableViewHeightForFooterInSection(*this, section)
                        : d->tableViewHeightForHeaderInSection(*this, section);
        if (h && *h != UITableViewAutomaticDimension) return std::max<CGFloat>(0, *h);
    }
    const CGFloat property = footer ? sectionFooterHeight_ : sectionHeaderHeight_;
    if (property >= 0) return property;
    std::optional<std::string> title;
    if (auto ds = dataSource()) {
        title = footer ? ds->tableViewTitleForFooterInSection(*this, section)
                       : ds->tableViewTitleForHeaderInSection(*this, section);
    }
    return title ? kDefaultTitleHeaderHeight : 0;
}

void UITableView::computeSectionHeights(long s) {
    Section& sec = sections_[std::size_t(s)];
    sec.headerHeight = headerHeightFor(s, false);
    sec.footerHeight = headerHeightFor(s, true);
    sec.heights.assign(std::size_t(sec.rows), 0);
    sec.tops.assign(std::size_t(sec.rows), 0);
    sec.measured.assign(std::size_t(sec.rows), 0);
    auto d = delegate();
    for (long r = 0; r < sec.rows; ++r) {
        const Key key{s, r};
        std::optional<CGFloat> estimate;
        if (d) estimate = d->tableViewEstimatedHeightForRowAtIndexPath(*this, pathFor(key));
        if (!estimate && estimatedRowHeight_ > 0) estimate = estimatedRowHeight_;
        if (estimate && *estimate >= 0) {
            sec.heights[std::size_t(r)] = *estimate;
            continue;
        }
        bool needsCell = false;
        const CGFloat h = exactRowHeight(key, nullptr, &needsCell);
        if (needsCell) {
            sec.heights[std::size_t(r)] = kDefaultRowHeight;
        } else {
            sec.heights[std::size_t(r)] = h;
            sec.measured[std::size_t(r)] = 1;
        }
    }
}

CGFloat UITableView::exactRowHeight(Key key, const Ref<UITableViewCell>&, bool* needsCell) {
    *needsCell = false;
    if (auto d = delegate()) {
        if (auto h = d->tableViewHeightForRowAtIndexPath(*this, pathFor(key))) {
            if (*h == UITableViewAutomaticDimension) {
                *needsCell = true;
                return 0;
            }
            return std::max<CGFloat>(0, *h);
        }
    }
    if (rowHeight_ < 0) {
        *needsCell = true;
        return 0;
    }
    return rowHeight_;
}

CGFloat UITableView::measureCell(const Ref<UITableViewCell>& cell) {
    const CGFloat width = bounds().size.width;
    const CGFloat contentWidth = std::max<CGFloat>(0, width - cell->accessoryWidth());
    const Ref<UIView>& content = cell->contentView();
    CGFloat height = 0;
    if (!content->constraints().empty()) {
        auto fixWidth =
            NSLayoutConstraint::constraintWithItem(content, NSLayoutAttributeWidth, NSLayoutRelationEqual,
                                                   nullptr, NSLayoutAttributeNotAnAttribute, 1, contentWidth);
        content->addConstraint(fixWidth);
        height = content->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize).height;
        content->removeConstraint(fixWidth);
    } else {
        height = cell->sizeThatFits(CGSizeMake(width, 0)).height;
    }
    return std::max<CGFloat>(0, height) + separatorHeight();
}

void UITableView::recomputeOffsets() {
    CGFloat y = tableHeaderView_ ? std::max<CGFloat>(0, tableHeaderView_->frame().size.height) : 0;
    for (Section& sec : sections_) {
        sec.top = y;
        y += sec.headerHeight;
        for (std::size_t r = 0; r < sec.heights.size(); ++r) {
            sec.tops[r] = y;
            y += sec.heights[r];
        }
        y += sec.footerHeight;
    }
    if (tableFooterView_) y += std::max<CGFloat>(0, tableFooterView_->frame().size.height);
    lastWidth_ = bounds().size.width;
    const CGSize size{lastWidth_, y};
    if (contentSize() != size) setContentSize(size);
}

bool UITableView::keyExists(Key key) const {
    return key.first >= 0 && std::size_t(key.first) < sections_.size() && key.second >= 0 &&
           key.second < sections_[std::size_t(key.first)].rows;
}

// ---- geometry -----------------------------------------------------------------------------------

void UITableView::setRowHeight(CGFloat height) {
    NS_ASSERT_MAIN_THREAD();
    rowHeight_ = height;
    if (loaded_) loaded_ = false, setNeedsLayout();
}

void UITableView::setEstimatedRowHeight(CGFloat height) {
    NS_ASSERT_MAIN_THREAD();
    estimatedRowHeight_ = height;
    if (loaded_) loaded_ = false, setNeedsLayout();
}

void UITableView::setSectionHeaderHeight(CGFloat height) {
    NS_ASSERT_MAIN_THREAD();
    sectionHeaderHeight_ = height;
    if (loaded_) loaded_ = false, setNeedsLayout();
}

void UITableView::setSectionFooterHeight(CGFloat height) {
    NS_ASSERT_MAIN_THREAD();
    sectionFooterHeight_ = height;
    if (loaded_) loaded_ = false, setNeedsLayout();
}

void UITableView::setTableHeaderView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (tableHeaderView_ && tableHeaderView_ != view) tableHeaderView_->removeFromSuperview();
    tableHeaderView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
    if (loaded_) {
        recomputeOffsets();
        layoutVisibleRows();
    } else {
        placeTableViews();
        setNeedsLayout();
    }
}

void UITableView::setTableFooterView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (tableFooterView_ && tableFooterView_ != view) tableFooterView_->removeFromSuperview();
    tableFooterView_ = view;
    if (view && view->superviewPointer() != this) addSubview(view);
    if (loaded_) {
        recomputeOffsets();
        layoutVisibleRows();
    } else {
        setNeedsLayout();
    }
}

void UITableView::setBackgroundView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (backgroundView_ && backgroundView_ != view) backgroundView_->removeFromSuperview();
    backgroundView_ = view;
    if (view) {
        insertSubviewAtIndex(view, 0);
        view->setFrame(bounds());
    }
}

CGRect UITableView::rectForSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    if (section < 0 || std::size_t(section) >= sections_.size()) return CGRectZero;
    const Section& sec = sections_[std::size_t(section)];
    return CGRectMake(0, sec.top, bounds().size.width, sec.bottom() - sec.top);
}

CGRect UITableView::rectForRowAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    if (!indexPath || !keyExists(detail::listPosition(*indexPath))) return CGRectZero;
    const Section& sec = sections_[std::size_t(indexPath->section())];
    const auto r = std::size_t(indexPath->row());
    return CGRectMake(0, sec.tops[r], bounds().size.width, sec.heights[r]);
}

CGRect UITableView::rectForHeaderInSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    if (section < 0 || std::size_t(section) >= sections_.size()) return CGRectZero;
    const Section& sec = sections_[std::size_t(section)];
    return CGRectMake(0, sec.top, bounds().size.width, sec.headerHeight);
}

CGRect UITableView::rectForFooterInSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    if (section < 0 || std::size_t(section) >= sections_.size()) return CGRectZero;
    const Section& sec = sections_[std::size_t(section)];
    return CGRectMake(0, sec.rowsEnd(), bounds().size.width, sec.footerHeight);
}

Ref<NSIndexPath> UITableView::indexPathForRowAtPoint(CGPoint point) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    for (long s = 0; s < long(sections_.size()); ++s) {
        const Section& sec = sections_[std::size_t(s)];
        if (point.y < sec.top) break;
        if (point.y >= sec.rowsEnd() || sec.rows == 0) continue;
        // The first row ending below the point.
        auto it = std::partition_point(sec.tops.begin(), sec.tops.end(), [&](const CGFloat& top) {
            const std::size_t r = std::size_t(&top - sec.tops.data());
            return top + sec.heights[r] <= point.y;
        });
        if (it == sec.tops.end() || *it > point.y) return nullptr;
        return pathFor({s, long(it - sec.tops.begin())});
    }
    return nullptr;
}

std::vector<Ref<NSIndexPath>> UITableView::indexPathsForRowsInRect(CGRect rect) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    rect = CGRectStandardize(rect);
    std::vector<Ref<NSIndexPath>> result;
    const CGFloat minY = rect.origin.y, maxY = rect.origin.y + rect.size.height;
    for (long s = 0; s < long(sections_.size()); ++s) {
        const Section& sec = sections_[std::size_t(s)];
        if (sec.top >= maxY) break;
        for (long r = 0; r < sec.rows; ++r) {
            const CGFloat top = sec.tops[std::size_t(r)], h = sec.heights[std::size_t(r)];
            if (top >= maxY) break;
            if (top + h > minY || (h == 0 && top >= minY)) result.push_back(pathFor({s, r}));
        }
    }
    return result;
}

// ---- the visible rows ---------------------------------------------------------------------------

std::vector<UITableView::Key> UITableView::visibleKeys() const {
    std::vector<Key> keys;
    const CGRect b = bounds();
    const CGFloat minY = b.origin.y, maxY = b.origin.y + b.size.height;
    if (b.size.height <= 0 || b.size.width <= 0) return keys;
    for (long s = 0; s < long(sections_.size()); ++s) {
        const Section& sec = sections_[std::size_t(s)];
        if (sec.top >= maxY) break;
        if (sec.rows == 0 || sec.rowsEnd() <= minY) continue;
        auto first = std::partition_point(sec.tops.begin(), sec.tops.end(), [&](const CGFloat& top) {
            const std::size_t r = std::size_t(&top - sec.tops.data());
            return top + sec.heights[r] <= minY && !(sec.heights[r] == 0 && top >= minY);
        });
        for (auto r = std::size_t(first - sec.tops.begin()); r < sec.tops.size(); ++r) {
            if (sec.tops[r] >= maxY) break;
            keys.push_back({s, long(r)});
        }
    }
    return keys;
}

std::vector<long> UITableView::visibleSections() const {
    std::vector<long> result;
    const CGRect b = bounds();
    const CGFloat minY = b.origin.y, maxY = b.origin.y + b.size.height;
    if (b.size.height <= 0) return result;
    for (long s = 0; s < long(sections_.size()); ++s) {
        const Section& sec = sections_[std::size_t(s)];
        if (sec.top >= maxY) break;
        if (sec.bottom() > minY) result.push_back(s);
    }
    return result;
}

void UITableView::layoutVisibleRows() {
    NS_ASSERT_MAIN_THREAD();
    if (inTile_) return;
    if (!loaded_) {
        if (!reloading_) platformReloadData();
        return;
    }
    auto keepAlive = shared_from_this();
    inTile_ = true;
    if (bounds().size.width != lastWidth_) recomputeOffsets();

    // Rows that come into view get their real heights first, from the top of the view down:
    // each change moves the rows below it, so the visible set is worked out again after it.
    std::map<Key, Ref<UITableViewCell>> fresh;
    auto d = delegate();
    for (std::size_t guard = 0; guard < 100000; ++guard) {
        std::optional<Key> pending;
        for (const Key& key : visibleKeys()) {
            if (!sections_[std::size_t(key.first)].measured[std::size_t(key.second)]) {
                pending = key;
                break;
            }
        }
        if (!pending) break;
        const Key key = *pending;
        Section& sec = sections_[std::size_t(key.first)];
        const auto r = std::size_t(key.second);
        bool needsCell = false;
        CGFloat h = exactRowHeight(key, nullptr, &needsCell);
        if (needsCell) {
            Ref<UITableViewCell> cell;
            if (auto it = visible_.find(key); it != visible_.end()) {
                cell = it->second;
            } else if (auto f = fresh.find(key); f != fresh.end()) {
                cell = f->second;
            } else {
                cell = requestCell(key);
                if (cell) fresh[key] = cell;
            }
            if (cell) {
                cell->setFrame(CGRectMake(0, sec.tops[r], bounds().size.width, sec.heights[r]));
                h = measureCell(cell);
            } else {
                h = sec.heights[r];
            }
        }
        sec.measured[r] = 1;
        if (h != sec.heights[r]) {
            sec.heights[r] = h;
            recomputeOffsets();
        }
    }

    const std::vector<Key> keys = visibleKeys();
    const std::set<Key> wanted(keys.begin(), keys.end());
    detail::dropListCellsNotWanted(visible_, wanted,
                                   [this](const auto& cell, Key key) { endDisplaying(cell, key); });
    for (const Key& key : keys) {
        if (!keyExists(key)) continue;  // the data changed under a callback
        if (auto it = visible_.find(key); it != visible_.end()) {
            placeCell(it->second, key);
            continue;
        }
        Ref<UITableViewCell> cell;
        if (auto f = fresh.find(key); f != fresh.end()) {
            cell = f->second;
            fresh.erase(f);
        } else {
            cell = requestCell(key);
        }
        if (!cell) continue;
        visible_[key] = cell;
        placeCell(cell, key);
        if (cell->superviewPointer() != this) addSubview(cell);
        if (d) d->tableViewWillDisplayCell(*this, cell, pathFor(key));
    }
    // Cells made for measuring that ended up out of view.
    for (auto& [key, cell] : fresh) {
        bool shown = false;
        for (const auto& [k, c] : visible_) shown = shown || c == cell;
        if (!shown) enqueueCell(cell);
    }
    layoutSectionViews(visibleSections());
    placeTableViews();
    inTile_ = false;
}

Ref<UITableViewCell> UITableView::requestCell(Key key) {
    auto ds = dataSource();
    if (!ds) return nullptr;
    Ref<UITableViewCell> cell = ds->tableViewCellForRowAtIndexPath(*this, pathFor(key));
    if (!cell) {
        NSLog("UITableView: the data source gave no cell for row %ld of section %ld", key.second, key.first);
        return nullptr;
    }
    // A cell handed out leaves the queue and its old row.
    if (cell->reuseIdentifier()) {
        auto q = queues_.find(*cell->reuseIdentifier());
        if (q != queues_.end())
            q->second.erase(std::remove(q->second.begin(), q->second.end(), cell), q->second.end());
    }
    detail::claimListCell(visible_, previous_, cell, key);
    return cell;
}

void UITableView::placeCell(const Ref<UITableViewCell>& cell, Key key) {
    const Section& sec = sections_[std::size_t(key.first)];
    const auto r = std::size_t(key.second);
    const CGRect frame = CGRectMake(0, sec.tops[r], bounds().size.width, sec.heights[r]);
    if (cell->frame() != frame) cell->setFrame(frame);
    if (cell->isHidden()) cell->setHidden(false);
    cell->setTableSeparator(separatorHeight(), separatorColor_, separatorInset_);
    const bool selected = selected_.count(key) > 0;
    if (cell->isSelected() != selected) cell->setSelected(selected, false);
    if (cell->isEditing() != editing_) cell->setEditing(editing_, false);
}

void UITableView::enqueueCell(const Ref<UITableViewCell>& cell) {
    if (cell->isHighlighted()) cell->setHighlighted(false, false);
    if (!reloading_ && cell->superviewPointer() == this) cell->removeFromSuperview();
    if (!cell->reuseIdentifier()) {
        if (cell->superviewPointer() == this && !reloading_) cell->removeFromSuperview();
        return;
    }
    auto& q = queues_[*cell->reuseIdentifier()];
    if (std::find(q.begin(), q.end(), cell) == q.end()) q.push_back(cell);
}

void UITableView::endDisplaying(const Ref<UITableViewCell>& cell, Key key) {
    if (touchedRow_ == key) touchedRow_.reset();
    enqueueCell(cell);
    if (auto d = delegate()) d->tableViewDidEndDisplayingCell(*this, cell, pathFor(key));
}

void UITableView::sweepStaleCells() {
    std::unordered_set<const UIView*> shown;
    for (const auto& [key, cell] : visible_) shown.insert(cell.get());
    const std::vector<Ref<UIView>> views = subviews();
    for (const auto& view : views) {
        if (dynamic_cast<UITableViewCell*>(view.get()) && !shown.count(view.get()))
            view->removeFromSuperview();
    }
}

void UITableView::layoutSectionViews(const std::vector<long>& sections) {
    const std::set<long> wanted(sections.begin(), sections.end());
    for (auto* views : {&headerViews_, &footerViews_}) {
        for (auto it = views->begin(); it != views->end();) {
            if (wanted.count(it->first) && std::size_t(it->first) < sections_.size()) {
                ++it;
            } else {
                it->second->removeFromSuperview();
                it = views->erase(it);
            }
        }
    }
    auto d = delegate();
    auto ds = dataSource();
    const CGRect b = bounds();
    const CGFloat width = b.size.width;
    const CGFloat visibleTop = b.origin.y + contentInset().top;
    for (long s : sections) {
        const Section& sec = sections_[std::size_t(s)];
        for (bool footer : {false, true}) {
            const CGFloat height = footer ? sec.footerHeight : sec.headerHeight;
            auto& views = footer ? footerViews_ : headerViews_;
            if (height <= 0) continue;
            Ref<UIView> view;
            bool fresh = false;
            if (auto it = views.find(s); it != views.end()) {
                view = it->second;
            } else {
                if (d)
                    view = footer ? d->tableViewViewForFooterInSection(*this, s)
                                  : d->tableViewViewForHeaderInSection(*this, s);
                if (!view && ds) {
                    auto title = footer ? ds->tableViewTitleForFooterInSection(*this, s)
                                        : ds->tableViewTitleForHeaderInSection(*this, s);
                    if (title) {
                        auto titled = make<UITableViewHeaderFooterView>();
                        titled->textLabel()->setText(title);
                        view = titled;
                    }
                }
                if (!view) continue;
                views[s] = view;
                fresh = true;
            }
            CGFloat y = footer ? sec.rowsEnd() : sec.top;
            if (!footer && style_ == UITableViewStylePlain && visibleTop > sec.top) {
                y = std::max(sec.top, std::min(visibleTop, sec.bottom() - height));
            }
            const CGRect frame = CGRectMake(0, y, width, height);
            if (view->frame() != frame) view->setFrame(frame);
            if (view->superviewPointer() != this) addSubview(view);
            bringSubviewToFront(view);
            if (fresh && d) {
                if (footer) {
                    d->tableViewWillDisplayFooterView(*this, view, s);
                } else {
                    d->tableViewWillDisplayHeaderView(*this, view, s);
                }
            }
        }
    }
}

void UITableView::placeTableViews() {
    const CGFloat width = bounds().size.width;
    if (tableHeaderView_) {
        const CGRect frame = CGRectMake(0, 0, width, tableHeaderView_->frame().size.height);
        if (tableHeaderView_->frame() != frame) tableHeaderView_->setFrame(frame);
    }
    if (tableFooterView_) {
        CGFloat top = tableHeaderView_ ? tableHeaderView_->frame().size.height : 0;
        if (!sections_.empty()) top = sections_.back().bottom();
        const CGRect frame = CGRectMake(0, top, width, tableFooterView_->frame().size.height);
        if (tableFooterView_->frame() != frame) tableFooterView_->setFrame(frame);
    }
    if (backgroundView_) {
        if (backgroundView_->frame() != bounds()) backgroundView_->setFrame(bounds());
        if (subviews().empty() || subviews().front() != backgroundView_) sendSubviewToBack(backgroundView_);
    }
}

std::vector<Ref<UITableViewCell>> UITableView::visibleCells() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    layoutVisibleRows();
    return detail::listCellsOnShow(visible_);
}

std::vector<Ref<NSIndexPath>> UITableView::indexPathsForVisibleRows() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    layoutVisibleRows();
    return detail::listPathsOnShow(visible_, pathFor);
}

Ref<UITableViewCell> UITableView::cellForRowAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!indexPath || indexPath->length() < 2) return nullptr;
    layoutVisibleRows();
    return detail::listCellAt(visible_, previous_, detail::listPosition(*indexPath));
}

Ref<NSIndexPath> UITableView::indexPathForCell(const Ref<UITableViewCell>& cell) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!cell) return nullptr;
    layoutVisibleRows();
    return detail::listPathOfCell(visible_, cell, pathFor);
}

Ref<UIView> UITableView::headerViewForSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    layoutVisibleRows();
    auto it = headerViews_.find(section);
    return it == headerViews_.end() ? nullptr : it->second;
}

Ref<UIView> UITableView::footerViewForSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    layoutVisibleRows();
    auto it = footerViews_.find(section);
    return it == footerViews_.end() ? nullptr : it->second;
}

CGPoint UITableView::offsetForRow(Key key, UITableViewScrollPosition position) {
    const Section& sec = sections_[std::size_t(key.first)];
    const auto r = std::size_t(key.second);
    const CGFloat top = sec.tops[r], bottom = top + sec.heights[r];
    const UIEdgeInsets inset = contentInset();
    const CGFloat viewHeight = bounds().size.height;
    // In a plain table the section's header floats over the top of the view.
    const CGFloat covered = style_ == UITableViewStylePlain ? sec.headerHeight : 0;
    const CGFloat current = contentOffset().y;
    CGFloat y = current;
    auto topPosition = [&] { return top - inset.top - covered; };
    auto bottomPosition = [&] { return bottom - viewHeight + inset.bottom; };
    switch (position) {
        case UITableViewScrollPositionTop:
            y = topPosition();
            break;
        case UITableViewScrollPositionMiddle:
            y = (top + bottom) / 2 - (viewHeight - inset.top - inset.bottom) / 2 - inset.top;
            break;
        case UITableViewScrollPositionBottom:
            y = bottomPosition();
            break;
        case UITableViewScrollPositionNone:
        default:
            if (top < current + inset.top + covered) {
                y = topPosition();
            } else if (bottom > current + viewHeight - inset.bottom) {
                y = bottomPosition();
            }
            break;
    }
    const CGPoint min = minimumContentOffset(), max = maximumContentOffset();
    return {contentOffset().x, std::clamp(y, min.y, max.y)};
}

void UITableView::scrollToRowAtIndexPath(const Ref<NSIndexPath>& indexPath,
                                         UITableViewScrollPosition position, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    if (!indexPath || indexPath->length() < 2 || !keyExists(detail::listPosition(*indexPath))) {
        NSLog("UITableView: cannot scroll to %@, which is not a row of the table",
              indexPath ? indexPath->description() : std::string("nil"));
        return;
    }
    const CGPoint target = offsetForRow(detail::listPosition(*indexPath), position);
    if (target != contentOffset()) setContentOffset(target, animated);
}

void UITableView::scrollToNearestSelectedRowAtScrollPosition(UITableViewScrollPosition position,
                                                             bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (auto selected = indexPathForSelectedRow()) scrollToRowAtIndexPath(selected, position, animated);
}

// ---- reuse --------------------------------------------------------------------------------------

void UITableView::registerClass(CellFactory factory, const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    if (!factory) {
        registrations_.erase(identifier);
        return;
    }
    registrations_[identifier] = Registration{std::move(factory), nullptr};
}

void UITableView::registerNib(const Ref<UINib>& nib, const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    if (!nib) {
        registrations_.erase(identifier);
        return;
    }
    registrations_[identifier] = Registration{nullptr, nib};
}

Ref<UITableViewCell> UITableView::makeRegisteredCell(const std::string& identifier) {
    auto it = registrations_.find(identifier);
    if (it == registrations_.end()) return nullptr;
    Ref<UITableViewCell> cell;
    if (it->second.factory) {
        cell = it->second.factory(identifier);
    } else if (it->second.nib) {
        for (const auto& object : it->second.nib->instantiateWithOwner(nullptr)) {
            if ((cell = std::dynamic_pointer_cast<UITableViewCell>(object))) break;
        }
        if (!cell) NSLog("UITableView: the nib \"%@\" holds no table cell", it->second.nib->name());
    }
    if (!cell) return nullptr;
    if (!cell->reuseIdentifier()) cell->setReuseIdentifier(identifier);
    ++cellsCreated_;
    return cell;
}

Ref<UITableViewCell> UITableView::takeFromQueue(const std::string& identifier, std::optional<Key> preferred) {
    auto q = queues_.find(identifier);
    if (q == queues_.end() || q->second.empty()) return nullptr;
    auto& list = q->second;
    auto pick = list.end() - 1;
    if (preferred) {
        if (auto p = previous_.find(*preferred); p != previous_.end()) {
            auto found = std::find(list.begin(), list.end(), p->second);
            if (found != list.end()) pick = found;
        }
    }
    Ref<UITableViewCell> cell = *pick;
    list.erase(pick);
    for (auto it = previous_.begin(); it != previous_.end();) {
        it = it->second == cell ? previous_.erase(it) : std::next(it);
    }
    return cell;
}

Ref<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (auto cell = takeFromQueue(identifier, std::nullopt)) {
        cell->prepareForReuse();
        return cell;
    }
    return makeRegisteredCell(identifier);
}

Ref<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                    const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    std::optional<Key> key;
    if (indexPath && indexPath->length() >= 2) key = detail::listPosition(*indexPath);
    Ref<UITableViewCell> cell = takeFromQueue(identifier, key);
    if (cell) {
        cell->prepareForReuse();
    } else {
        cell = makeRegisteredCell(identifier);
    }
    if (!cell) {
        NSLog("UITableView: no cell class or nib is registered for the identifier \"%@\"", identifier);
        cell = make<UITableViewCell>(UITableViewCellStyleDefault, identifier);
        ++cellsCreated_;
    }
    // The cell comes at the row's size, so that frame layouts see the table's width.
    CGFloat height = cell->frame().size.height;
    if (key && keyExists(*key)) height = sections_[std::size_t(key->first)].heights[std::size_t(key->second)];
    const CGRect frame =
        CGRectMake(cell->frame().origin.x, cell->frame().origin.y, bounds().size.width, height);
    if (bounds().size.width > 0 && cell->frame() != frame) cell->setFrame(frame);
    return cell;
}

void UITableView::registerHeaderFooterClass(HeaderFooterFactory factory, const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    if (!factory) {
        headerFooterRegistrations_.erase(identifier);
        return;
    }
    headerFooterRegistrations_[identifier] = std::move(factory);
}

Ref<UITableViewHeaderFooterView>
UITableView::dequeueReusableHeaderFooterViewWithIdentifier(const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto q = headerFooterQueues_.find(identifier);
    if (q != headerFooterQueues_.end() && !q->second.empty()) {
        auto view = q->second.back();
        q->second.pop_back();
        view->prepareForReuse();
        return view;
    }
    auto it = headerFooterRegistrations_.find(identifier);
    if (it == headerFooterRegistrations_.end()) return nullptr;
    return it->second(identifier);
}

std::size_t UITableView::reusableCellCount(const std::string& identifier) const {
    auto q = queues_.find(identifier);
    return q == queues_.end() ? 0 : q->second.size();
}

// ---- updates ------------------------------------------------------------------------------------

void UITableView::runUpdate(const UITableViewUpdate& update, const std::function<void()>& operation) {
    auto keepAlive = shared_from_this();
    std::vector<UpdateWrapperEntry> list = updateWrappers();
    std::sort(list.begin(), list.end(), [](const UpdateWrapperEntry& a, const UpdateWrapperEntry& b) {
        return a.order != b.order ? a.order > b.order : a.token > b.token;
    });
    std::function<void(std::size_t)> step = [&](std::size_t i) {
        if (i == list.size()) {
            operation();
            return;
        }
        list[i].wrapper(*this, update, [&step, i] { step(i + 1); });
    };
    step(0);
}

void UITableView::recordOrApply(const std::function<void(detail::ListUpdateBatch&)>& record) {
    ensureLoaded();
    if (updateDepth_ > 0) {
        record(pending_);
        return;
    }
    detail::ListUpdateBatch batch;
    record(batch);
    applyBatch(batch);
}

void UITableView::beginUpdates() {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    ++updateDepth_;
}

void UITableView::endUpdates() {
    NS_ASSERT_MAIN_THREAD();
    if (updateDepth_ == 0) {
        NSLog("UITableView: endUpdates without beginUpdates");
        return;
    }
    if (--updateDepth_ > 0) return;
    detail::ListUpdateBatch batch = std::move(pending_);
    pending_.clear();
    applyBatch(batch);
}

void UITableView::insertSections(const Ref<NSIndexSet>& sections, UITableViewRowAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::InsertSections;
    u.sections = sections;
    u.animation = animation;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.addSections(b.insertedSections, sections); }); });
}

void UITableView::deleteSections(const Ref<NSIndexSet>& sections, UITableViewRowAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::DeleteSections;
    u.sections = sections;
    u.animation = animation;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.addSections(b.deletedSections, sections); }); });
}

void UITableView::reloadSections(const Ref<NSIndexSet>& sections, UITableViewRowAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::ReloadSections;
    u.sections = sections;
    u.animation = animation;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.addSections(b.reloadedSections, sections); }); });
}

void UITableView::moveSection(long section, long newSection) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::MoveSection;
    u.fromSection = section;
    u.toSection = newSection;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.movedSections.push_back({section, newSection}); }); });
}

void UITableView::insertRowsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths,
                                         UITableViewRowAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::InsertRows;
    u.indexPaths = indexPaths;
    u.animation = animation;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.addRows(b.insertedRows, indexPaths); }); });
}

void UITableView::deleteRowsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths,
                                         UITableViewRowAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::DeleteRows;
    u.indexPaths = indexPaths;
    u.animation = animation;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.addRows(b.deletedRows, indexPaths); }); });
}

void UITableView::reloadRowsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths,
                                         UITableViewRowAnimation animation) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::ReloadRows;
    u.indexPaths = indexPaths;
    u.animation = animation;
    runUpdate(u, [&] { recordOrApply([&](auto& b) { b.addRows(b.reloadedRows, indexPaths); }); });
}

void UITableView::moveRowAtIndexPath(const Ref<NSIndexPath>& indexPath,
                                     const Ref<NSIndexPath>& newIndexPath) {
    NS_ASSERT_MAIN_THREAD();
    UITableViewUpdate u;
    u.kind = UITableViewUpdate::MoveRow;
    u.fromIndexPath = indexPath;
    u.toIndexPath = newIndexPath;
    runUpdate(u, [&] {
        recordOrApply([&](auto& b) {
            if (indexPath && newIndexPath && indexPath->length() >= 2 && newIndexPath->length() >= 2) {
                b.movedRows.push_back(
                    {detail::listPosition(*indexPath), detail::listPosition(*newIndexPath)});
            }
        });
    });
}

void UITableView::applyBatch(const detail::ListUpdateBatch& batch) {
    auto keepAlive = shared_from_this();
    auto ds = dataSource();
    std::vector<long> oldCounts;
    for (const Section& sec : sections_) oldCounts.push_back(sec.rows);
    const long newSections = ds ? std::max(0L, ds->numberOfSectionsInTableView(*this)) : 0;
    std::vector<long> newCounts;
    for (long s = 0; s < newSections; ++s)
        newCounts.push_back(std::max(0L, ds->tableViewNumberOfRowsInSection(*this, s)));
    detail::ListUpdateMapping mapping = detail::mapListUpdate(
        oldCounts, batch, newSections, [&](long s) { return newCounts[std::size_t(s)]; });
    if (!mapping.consistent) {
        NSLog("UITableView: invalid update (%@); reloading the data instead", mapping.problem);
        ++inconsistentUpdates_;
        platformReloadData();
        return;
    }
    reloading_ = true;
    detail::moveListCells(mapping, visible_, previous_,
                          [this](const auto& cell, const Key& key) { endDisplaying(cell, key); });
    selected_ = detail::moveListSelection(mapping, selected_);
    touchedRow_.reset();
    for (auto* views : {&headerViews_, &footerViews_}) {
        for (auto& [section, view] : *views) view->removeFromSuperview();
        views->clear();
    }
    sections_.assign(std::size_t(newSections), Section{});
    for (long s = 0; s < newSections; ++s) sections_[std::size_t(s)].rows = newCounts[std::size_t(s)];
    computeHeights();
    recomputeOffsets();
    layoutVisibleRows();
    previous_.clear();
    sweepStaleCells();
    reloading_ = false;
}

// ---- selection ----------------------------------------------------------------------------------

void UITableView::setAllowsSelection(bool on) {
    NS_ASSERT_MAIN_THREAD();
    allowsSelection_ = on;
    if (!on) {
        for (const Key& key : std::set<Key>(selected_)) setRowSelected(key, false, false);
    }
}

void UITableView::setAllowsMultipleSelection(bool on) {
    NS_ASSERT_MAIN_THREAD();
    allowsMultipleSelection_ = on;
    if (on) allowsSelection_ = true;
}

Ref<NSIndexPath> UITableView::indexPathForSelectedRow() const {
    return selected_.empty() ? nullptr : pathFor(*selected_.begin());
}

std::vector<Ref<NSIndexPath>> UITableView::indexPathsForSelectedRows() const {
    std::vector<Ref<NSIndexPath>> result;
    for (const Key& key : selected_) result.push_back(pathFor(key));
    return result;
}

void UITableView::setRowSelected(Key key, bool selected, bool animated) {
    if (selected) {
        selected_.insert(key);
    } else {
        selected_.erase(key);
    }
    if (auto it = visible_.find(key); it != visible_.end() && it->second->isSelected() != selected) {
        it->second->setSelected(selected, animated);
    }
}

void UITableView::selectRowAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated,
                                       UITableViewScrollPosition position) {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    if (!indexPath) {
        for (const Key& key : std::set<Key>(selected_)) setRowSelected(key, false, animated);
        return;
    }
    if (!allowsSelection_ || indexPath->length() < 2) return;
    const Key key = detail::listPosition(*indexPath);
    if (!keyExists(key)) return;
    if (!allowsMultipleSelection_) {
        for (const Key& other : std::set<Key>(selected_)) {
            if (other != key) setRowSelected(other, false, animated);
        }
    }
    setRowSelected(key, true, animated);
    if (position != UITableViewScrollPositionNone) scrollToRowAtIndexPath(indexPath, position, animated);
}

void UITableView::deselectRowAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    if (!indexPath || indexPath->length() < 2) return;
    setRowSelected(detail::listPosition(*indexPath), false, animated);
}

void UITableView::userSelectRowAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    if (!indexPath || indexPath->length() < 2) return;
    if (!allowsSelection_ || (editing_ && !allowsSelectionDuringEditing_)) return;
    auto keepAlive = shared_from_this();
    auto d = delegate();
    Key key = detail::listPosition(*indexPath);
    if (!keyExists(key)) return;
    if (allowsMultipleSelection_ && selected_.count(key)) {
        Ref<NSIndexPath> target = indexPath;
        if (d) {
            if (auto answer = d->tableViewWillDeselectRowAtIndexPath(*this, indexPath)) {
                if (!*answer) return;
                target = *answer;
            }
        }
        if (!target || target->length() < 2) return;
        setRowSelected(detail::listPosition(*target), false, false);
        if (d) d->tableViewDidDeselectRowAtIndexPath(*this, target);
        return;
    }
    Ref<NSIndexPath> target = indexPath;
    if (d) {
        if (auto answer = d->tableViewWillSelectRowAtIndexPath(*this, indexPath)) {
            if (!*answer) return;
            target = *answer;
        }
    }
    if (!target || target->length() < 2 || !keyExists(detail::listPosition(*target))) return;
    key = detail::listPosition(*target);
    if (!allowsMultipleSelection_) {
        for (const Key& other : std::set<Key>(selected_)) {
            if (other == key) continue;
            Ref<NSIndexPath> otherPath = pathFor(other);
            if (d) {
                if (auto answer = d->tableViewWillDeselectRowAtIndexPath(*this, otherPath)) {
                    if (!*answer) continue;
                    otherPath = *answer;
                }
            }
            if (!otherPath || otherPath->length() < 2) continue;
            setRowSelected(detail::listPosition(*otherPath), false, false);
            if (d) d->tableViewDidDeselectRowAtIndexPath(*this, otherPath);
        }
    }
    setRowSelected(key, true, false);
    if (d) d->tableViewDidSelectRowAtIndexPath(*this, target);
}

std::optional<UITableView::Key> UITableView::rowAtTablePoint(CGPoint point) {
    auto path = indexPathForRowAtPoint(point);
    if (!path) return std::nullopt;
    return detail::listPosition(*path);
}

void UITableView::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (touches.empty()) return;
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    const CGPoint point = (*touches.begin())->locationInView(self);
    touchedRow_.reset();
    if (!allowsSelection_ || (editing_ && !allowsSelectionDuringEditing_)) return;
    auto key = rowAtTablePoint(point);
    if (!key) return;
    auto it = visible_.find(*key);
    if (it == visible_.end()) return;
    if (auto d = delegate()) {
        auto should = d->tableViewShouldHighlightRowAtIndexPath(*this, pathFor(*key));
        if (should && !*should) return;
    }
    touchedRow_ = key;
    it->second->setHighlighted(true, false);
}

void UITableView::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (touches.empty() || !touchedRow_) return;
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    const CGPoint point = (*touches.begin())->locationInView(self);
    if (rowAtTablePoint(point) == touchedRow_) return;
    if (auto it = visible_.find(*touchedRow_); it != visible_.end()) it->second->setHighlighted(false, false);
    touchedRow_.reset();
}

void UITableView::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (touches.empty() || !touchedRow_) return;
    const Key key = *touchedRow_;
    touchedRow_.reset();
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    const CGPoint point = (*touches.begin())->locationInView(self);
    if (auto it = visible_.find(key); it != visible_.end()) it->second->setHighlighted(false, false);
    if (rowAtTablePoint(point) != key) return;
    userSelectRowAtIndexPath(pathFor(key));
}

void UITableView::touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) {
    if (!touchedRow_) return;
    if (auto it = visible_.find(*touchedRow_); it != visible_.end()) it->second->setHighlighted(false, false);
    touchedRow_.reset();
}

// ---- editing, separators ------------------------------------------------------------------------

void UITableView::setEditing(bool editing, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    editing_ = editing;
    for (const auto& [key, cell] : visible_) cell->setEditing(editing, animated);
}

void UITableView::commitEditingStyleForRowAtIndexPath(UITableViewCellEditingStyle style,
                                                      const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    auto ds = dataSource();
    if (!ds || !indexPath) return;
    auto can = ds->tableViewCanEditRowAtIndexPath(*this, indexPath);
    if (can && !*can) return;
    auto keepAlive = shared_from_this();
    ds->tableViewCommitEditingStyle(*this, style, indexPath);
}

void UITableView::setSeparatorStyle(UITableViewCellSeparatorStyle style) {
    NS_ASSERT_MAIN_THREAD();
    separatorStyle_ = style;
    if (loaded_) layoutVisibleRows();
}

void UITableView::setSeparatorColor(const Ref<UIColor>& color) {
    NS_ASSERT_MAIN_THREAD();
    separatorColor_ = color;
    if (loaded_) layoutVisibleRows();
}

void UITableView::setSeparatorInset(UIEdgeInsets inset) {
    NS_ASSERT_MAIN_THREAD();
    separatorInset_ = inset;
    if (loaded_) layoutVisibleRows();
}

CGFloat UITableView::separatorHeight() const {
    if (separatorStyle_ == UITableViewCellSeparatorStyleNone) return 0;
    const CGFloat scale = UIScreen::mainScreen()->scale();
    return scale > 0 ? 1 / scale : 1;
}

// ---- view overrides -----------------------------------------------------------------------------

void UITableView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    layoutVisibleRows();
}

void UITableView::contentOffsetDidChange(CGPoint oldOffset) {
    if (loaded_) layoutVisibleRows();
    UIScrollView::contentOffsetDidChange(oldOffset);
}

void UITableView::boundsSizeDidChange(CGSize oldSize) {
    UIScrollView::boundsSizeDidChange(oldSize);
    if (loaded_) layoutVisibleRows();
}
