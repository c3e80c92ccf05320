#include "uikit/UICollectionView.h"

#include <algorithm>
#include <unordered_set>

#include "dispatch/Dispatch.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UITouch.h"

namespace {

detail::ListReloadHooks<UICollectionView::ReloadHook>& reloadHooks() {
    static detail::ListReloadHooks<UICollectionView::ReloadHook> hooks;
    return hooks;
}

Ref<NSIndexPath> pathFor(detail::ListPosition key) {
    return NSIndexPath::indexPathForItem(key.second, key.first);
}

}  // namespace

// ---- construction -------------------------------------------------------------------------------

UICollectionView::UICollectionView(CGRect frame, const Ref<UICollectionViewLayout>& layout)
    : UIScrollView(frame), layout_(layout) {}

UICollectionView::~UICollectionView() = default;

void UICollectionView::didInit() {
    UIScrollView::didInit();
    setBackgroundColor(UIColor::blackColor());
    if (layout_) {
        layout_->attachToCollectionView(std::static_pointer_cast<UICollectionView>(shared_from_this()));
    }
}

void UICollectionView::setCollectionViewLayout(const Ref<UICollectionViewLayout>& layout) {
    NS_ASSERT_MAIN_THREAD();
    if (layout == layout_) return;
    if (layout_ && layout_->collectionView().get() == this) layout_->attachToCollectionView({});
    layout_ = layout;
    if (layout_)
        layout_->attachToCollectionView(std::static_pointer_cast<UICollectionView>(shared_from_this()));
    if (loaded_) layoutVisibleItems();
}

void UICollectionView::setCollectionViewLayout(const Ref<UICollectionViewLayout>& layout, bool) {
    NS_ASSERT_MAIN_THREAD();
    setCollectionViewLayout(layout);
}

void UICollectionView::setBackgroundView(const Ref<UIView>& view) {
    NS_ASSERT_MAIN_THREAD();
    if (backgroundView_ && backgroundView_ != view) backgroundView_->removeFromSuperview();
    backgroundView_ = view;
    if (view) {
        insertSubviewAtIndex(view, 0);
        view->setFrame(bounds());
    }
}

Ref<UICollectionViewLayoutAttributes>
UICollectionView::layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    if (!layout_ || !indexPath) return nullptr;
    ensureLoaded();
    prepareLayoutIfNeeded();
    return layout_->layoutAttributesForItemAtIndexPath(indexPath);
}

Ref<UICollectionViewLayoutAttributes>
UICollectionView::layoutAttributesForSupplementaryElementOfKind(const std::string& kind,
                                                                const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!layout_ || !indexPath) return nullptr;
    ensureLoaded();
    prepareLayoutIfNeeded();
    return layout_->layoutAttributesForSupplementaryViewOfKind(kind, indexPath);
}

// ---- data source and delegate -------------------------------------------------------------------

void UICollectionView::setDataSource(const Ref<UICollectionViewDataSource>& dataSource) {
    NS_ASSERT_MAIN_THREAD();
    dataSource_ = dataSource;
    loaded_ = false;
    setNeedsLayout();
}

Ref<UICollectionViewDelegate> UICollectionView::delegate() const {
    return std::dynamic_pointer_cast<UICollectionViewDelegate>(UIScrollView::delegate());
}

void UICollectionView::setDelegate(const Ref<UICollectionViewDelegate>& delegate) {
    NS_ASSERT_MAIN_THREAD();
    UIScrollView::setDelegate(delegate);
    if (layout_) layout_->invalidateLayout();
}

std::uint64_t UICollectionView::addReloadDataHook(ReloadStage stage, int order, ReloadHook hook) {
    return reloadHooks().add(stage == ReloadStage::Before, order, std::move(hook));
}

void UICollectionView::removeReloadDataHook(std::uint64_t token) {
    reloadHooks().remove(token);
}

// ---- the model ----------------------------------------------------------------------------------

void UICollectionView::reloadData() {
    NS_ASSERT_MAIN_THREAD();
    auto keepAlive = shared_from_this();
    reloadHooks().runAround(*this, [this] { platformReloadData(); });
}

void UICollectionView::platformReloadData() {
    NS_ASSERT_MAIN_THREAD();
    auto keepAlive = shared_from_this();
    if (updateDepth_ > 0 && !pending_.empty()) {
        NSLog("UICollectionView: reloadData inside batch updates drops the updates recorded so far");
        pending_.clear();
    }
    reloading_ = true;
    detail::retireListCells(visible_, previous_,
                            [this](const auto& cell, Key key) { endDisplaying(cell, key); });
    for (auto& [key, view] : supplementary_) {
        if (view->reuseIdentifier()) {
            enqueueView(view, supplementaryQueueKey(std::get<0>(key), *view->reuseIdentifier()));
        }
    }
    supplementary_.clear();
    selected_.clear();
    touchedItem_.reset();
    loaded_ = true;
    loadCounts();
    if (layout_) layout_->invalidateLayout();
    layoutVisibleItems();
    previous_.clear();
    sweepStaleViews();
    reloading_ = false;
}

void UICollectionView::ensureLoaded() {
    if (!loaded_ && !reloading_) platformReloadData();
}

void UICollectionView::loadCounts() {
    counts_.clear();
    auto ds = dataSource();
    if (!ds) return;
    const long sections = std::max(0L, ds->numberOfSectionsInCollectionView(*this));
    for (long s = 0; s < sections; ++s) {
        counts_.push_back(std::max(0L, ds->collectionViewNumberOfItemsInSection(*this, s)));
    }
}

long UICollectionView::numberOfSections() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    return long(counts_.size());
}

long UICollectionView::numberOfItemsInSection(long section) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    ensureLoaded();
    if (section < 0 || std::size_t(section) >= counts_.size()) return 0;
    return counts_[std::size_t(section)];
}

bool UICollectionView::keyExists(Key key) const {
    return key.first >= 0 && std::size_t(key.first) < counts_.size() && key.second >= 0 &&
           key.second < counts_[std::size_t(key.first)];
}

// ---- reuse --------------------------------------------------------------------------------------

std::string UICollectionView::supplementaryQueueKey(const std::string& kind, const std::string& identifier) {
    return kind + '\x1f' + identifier;
}

void UICollectionView::registerClass(CellFactory factory, const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    if (!factory) {
        registrations_.erase(identifier);
        return;
    }
    registrations_[identifier] = Registration{std::move(factory), nullptr, nullptr};
}

void UICollectionView::registerNib(const Ref<UINib>& nib, const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    if (!nib) {
        registrations_.erase(identifier);
        return;
    }
    registrations_[identifier] = Registration{nullptr, nullptr, nib};
}

void UICollectionView::registerClassForSupplementaryViewOfKind(SupplementaryFactory factory,
                                                               const std::string& kind,
                                                               const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    const std::string key = supplementaryQueueKey(kind, identifier);
    if (!factory) {
        registrations_.erase(key);
        return;
    }
    registrations_[key] = Registration{nullptr, std::move(factory), nullptr};
}

void UICollectionView::registerNibForSupplementaryViewOfKind(const Ref<UINib>& nib, const std::string& kind,
                                                             const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD();
    const std::string key = supplementaryQueueKey(kind, identifier);
    if (!nib) {
        registrations_.erase(key);
        return;
    }
    registrations_[key] = Registration{nullptr, nullptr, nib};
}

Ref<UICollectionReusableView> UICollectionView::makeRegistered(const std::string& queueKey,
                                                               bool supplementary) {
    auto it = registrations_.find(queueKey);
    if (it == registrations_.end()) return nullptr;
    const std::string identifier =
        queueKey.substr(queueKey.find('\x1f') == std::string::npos ? 0 : queueKey.find('\x1f') + 1);
    Ref<UICollectionReusableView> view;
    if (it->second.factory && !supplementary) {
        view = it->second.factory(identifier);
    } else if (it->second.supplementaryFactory && supplementary) {
        view = it->second.supplementaryFactory(identifier);
    } else if (it->second.nib) {
        for (const auto& object : it->second.nib->instantiateWithOwner(nullptr)) {
            view = supplementary ? std::dynamic_pointer_cast<UICollectionReusableView>(object)
                                 : std::dynamic_pointer_cast<UICollectionViewCell>(object);
            if (view) break;
        }
        if (!view)
            NSLog("UICollectionView: the nib \"%@\" holds no view of the registered kind",
                  it->second.nib->name());
    }
    if (!view) return nullptr;
    if (!view->reuseIdentifier()) view->setReuseIdentifier(identifier);
    ++cellsCreated_;
    return view;
}

Ref<UICollectionReusableView> UICollectionView::takeFromQueue(const std::string& queueKey,
                                                              std::optional<Key> preferred) {
    auto q = queues_.find(queueKey);
    if (q == queues_.end() || q->second.empty()) return nullptr;
    auto& list = q->second;
    auto pick = list.end() - 1;
    if (preferred) {
        if (auto p = previous_.find(*preferred); p != previous_.end()) {
            auto found = std::find(list.begin(), list.end(),
                                   std::static_pointer_cast<UICollectionReusableView>(p->second));
            if (found != list.end()) pick = found;
        }
    }
    Ref<UICollectionReusableView> view = *pick;
    list.erase(pick);
    for (auto it = previous_.begin(); it != previous_.end();) {
        it = it->second == view ? previous_.erase(it) : std::next(it);
    }
    return view;
}

void UICollectionView::enqueueView(const Ref<UICollectionReusableView>& view, const std::string& queueKey) {
    if (!reloading_ && view->superviewPointer() == this) view->removeFromSuperview();
    auto& q = queues_[queueKey];
    if (std::find(q.begin(), q.end(), view) == q.end()) q.push_back(view);
}

Ref<UICollectionViewCell>
UICollectionView::dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                         const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    std::optional<Key> key;
    if (indexPath && indexPath->length() >= 2) key = detail::listPosition(*indexPath);
    auto cell = std::dynamic_pointer_cast<UICollectionViewCell>(takeFromQueue(identifier, key));
    if (cell) {
        cell->prepareForReuse();
        return cell;
    }
    cell = std::dynamic_pointer_cast<UICollectionViewCell>(makeRegistered(identifier, false));
    if (!cell) {
        NSLog("UICollectionView: no cell class or nib is registered for the identifier \"%@\"", identifier);
        cell = make<UICollectionViewCell>(CGRectZero);
        cell->setReuseIdentifier(identifier);
        ++cellsCreated_;
    }
    return cell;
}

Ref<UICollectionReusableView> UICollectionView::dequeueReusableSupplementaryViewOfKind(
    const std::string& kind, const std::string& identifier, const Ref<NSIndexPath>&) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const std::string key = supplementaryQueueKey(kind, identifier);
    if (auto view = takeFromQueue(key, std::nullopt)) {
        view->prepareForReuse();
        return view;
    }
    if (auto view = makeRegistered(key, true)) return view;
    NSLog("UICollectionView: no view is registered for the kind \"%@\" and the identifier \"%@\"", kind,
          identifier);
    auto view = make<UICollectionReusableView>(CGRectZero);
    view->setReuseIdentifier(identifier);
    return view;
}

std::size_t UICollectionView::reusableCellCount(const std::string& identifier) const {
    auto q = queues_.find(identifier);
    return q == queues_.end() ? 0 : q->second.size();
}

// ---- the visible items --------------------------------------------------------------------------

void UICollectionView::prepareLayoutIfNeeded() {
    if (!layout_ || !layout_->isInvalid()) return;
    layout_->markValid();
    layout_->prepareLayout();
    const CGSize size = layout_->collectionViewContentSize();
    if (size != contentSize()) setContentSize(size);
}

void UICollectionView::layoutVisibleItems() {
    NS_ASSERT_MAIN_THREAD();
    if (inTile_) return;
    if (!loaded_) {
        if (!reloading_) platformReloadData();
        return;
    }
    auto keepAlive = shared_from_this();
    inTile_ = true;
    prepareLayoutIfNeeded();
    const CGRect visibleRect = bounds();
    std::vector<Ref<UICollectionViewLayoutAttributes>> elements;
    if (layout_ && visibleRect.size.width > 0 && visibleRect.size.height > 0) {
        elements = layout_->layoutAttributesForElementsInRect(visibleRect);
    }
    std::map<Key, Ref<UICollectionViewLayoutAttributes>> cells;
    std::map<SupplementaryKey, Ref<UICollectionViewLayoutAttributes>> supplementary;
    for (const auto& a : elements) {
        if (!a || !a->indexPath() || a->indexPath()->length() < 2 || a->isHidden()) continue;
        if (!CGRectIntersectsRect(a->frame(), visibleRect)) continue;
        const Key key = detail::listPosition(*a->indexPath());
        if (a->representedElementCategory() == UICollectionElementCategoryCell) {
            if (keyExists(key)) cells[key] = a;
        } else if (a->representedElementCategory() == UICollectionElementCategorySupplementaryView &&
                   a->representedElementKind()) {
            if (key.first >= 0 && std::size_t(key.first) < counts_.size()) {
                supplementary[{*a->representedElementKind(), key.first, key.second}] = a;
            }
        }
    }
    auto d = delegate();
    detail::dropListCellsNotWanted(visible_, cells,
                                   [this](const auto& cell, Key key) { endDisplaying(cell, key); });
    for (const auto& [key, a] : cells) {
        if (!keyExists(key)) continue;
        if (auto it = visible_.find(key); it != visible_.end()) {
            applyAttributes(it->second, a);
            continue;
        }
        auto cell = requestCell(key);
        if (!cell) continue;
        visible_[key] = cell;
        applyAttributes(cell, a);
        const bool selected = selected_.count(key) > 0;
        if (cell->isSelected() != selected) cell->setSelected(selected);
        if (cell->superviewPointer() != this) addSubview(cell);
        if (d) d->collectionViewWillDisplayCell(*this, cell, pathFor(key));
    }
    for (auto it = supplementary_.begin(); it != supplementary_.end();) {
        if (supplementary.count(it->first)) {
            ++it;
            continue;
        }
        auto view = it->second;
        if (view->reuseIdentifier()) {
            enqueueView(view, supplementaryQueueKey(std::get<0>(it->first), *view->reuseIdentifier()));
        } else if (!reloading_) {
            view->removeFromSuperview();
        }
        it = supplementary_.erase(it);
    }
    auto ds = dataSource();
    for (const auto& [key, a] : supplementary) {
        if (auto it = supplementary_.find(key); it != supplementary_.end()) {
            applyAttributes(it->second, a);
            continue;
        }
        if (!ds) continue;
        const auto path = pathFor({std::get<1>(key), std::get<2>(key)});
        auto view = ds->collectionViewViewForSupplementaryElementOfKind(*this, std::get<0>(key), path);
        if (!view) continue;
        for (auto& [k, q] : queues_) q.erase(std::remove(q.begin(), q.end(), view), q.end());
        supplementary_[key] = view;
        applyAttributes(view, a);
        if (view->superviewPointer() != this) addSubview(view);
        if (d) d->collectionViewWillDisplaySupplementaryView(*this, view, std::get<0>(key), path);
    }
    if (backgroundView_) {
        if (backgroundView_->frame() != bounds()) backgroundView_->setFrame(bounds());
        sendSubviewToBack(backgroundView_);
    }
    inTile_ = false;
}

Ref<UICollectionViewCell> UICollectionView::requestCell(Key key) {
    auto ds = dataSource();
    if (!ds) return nullptr;
    auto cell = ds->collectionViewCellForItemAtIndexPath(*this, pathFor(key));
    if (!cell) {
        NSLog("UICollectionView: the data source gave no cell for item %ld of section %ld", key.second,
              key.first);
        return nullptr;
    }
    const auto view = std::static_pointer_cast<UICollectionReusableView>(cell);
    for (auto& [k, q] : queues_) q.erase(std::remove(q.begin(), q.end(), view), q.end());
    detail::claimListCell(visible_, previous_, cell, key);
    return cell;
}

void UICollectionView::applyAttributes(const Ref<UICollectionReusableView>& view,
                                       const Ref<UICollectionViewLayoutAttributes>& a) {
    if (view->frame() != a->frame()) view->setFrame(a->frame());
    if (view->alpha() != a->alpha()) view->setAlpha(a->alpha());
    if (view->isHidden() != a->isHidden()) view->setHidden(a->isHidden());
    view->applyLayoutAttributes(a);
}

void UICollectionView::endDisplaying(const Ref<UICollectionViewCell>& cell, Key key) {
    if (touchedItem_ == key) touchedItem_.reset();
    if (cell->isHighlighted()) cell->setHighlighted(false);
    if (cell->reuseIdentifier()) {
        enqueueView(cell, *cell->reuseIdentifier());
    } else if (!reloading_) {
        cell->removeFromSuperview();
    }
    if (auto d = delegate()) d->collectionViewDidEndDisplayingCell(*this, cell, pathFor(key));
}

void UICollectionView::sweepStaleViews() {
    std::unordered_set<const UIView*> shown;
    for (const auto& [key, cell] : visible_) shown.insert(cell.get());
    for (const auto& [key, view] : supplementary_) shown.insert(view.get());
    const std::vector<Ref<UIView>> views = subviews();
    for (const auto& view : views) {
        if (dynamic_cast<UICollectionReusableView*>(view.get()) && !shown.count(view.get()))
            view->removeFromSuperview();
    }
}

std::vector<Ref<UICollectionViewCell>> UICollectionView::visibleCells() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    layoutVisibleItems();
    return detail::listCellsOnShow(visible_);
}

std::vector<Ref<NSIndexPath>> UICollectionView::indexPathsForVisibleItems() {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    layoutVisibleItems();
    return detail::listPathsOnShow(visible_, pathFor);
}

Ref<UICollectionViewCell> UICollectionView::cellForItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!indexPath || indexPath->length() < 2) return nullptr;
    layoutVisibleItems();
    return detail::listCellAt(visible_, previous_, detail::listPosition(*indexPath));
}

Ref<NSIndexPath> UICollectionView::indexPathForCell(const Ref<UICollectionViewCell>& cell) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!cell) return nullptr;
    layoutVisibleItems();
    return detail::listPathOfCell(visible_, cell, pathFor);
}

std::optional<UICollectionView::Key> UICollectionView::itemAtPoint(CGPoint point) {
    ensureLoaded();
    prepareLayoutIfNeeded();
    if (!layout_) return std::nullopt;
    std::optional<Key> found;
    long zIndex = 0;
    for (const auto& a : layout_->layoutAttributesForElementsInRect(CGRectMake(point.x, point.y, 1, 1))) {
        if (!a || !a->indexPath() || a->indexPath()->length() < 2 || a->isHidden()) continue;
        if (a->representedElementCategory() != UICollectionElementCategoryCell) continue;
        if (!CGRectContainsPoint(a->frame(), point)) continue;
        const Key key = detail::listPosition(*a->indexPath());
        if (!keyExists(key)) continue;
        if (!found || a->zIndex() >= zIndex) {
            found = key;
            zIndex = a->zIndex();
        }
    }
    return found;
}

Ref<NSIndexPath> UICollectionView::indexPathForItemAtPoint(CGPoint point) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto key = itemAtPoint(point);
    return key ? pathFor(*key) : nullptr;
}

Ref<UICollectionReusableView>
UICollectionView::supplementaryViewForElementKind(const std::string& kind,
                                                  const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!indexPath || indexPath->length() < 2) return nullptr;
    layoutVisibleItems();
    auto it = supplementary_.find({kind, indexPath->section(), indexPath->row()});
    return it == supplementary_.end() ? nullptr : it->second;
}

void UICollectionView::scrollToItemAtIndexPath(const Ref<NSIndexPath>& indexPath,
                                               UICollectionViewScrollPosition position, bool animated) {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    if (!indexPath || indexPath->length() < 2 || !keyExists(detail::listPosition(*indexPath))) {
        NSLog("UICollectionView: cannot scroll to %@, which is not an item of the collection view",
              indexPath ? indexPath->description() : std::string("nil"));
        return;
    }
    auto a = layoutAttributesForItemAtIndexPath(indexPath);
    if (!a) return;
    const CGRect f = a->frame();
    const CGRect b = bounds();
    const UIEdgeInsets inset = contentInset();
    CGPoint offset = contentOffset();
    if (position & UICollectionViewScrollPositionTop) {
        offset.y = f.origin.y - inset.top;
    } else if (position & UICollectionViewScrollPositionCenteredVertically) {
        offset.y = CGRectGetMidY(f) - (b.size.height - inset.top - inset.bottom) / 2 - inset.top;
    } else if (position & UICollectionViewScrollPositionBottom) {
        offset.y = CGRectGetMaxY(f) - b.size.height + inset.bottom;
    }
    if (position & UICollectionViewScrollPositionLeft) {
        offset.x = f.origin.x - inset.left;
    } else if (position & UICollectionViewScrollPositionCenteredHorizontally) {
        offset.x = CGRectGetMidX(f) - (b.size.width - inset.left - inset.right) / 2 - inset.left;
    } else if (position & UICollectionViewScrollPositionRight) {
        offset.x = CGRectGetMaxX(f) - b.size.width + inset.right;
    }
    if (position == UICollectionViewScrollPositionNone) {
        if (f.origin.y < offset.y + inset.top) {
            offset.y = f.origin.y - inset.top;
        } else if (CGRectGetMaxY(f) > offset.y + b.size.height - inset.bottom) {
            offset.y = CGRectGetMaxY(f) - b.size.height + inset.bottom;
        }
        if (f.origin.x < offset.x + inset.left) {
            offset.x = f.origin.x - inset.left;
        } else if (CGRectGetMaxX(f) > offset.x + b.size.width - inset.right) {
            offset.x = CGRectGetMaxX(f) - b.size.width + inset.right;
        }
    }
    const CGPoint min = minimumContentOffset(), max = maximumContentOffset();
    offset = {std::clamp(offset.x, min.x, max.x), std::clamp(offset.y, min.y, max.y)};
    if (offset != contentOffset()) setContentOffset(offset, animated);
}

// ---- updates ------------------------------------------------------------------------------------

void UICollectionView::recordOrApply(const std::function<void(detail::ListUpdateBatch&)>& record) {
    ensureLoaded();
    if (updateDepth_ > 0) {
        record(pending_);
        return;
    }
    detail::ListUpdateBatch batch;
    record(batch);
    applyBatch(batch);
}

void UICollectionView::insertSections(const Ref<NSIndexSet>& sections) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.addSections(b.insertedSections, sections); });
}

void UICollectionView::deleteSections(const Ref<NSIndexSet>& sections) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.addSections(b.deletedSections, sections); });
}

void UICollectionView::reloadSections(const Ref<NSIndexSet>& sections) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.addSections(b.reloadedSections, sections); });
}

void UICollectionView::moveSection(long section, long newSection) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.movedSections.push_back({section, newSection}); });
}

void UICollectionView::insertItemsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.addRows(b.insertedRows, indexPaths); });
}

void UICollectionView::deleteItemsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.addRows(b.deletedRows, indexPaths); });
}

void UICollectionView::reloadItemsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) { b.addRows(b.reloadedRows, indexPaths); });
}

void UICollectionView::moveItemAtIndexPath(const Ref<NSIndexPath>& indexPath,
                                           const Ref<NSIndexPath>& newIndexPath) {
    NS_ASSERT_MAIN_THREAD();
    recordOrApply([&](auto& b) {
        if (indexPath && newIndexPath && indexPath->length() >= 2 && newIndexPath->length() >= 2) {
            b.movedRows.push_back({detail::listPosition(*indexPath), detail::listPosition(*newIndexPath)});
        }
    });
}

void UICollectionView::performBatchUpdates(const std::function<void()>& updates,
                                           std::function<void(bool finished)> completion) {
    NS_ASSERT_MAIN_THREAD();
    auto keepAlive = shared_from_this();
    ensureLoaded();
    ++updateDepth_;
    if (updates) updates();
    if (--updateDepth_ == 0) {
        detail::ListUpdateBatch batch = std::move(pending_);
        pending_.clear();
        if (batch.empty()) {
            if (layout_) layout_->invalidateLayout();
            layoutVisibleItems();
        } else {
            applyBatch(batch);
        }
    }
    if (completion) {
        dispatch_async(dispatch_get_main_queue(), [completion = std::move(completion)] { completion(true); });
    }
}

void UICollectionView::applyBatch(const detail::ListUpdateBatch& batch) {
    auto keepAlive = shared_from_this();
    auto ds = dataSource();
    const long newSections = ds ? std::max(0L, ds->numberOfSectionsInCollectionView(*this)) : 0;
    std::vector<long> newCounts;
    for (long s = 0; s < newSections; ++s) {
        newCounts.push_back(std::max(0L, ds->collectionViewNumberOfItemsInSection(*this, s)));
    }
    detail::ListUpdateMapping mapping =
        detail::mapListUpdate(counts_, batch, newSections, [&](long s) { return newCounts[std::size_t(s)]; });
    if (!mapping.consistent) {
        NSLog("UICollectionView: invalid update (%@); reloading the data instead", mapping.problem);
        ++inconsistentUpdates_;
        platformReloadData();
        return;
    }
    reloading_ = true;
    detail::moveListCells(mapping, visible_, previous_,
                          [this](const auto& cell, const Key& key) { endDisplaying(cell, key); });
    selected_ = detail::moveListSelection(mapping, selected_);
    touchedItem_.reset();
    for (auto& [key, view] : supplementary_) {
        if (view->reuseIdentifier())
            enqueueView(view, supplementaryQueueKey(std::get<0>(key), *view->reuseIdentifier()));
    }
    supplementary_.clear();
    counts_ = newCounts;
    if (layout_) layout_->invalidateLayout();
    layoutVisibleItems();
    previous_.clear();
    sweepStaleViews();
    reloading_ = false;
}

// ---- selection ----------------------------------------------------------------------------------

std::vector<Ref<NSIndexPath>> UICollectionView::indexPathsForSelectedItems() const {
    std::vector<Ref<NSIndexPath>> result;
    for (const Key& key : selected_) result.push_back(pathFor(key));
    return result;
}

void UICollectionView::setItemSelected(Key key, bool selected) {
    if (selected) {
        selected_.insert(key);
    } else {
        selected_.erase(key);
    }
    if (auto it = visible_.find(key); it != visible_.end() && it->second->isSelected() != selected) {
        it->second->setSelected(selected);
    }
}

void UICollectionView::selectItemAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated,
                                             UICollectionViewScrollPosition position) {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    if (!indexPath) {
        for (const Key& key : std::set<Key>(selected_)) setItemSelected(key, false);
        return;
    }
    if (!allowsSelection_ || indexPath->length() < 2) return;
    const Key key = detail::listPosition(*indexPath);
    if (!keyExists(key)) return;
    if (!allowsMultipleSelection_) {
        for (const Key& other : std::set<Key>(selected_)) {
            if (other != key) setItemSelected(other, false);
        }
    }
    setItemSelected(key, true);
    if (position != UICollectionViewScrollPositionNone)
        scrollToItemAtIndexPath(indexPath, position, animated);
}

void UICollectionView::deselectItemAtIndexPath(const Ref<NSIndexPath>& indexPath, bool) {
    NS_ASSERT_MAIN_THREAD();
    if (!indexPath || indexPath->length() < 2) return;
    setItemSelected(detail::listPosition(*indexPath), false);
}

void UICollectionView::userSelectItemAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    ensureLoaded();
    if (!allowsSelection_ || !indexPath || indexPath->length() < 2) return;
    const Key key = detail::listPosition(*indexPath);
    if (!keyExists(key)) return;
    auto keepAlive = shared_from_this();
    auto d = delegate();
    if (allowsMultipleSelection_ && selected_.count(key)) {
        if (d) {
            auto should = d->collectionViewShouldDeselectItemAtIndexPath(*this, indexPath);
            if (should && !*should) return;
        }
        setItemSelected(key, false);
        if (d) d->collectionViewDidDeselectItemAtIndexPath(*this, indexPath);
        return;
    }
    if (d) {
        auto should = d->collectionViewShouldSelectItemAtIndexPath(*this, indexPath);
        if (should && !*should) return;
    }
    if (!allowsMultipleSelection_) {
        for (const Key& other : std::set<Key>(selected_)) {
            if (other == key) continue;
            setItemSelected(other, false);
            if (d) d->collectionViewDidDeselectItemAtIndexPath(*this, pathFor(other));
        }
    }
    setItemSelected(key, true);
    if (d) d->collectionViewDidSelectItemAtIndexPath(*this, indexPath);
}

void UICollectionView::touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>&) {
    touchedItem_.reset();
    if (touches.empty() || !allowsSelection_) return;
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    auto key = itemAtPoint((*touches.begin())->locationInView(self));
    if (!key) return;
    auto it = visible_.find(*key);
    if (it == visible_.end()) return;
    auto d = delegate();
    if (d) {
        auto should = d->collectionViewShouldHighlightItemAtIndexPath(*this, pathFor(*key));
        if (should && !*should) return;
    }
    touchedItem_ = key;
    it->second->setHighlighted(true);
    if (d) d->collectionViewDidHighlightItemAtIndexPath(*this, pathFor(*key));
}

void UICollectionView::touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>&) {
    if (touches.empty() || !touchedItem_) return;
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    if (itemAtPoint((*touches.begin())->locationInView(self)) == touchedItem_) return;
    const Key key = *touchedItem_;
    touchedItem_.reset();
    if (auto it = visible_.find(key); it != visible_.end()) it->second->setHighlighted(false);
    if (auto d = delegate()) d->collectionViewDidUnhighlightItemAtIndexPath(*this, pathFor(key));
}

void UICollectionView::touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>&) {
    if (touches.empty() || !touchedItem_) return;
    const Key key = *touchedItem_;
    touchedItem_.reset();
    auto self = std::static_pointer_cast<UIView>(shared_from_this());
    const bool inside = itemAtPoint((*touches.begin())->locationInView(self)) == key;
    if (auto it = visible_.find(key); it != visible_.end()) it->second->setHighlighted(false);
    if (auto d = delegate()) d->collectionViewDidUnhighlightItemAtIndexPath(*this, pathFor(key));
    if (inside) userSelectItemAtIndexPath(pathFor(key));
}

void UICollectionView::touchesCancelled(const std::set<Ref<UITouch>>&, const Ref<UIEvent>&) {
    if (!touchedItem_) return;
    const Key key = *touchedItem_;
    touchedItem_.reset();
    if (auto it = visible_.find(key); it != visible_.end()) it->second->setHighlighted(false);
    if (auto d = delegate()) d->collectionViewDidUnhighlightItemAtIndexPath(*this, pathFor(key));
}

// ---- view overrides -----------------------------------------------------------------------------

void UICollectionView::layoutSubviews() {
    UIScrollView::layoutSubviews();
    layoutVisibleItems();
}

void UICollectionView::contentOffsetDidChange(CGPoint oldOffset) {
    if (loaded_) {
        if (layout_ && layout_->shouldInvalidateLayoutForBoundsChange(bounds())) layout_->invalidateLayout();
        layoutVisibleItems();
    }
    UIScrollView::contentOffsetDidChange(oldOffset);
}

void UICollectionView::boundsSizeDidChange(CGSize oldSize) {
    UIScrollView::boundsSizeDidChange(oldSize);
    if (loaded_) {
        if (layout_ && layout_->shouldInvalidateLayoutForBoundsChange(bounds())) layout_->invalidateLayout();
        layoutVisibleItems();
    }
}
