#pragma once
// Collection views: items in sections, placed by a layout object (UICollectionViewLayout), shown
// through reusable cells and supplementary views.
//
// The model: the number of sections and the items of each, as of the last reload or update;
// numberOfSections / numberOfItemsInSection answer from it (the first question or layout loads
// it). reloadData re-reads the counts synchronously, invalidates the layout and lays out at once,
// so contentSize (the layout's collectionViewContentSize) and the visible cells are up to date
// when it returns.
//
// The layout pass (UICollectionViewLayout.h) runs whenever the offset, the size or the data
// change: the visible cells are the elements the layout gives for the bounds whose frames meet
// them; cells coming into view come from the data source (then willDisplayCell), cells leaving
// it go to the reuse queue of their identifier (didEndDisplayingCell). A bounds change
// (scrolling included) re-runs prepareLayout when the layout's
// shouldInvalidateLayoutForBoundsChange answers true.
//
// As with tables, during a reload the cells shown before stay reachable through
// cellForItemAtIndexPath at their old index paths, and dequeue prefers the cell that showed the
// requested item.
//
// Updates (insert/delete/reload/move of items and sections, performBatchUpdates) apply at once,
// batch rules as tables have them (UIListUpdates.h); an inconsistent batch is logged and becomes a
// full reload (the platform raises). performBatchUpdates's completion runs on a later turn of the
// main loop with finished = true.
//
// reloadData's hook list: the Before hooks from the highest order down, the platform reload, the
// After hooks from the lowest order up (the refresh controls install an After hook at
// kReloadHookOrderRefreshControls). Process-wide; the first implicit load runs none.
//
// Selection: a tap on a cell asks shouldSelectItemAtIndexPath, deselects the previous item
// (unless multiple selection is on; a tap on a selected item then deselects it) and selects the
// item, then didSelectItemAtIndexPath. selectItemAtIndexPath / deselectItemAtIndexPath do not ask
// the delegate. The delegate is also the scroll view delegate; data source and delegate are
// held weakly. Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/NSIndexPath.h"
#include "foundation/NSIndexSet.h"
#include "uikit/UICollectionViewCell.h"
#include "uikit/UICollectionViewLayout.h"
#include "uikit/UIListUpdates.h"
#include "uikit/UINib.h"
#include "uikit/UIScrollView.h"

class UICollectionView;

using UICollectionViewScrollPosition = unsigned long;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionNone = 0;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionTop = 1u << 0;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionCenteredVertically = 1u << 1;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionBottom = 1u << 2;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionLeft = 1u << 3;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionCenteredHorizontally = 1u << 4;
inline constexpr UICollectionViewScrollPosition UICollectionViewScrollPositionRight = 1u << 5;

class UICollectionViewDataSource {
  public:
    virtual ~UICollectionViewDataSource() = default;
    virtual long collectionViewNumberOfItemsInSection(UICollectionView& collectionView, long section) = 0;
    virtual Ref<UICollectionViewCell>
    collectionViewCellForItemAtIndexPath(UICollectionView& collectionView,
                                         const Ref<NSIndexPath>& indexPath) = 0;
    virtual long numberOfSectionsInCollectionView(UICollectionView& collectionView) { return 1; }
    virtual Ref<UICollectionReusableView>
    collectionViewViewForSupplementaryElementOfKind(UICollectionView& collectionView, const std::string& kind,
                                                    const Ref<NSIndexPath>& indexPath) {
        return nullptr;
    }
};

class UICollectionViewDelegate : public virtual UIScrollViewDelegate {
  public:
    virtual std::optional<bool>
    collectionViewShouldHighlightItemAtIndexPath(UICollectionView& collectionView,
                                                 const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual void collectionViewDidHighlightItemAtIndexPath(UICollectionView& collectionView,
                                                           const Ref<NSIndexPath>& indexPath) {}
    virtual void collectionViewDidUnhighlightItemAtIndexPath(UICollectionView& collectionView,
                                                             const Ref<NSIndexPath>& indexPath) {}
    virtual std::optional<bool> collectionViewShouldSelectItemAtIndexPath(UICollectionView& collectionView,
                                                                          const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<bool>
    collectionViewShouldDeselectItemAtIndexPath(UICollectionView& collectionView,
                                                const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual void collectionViewDidSelectItemAtIndexPath(UICollectionView& collectionView,
                                                        const Ref<NSIndexPath>& indexPath) {}
    virtual void collectionViewDidDeselectItemAtIndexPath(UICollectionView& collectionView,
                                                          const Ref<NSIndexPath>& indexPath) {}
    virtual void collectionViewWillDisplayCell(UICollectionView& collectionView,
                                               const Ref<UICollectionViewCell>& cell,
                                               const Ref<NSIndexPath>& indexPath) {}
    virtual void collectionViewDidEndDisplayingCell(UICollectionView& collectionView,
                                                    const Ref<UICollectionViewCell>& cell,
                                                    const Ref<NSIndexPath>& indexPath) {}
    virtual void collectionViewWillDisplaySupplementaryView(UICollectionView& collectionView,
                                                            const Ref<UICollectionReusableView>& view,
                                                            const std::string& kind,
                                                            const Ref<NSIndexPath>& indexPath) {}
};

class UICollectionView : public UIScrollView {
  public:
    // initWithFrame:collectionViewLayout:
    UICollectionView(CGRect frame, const Ref<UICollectionViewLayout>& layout);
    ~UICollectionView() override;
    std::string className() const override { return "UICollectionView"; }
    void didInit();

    // ---- layout -------------------------------------------------------------------------------
    const Ref<UICollectionViewLayout>& collectionViewLayout() const { return layout_; }
    void setCollectionViewLayout(const Ref<UICollectionViewLayout>& layout);
    void setCollectionViewLayout(const Ref<UICollectionViewLayout>& layout, bool animated);
    // The layout's attributes for an item or a supplementary view.
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForItemAtIndexPath(const Ref<NSIndexPath>& indexPath);
    Ref<UICollectionViewLayoutAttributes>
    layoutAttributesForSupplementaryElementOfKind(const std::string& kind, const Ref<NSIndexPath>& indexPath);
    const Ref<UIView>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(const Ref<UIView>& view);

    // ---- data source and delegate (weak) -------------------------------------------------------
    Ref<UICollectionViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(const Ref<UICollectionViewDataSource>& dataSource);
    Ref<UICollectionViewDelegate> delegate() const;
    void setDelegate(const Ref<UICollectionViewDelegate>& delegate);

    // ---- the model ----------------------------------------------------------------------------
    void reloadData();
    void platformReloadData();
    bool hasLoadedData() const { return loaded_; }
    long numberOfSections();
    long numberOfItemsInSection(long section);

    // ---- reuse --------------------------------------------------------------------------------
    using CellFactory = std::function<Ref<UICollectionViewCell>(const std::string& reuseIdentifier)>;
    using SupplementaryFactory =
        std::function<Ref<UICollectionReusableView>(const std::string& reuseIdentifier)>;
    void registerClass(CellFactory factory, const std::string& identifier);
    template <class T>
    void registerClass(const std::string& identifier) {
        registerClass([](const std::string&) -> Ref<UICollectionViewCell> { return make<T>(CGRectZero); },
                      identifier);
    }
    // The nib's first top-level UICollectionViewCell makes each new cell.
    void registerNib(const Ref<UINib>& nib, const std::string& identifier);
    void registerClassForSupplementaryViewOfKind(SupplementaryFactory factory, const std::string& kind,
                                                 const std::string& identifier);
    void registerNibForSupplementaryViewOfKind(const Ref<UINib>& nib, const std::string& kind,
                                               const std::string& identifier);
    // Never nullptr: an identifier with nothing registered is logged and gets a plain cell (the
    // platform raises).
    Ref<UICollectionViewCell> dequeueReusableCellWithReuseIdentifier(const std::string& identifier,
                                                                     const Ref<NSIndexPath>& indexPath);
    Ref<UICollectionReusableView> dequeueReusableSupplementaryViewOfKind(const std::string& kind,
                                                                         const std::string& identifier,
                                                                         const Ref<NSIndexPath>& indexPath);
    std::size_t reusableCellCount(const std::string& identifier) const;
    std::size_t cellsCreatedFromRegistrations() const { return cellsCreated_; }

    // ---- the visible items --------------------------------------------------------------------
    std::vector<Ref<UICollectionViewCell>> visibleCells();
    std::vector<Ref<NSIndexPath>> indexPathsForVisibleItems();
    Ref<UICollectionViewCell> cellForItemAtIndexPath(const Ref<NSIndexPath>& indexPath);
    Ref<NSIndexPath> indexPathForCell(const Ref<UICollectionViewCell>& cell);
    // The item whose layout frame holds the point (content coordinates), nullptr when none.
    Ref<NSIndexPath> indexPathForItemAtPoint(CGPoint point);
    // The supplementary view shown for the kind and index path, nullptr when none.
    Ref<UICollectionReusableView> supplementaryViewForElementKind(const std::string& kind,
                                                                  const Ref<NSIndexPath>& indexPath);
    void scrollToItemAtIndexPath(const Ref<NSIndexPath>& indexPath, UICollectionViewScrollPosition position,
                                 bool animated);
    // Brings the layout and the cells up to date now.
    void layoutVisibleItems();

    // ---- updates ------------------------------------------------------------------------------
    void insertSections(const Ref<NSIndexSet>& sections);
    void deleteSections(const Ref<NSIndexSet>& sections);
    void reloadSections(const Ref<NSIndexSet>& sections);
    void moveSection(long section, long newSection);
    void insertItemsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths);
    void deleteItemsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths);
    void reloadItemsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths);
    void moveItemAtIndexPath(const Ref<NSIndexPath>& indexPath, const Ref<NSIndexPath>& newIndexPath);
    void performBatchUpdates(const std::function<void()>& updates,
                             std::function<void(bool finished)> completion);
    std::size_t inconsistentUpdateCount() const { return inconsistentUpdates_; }

    // ---- selection ----------------------------------------------------------------------------
    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool on) { allowsSelection_ = on; }
    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
    void setAllowsMultipleSelection(bool on) { allowsMultipleSelection_ = on; }
    std::vector<Ref<NSIndexPath>> indexPathsForSelectedItems() const;
    void selectItemAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated,
                               UICollectionViewScrollPosition position);
    void deselectItemAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated);
    // What a tap on the item does (delegate calls included).
    void userSelectItemAtIndexPath(const Ref<NSIndexPath>& indexPath);

    // ---- the hook list ------------------------------------------------------------------------
    enum class ReloadStage { Before, After };
    static constexpr int kReloadHookOrderRefreshControls = 100;
    using ReloadHook = std::function<void(UICollectionView& collectionView)>;
    static std::uint64_t addReloadDataHook(ReloadStage stage, int order, ReloadHook hook);
    static void removeReloadDataHook(std::uint64_t token);

    // ---- view overrides -----------------------------------------------------------------------
    void layoutSubviews() override;
    void touchesBegan(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesMoved(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesEnded(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;
    void touchesCancelled(const std::set<Ref<UITouch>>& touches, const Ref<UIEvent>& event) override;

  protected:
    void contentOffsetDidChange(CGPoint oldOffset) override;
    void boundsSizeDidChange(CGSize oldSize) override;

  private:
    using Key = detail::ListPosition;
    // (kind, section, item)
    using SupplementaryKey = std::tuple<std::string, long, long>;
    struct Registration {
        CellFactory factory;
        SupplementaryFactory supplementaryFactory;
        Ref<UINib> nib;
    };

    void ensureLoaded();
    void loadCounts();
    bool keyExists(Key key) const;
    void prepareLayoutIfNeeded();
    Ref<UICollectionViewCell> requestCell(Key key);
    void applyAttributes(const Ref<UICollectionReusableView>& view,
                         const Ref<UICollectionViewLayoutAttributes>& a);
    void endDisplaying(const Ref<UICollectionViewCell>& cell, Key key);
    void enqueueView(const Ref<UICollectionReusableView>& view, const std::string& queueKey);
    Ref<UICollectionReusableView> takeFromQueue(const std::string& queueKey, std::optional<Key> preferred);
    Ref<UICollectionReusableView> makeRegistered(const std::string& queueKey, bool supplementary);
    void sweepStaleViews();
    void recordOrApply(const std::function<void(detail::ListUpdateBatch&)>& record);
    void applyBatch(const detail::ListUpdateBatch& batch);
    void setItemSelected(Key key, bool selected);
    std::optional<Key> itemAtPoint(CGPoint point);
    static std::string supplementaryQueueKey(const std::string& kind, const std::string& identifier);

    Ref<UICollectionViewLayout> layout_;
    Weak<UICollectionViewDataSource> dataSource_;
    Ref<UIView> backgroundView_;

    bool loaded_ = false;
    bool reloading_ = false;
    bool inTile_ = false;
    std::vector<long> counts_;

    std::map<Key, Ref<UICollectionViewCell>> visible_;
    std::map<Key, Ref<UICollectionViewCell>> previous_;
    std::map<SupplementaryKey, Ref<UICollectionReusableView>> supplementary_;
    std::map<std::string, std::vector<Ref<UICollectionReusableView>>> queues_;
    std::map<std::string, Registration> registrations_;
    std::size_t cellsCreated_ = 0;

    int updateDepth_ = 0;
    detail::ListUpdateBatch pending_;
    std::size_t inconsistentUpdates_ = 0;

    bool allowsSelection_ = true;
    bool allowsMultipleSelection_ = false;
    std::set<Key> selected_;
    std::optional<Key> touchedItem_;
};
