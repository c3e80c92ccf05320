#pragma once
// Table views: a vertical list of rows in sections, shown through reusable cells.
//
// The model. The table keeps, as of its last reload or update, the number of sections, the rows of
// each section and every row's height; numberOfSections / numberOfRowsInSection answer from it
// (the first question, or the first layout, loads it when it was never loaded). reloadData
// re-reads everything from the data source synchronously: counts, the heights of the section
// headers and footers and of every row, and so contentSize (width: the table's; height: the
// tableHeaderView, each section's header, rows and footer, the tableFooterView). Heights come from
// the delegate's heightForRowAtIndexPath when it has one, else rowHeight (44). With
// estimatedRowHeight above 0 (or the delegate's estimatedHeightForRowAtIndexPath), rows start at
// their estimate and get their real height when they first come into view; a row whose height is
// UITableViewAutomaticDimension is measured from its cell (the content view's fitting size at the
// content width when it has constraints, else the cell's sizeThatFits), plus the separator.
//
// The visible rows. The rows whose rectangles meet the bounds (contentOffset and size) are
// visible, each shown by one cell. Whenever the offset changes (set, animated, dragged,
// decelerating) or the size or data change, the table brings the cells up to date at once: rows
// that came into view get a cell from the data source's cellForRowAtIndexPath (then
// willDisplayCell), rows that left give theirs back (didEndDisplayingCell, removed from the
// table, put in the reuse queue of its identifier). dequeueReusableCellWithIdentifier hands a
// queued cell out again after prepareForReuse, so scrolling through a thousand rows makes about
// as many cells as fit on screen. cellForRowAtIndexPath (the table's own) answers the visible
// cell, or nullptr.
//
// During a reload: the cells shown before are moved to the reuse queues but keep their rows for
// the length of the reload, so a data source that asks the table for "the cell it already shows
// at this index path" (cellForRowAtIndexPath inside its own cellForRowAtIndexPath) gets that cell
// back and fills it again; dequeue with an index path prefers the cell that showed that row. A
// cell handed out either way leaves the queue.
//
// Updates. insert/delete/reload/move of rows and sections apply at once (the animation argument
// is accepted; rows do not animate), or, between beginUpdates and endUpdates, together at the
// outermost endUpdates. The data source's counts are read again and checked against the batch;
// rows that only moved keep their cells (the data source is not asked for them again), reloaded
// and inserted rows get new cells, and every height is asked again. An inconsistent batch (counts
// that do not add up, positions that do not exist) is logged and becomes a full reload: the
// platform raises instead.
//
// The reload hook lists. On the platform, categories exchange reloadData and the update methods
// at load time; here the table consults ordered hook lists that such code installs at start-up:
//   - reloadData runs: the Before hooks from the highest order down, the platform reload, the
//     After hooks from the lowest order up. A hook's order is its place in the load order (a
//     later loader wraps an earlier one), so with the refresh controls at
//     kReloadHookOrderRefreshControls (an After hook: the reload-data block with the item count)
//     and the height cache at kReloadHookOrderHeightCache (a Before hook: invalidation; an After
//     hook: the pre-computation pass) a reload runs: height-cache invalidation, platform reload,
//     reload-data block, pre-computation.
//   - the eight update methods (insert/delete/reload/move of rows and of sections) pass through
//     the update wrappers, highest order outermost; each gets the update and a `proceed` that runs
//     the next wrapper or the table's own operation (a wrapper that does not call it skips the
//     update).
// The first load of a table that was never reloaded (at its first layout or first question) is
// the platform's internal load and runs no hooks. Hooks are process-wide, like the exchanges.
//
// Selection. A tap on a row (a touch that begins and ends on the same visible row) highlights it
// while down, then selects it: willSelectRowAtIndexPath (which may redirect or refuse), the
// previous selection is deselected (willDeselect / didDeselect) unless multiple selection is on,
// the row is selected and didSelectRowAtIndexPath follows. With multiple selection a tap on a
// selected row deselects it. selectRowAtIndexPath / deselectRowAtIndexPath change the selection
// without asking the delegate. A reload clears the selection; updates carry it along.
//
// Plain tables float each section's header at the top of the visible area while the section
// scrolls under it; grouped tables do not (otherwise both styles lay out alike).
//
// The delegate is the scroll view's delegate too (held weakly, like the data source). Main
// thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/NSIndexPath.h"
#include "foundation/NSIndexSet.h"
#include "uikit/UIListUpdates.h"
#include "uikit/UINib.h"
#include "uikit/UIScrollView.h"
#include "uikit/UITableViewCell.h"

class UITableView;

enum UITableViewStyle : long {
    UITableViewStylePlain = 0,
    UITableViewStyleGrouped = 1,
};

enum UITableViewScrollPosition : long {
    UITableViewScrollPositionNone = 0,
    UITableViewScrollPositionTop = 1,
    UITableViewScrollPositionMiddle = 2,
    UITableViewScrollPositionBottom = 3,
};

enum UITableViewRowAnimation : long {
    UITableViewRowAnimationFade = 0,
    UITableViewRowAnimationRight = 1,
    UITableViewRowAnimationLeft = 2,
    UITableViewRowAnimationTop = 3,
    UITableViewRowAnimationBottom = 4,
    UITableViewRowAnimationNone = 5,
    UITableViewRowAnimationMiddle = 6,
    UITableViewRowAnimationAutomatic = 100,
};

// A height to be worked out (rows: measured from the cell; headers: from the title).
inline constexpr CGFloat UITableViewAutomaticDimension = -1;

// The data source. Rows and cells are required; the rest have the platform's defaults.
class UITableViewDataSource {
  public:
    virtual ~UITableViewDataSource() = default;
    virtual long tableViewNumberOfRowsInSection(UITableView& tableView, long section) = 0;
    virtual Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                                const Ref<NSIndexPath>& indexPath) = 0;
    virtual long numberOfSectionsInTableView(UITableView& tableView) { return 1; }
    virtual std::optional<std::string> tableViewTitleForHeaderInSection(UITableView& tableView,
                                                                        long section) {
        return std::nullopt;
    }
    virtual std::optional<std::string> tableViewTitleForFooterInSection(UITableView& tableView,
                                                                        long section) {
        return std::nullopt;
    }
    virtual std::optional<bool> tableViewCanEditRowAtIndexPath(UITableView& tableView,
                                                               const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<bool> tableViewCanMoveRowAtIndexPath(UITableView& tableView,
                                                               const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual void tableViewCommitEditingStyle(UITableView& tableView, UITableViewCellEditingStyle style,
                                             const Ref<NSIndexPath>& indexPath) {}
    virtual void tableViewMoveRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& from,
                                             const Ref<NSIndexPath>& to) {}
    virtual std::vector<std::string> sectionIndexTitlesForTableView(UITableView& tableView) { return {}; }
};

// The delegate; every method is optional. It is also the table's scroll view delegate.
class UITableViewDelegate : public virtual UIScrollViewDelegate {
  public:
    // Heights: nullopt means "not implemented" (the table's own value is used).
    virtual std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& tableView,
                                                                    const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat>
    tableViewEstimatedHeightForRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat> tableViewHeightForHeaderInSection(UITableView& tableView, long section) {
        return std::nullopt;
    }
    virtual std::optional<CGFloat> tableViewHeightForFooterInSection(UITableView& tableView, long section) {
        return std::nullopt;
    }
    virtual Ref<UIView> tableViewViewForHeaderInSection(UITableView& tableView, long section) {
        return nullptr;
    }
    virtual Ref<UIView> tableViewViewForFooterInSection(UITableView& tableView, long section) {
        return nullptr;
    }
    // Display.
    virtual void tableViewWillDisplayCell(UITableView& tableView, const Ref<UITableViewCell>& cell,
                                          const Ref<NSIndexPath>& indexPath) {}
    virtual void tableViewDidEndDisplayingCell(UITableView& tableView, const Ref<UITableViewCell>& cell,
                                               const Ref<NSIndexPath>& indexPath) {}
    virtual void tableViewWillDisplayHeaderView(UITableView& tableView, const Ref<UIView>& view,
                                                long section) {}
    virtual void tableViewWillDisplayFooterView(UITableView& tableView, const Ref<UIView>& view,
                                                long section) {}
    // Selection: the will-methods may answer another index path, or nullptr to refuse.
    virtual std::optional<bool> tableViewShouldHighlightRowAtIndexPath(UITableView& tableView,
                                                                       const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<Ref<NSIndexPath>>
    tableViewWillSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
    }
    virtual std::optional<Ref<NSIndexPath>>
    tableViewWillDeselectRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual void tableViewDidDeselectRowAtIndexPath(UITableView& tableView,
                                                    const Ref<NSIndexPath>& indexPath) {}
    virtual void tableViewAccessoryButtonTappedForRowWithIndexPath(UITableView& tableView,
                                                                   const Ref<NSIndexPath>& indexPath) {}
    // Editing.
    virtual std::optional<UITableViewCellEditingStyle>
    tableViewEditingStyleForRowAtIndexPath(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
    virtual std::optional<std::string>
    tableViewTitleForDeleteConfirmationButtonForRowAtIndexPath(UITableView& tableView,
                                                               const Ref<NSIndexPath>& indexPath) {
        return std::nullopt;
    }
};

// One call of the eight update methods, as the update wrappers see it.
struct UITableViewUpdate {
    enum Kind {
        InsertSections,
        DeleteSections,
        ReloadSections,
        MoveSection,
        InsertRows,
        DeleteRows,
        ReloadRows,
        MoveRow,
    };
    Kind kind = InsertSections;
    Ref<NSIndexSet> sections;                     // the section operations but MoveSection
    std::vector<Ref<NSIndexPath>> indexPaths;     // the row operations but MoveRow
    long fromSection = 0, toSection = 0;          // MoveSection
    Ref<NSIndexPath> fromIndexPath, toIndexPath;  // MoveRow
    UITableViewRowAnimation animation = UITableViewRowAnimationNone;
};

class UITableView : public UIScrollView {
  public:
    // initWithFrame:style: (the plain form: plain style, zero frame).
    UITableView();
    explicit UITableView(CGRect frame, UITableViewStyle style = UITableViewStylePlain);
    ~UITableView() override;
    std::string className() const override { return "UITableView"; }
    void didInit();

    static constexpr CGFloat kDefaultRowHeight = 44;
    static constexpr CGFloat kDefaultTitleHeaderHeight = 22;

    UITableViewStyle style() const { return style_; }

    // ---- data source and delegate (weak) -------------------------------------------------------
    Ref<UITableViewDataSource> dataSource() const { return dataSource_.lock(); }
    // Marks the data for reloading (at the next layout or question).
    void setDataSource(const Ref<UITableViewDataSource>& dataSource);
    // The scroll view delegate, when it is a table delegate.
    Ref<UITableViewDelegate> delegate() const;
    void setDelegate(const Ref<UITableViewDelegate>& delegate);

    // ---- the model ----------------------------------------------------------------------------
    // reloadData with its hook lists (see the header comment).
    void reloadData();
    // The platform's reload alone (what the hooks wrap).
    void platformReloadData();
    // Whether the data was ever loaded.
    bool hasLoadedData() const { return loaded_; }
    long numberOfSections();
    // 0 for a section that does not exist.
    long numberOfRowsInSection(long section);

    // ---- geometry -----------------------------------------------------------------------------
    CGFloat rowHeight() const { return rowHeight_; }
    void setRowHeight(CGFloat height);
    CGFloat estimatedRowHeight() const { return estimatedRowHeight_; }
    void setEstimatedRowHeight(CGFloat height);
    // UITableViewAutomaticDimension (the default): 22 for a section with a title, else 0.
    CGFloat sectionHeaderHeight() const { return sectionHeaderHeight_; }
    void setSectionHeaderHeight(CGFloat height);
    CGFloat sectionFooterHeight() const { return sectionFooterHeight_; }
    void setSectionFooterHeight(CGFloat height);
    // The view above the first section, at its own height and the table's width; setting it again
    // takes its new height.
    const Ref<UIView>& tableHeaderView() const { return tableHeaderView_; }
    void setTableHeaderView(const Ref<UIView>& view);
    const Ref<UIView>& tableFooterView() const { return tableFooterView_; }
    void setTableFooterView(const Ref<UIView>& view);
    // Behind everything, filling the visible area.
    const Ref<UIView>& backgroundView() const { return backgroundView_; }
    void setBackgroundView(const Ref<UIView>& view);
    // In content coordinates; CGRectZero for what does not exist.
    CGRect rectForSection(long section);
    CGRect rectForRowAtIndexPath(const Ref<NSIndexPath>& indexPath);
    CGRect rectForHeaderInSection(long section);
    CGRect rectForFooterInSection(long section);
    // The row under a point in content coordinates; nullptr outside every row.
    Ref<NSIndexPath> indexPathForRowAtPoint(CGPoint point);
    // Rows meeting the rectangle, in order.
    std::vector<Ref<NSIndexPath>> indexPathsForRowsInRect(CGRect rect);

    // ---- the visible rows ---------------------------------------------------------------------
    std::vector<Ref<UITableViewCell>> visibleCells();
    std::vector<Ref<NSIndexPath>> indexPathsForVisibleRows();
    // The visible cell of the row (or, during a reload, the cell that showed it); nullptr else.
    Ref<UITableViewCell> cellForRowAtIndexPath(const Ref<NSIndexPath>& indexPath);
    // The row a visible cell shows; nullptr for any other cell.
    Ref<NSIndexPath> indexPathForCell(const Ref<UITableViewCell>& cell);
    // The header or footer view shown for a section, nullptr when none is shown.
    Ref<UIView> headerViewForSection(long section);
    Ref<UIView> footerViewForSection(long section);
    void scrollToRowAtIndexPath(const Ref<NSIndexPath>& indexPath, UITableViewScrollPosition position,
                                bool animated);
    void scrollToNearestSelectedRowAtScrollPosition(UITableViewScrollPosition position, bool animated);
    // Brings the cells up to date now (the table does this itself whenever something changed).
    void layoutVisibleRows();

    // ---- reuse --------------------------------------------------------------------------------
    using CellFactory = std::function<Ref<UITableViewCell>(const std::string& reuseIdentifier)>;
    // registerClass:forCellReuseIdentifier: — the factory makes a cell of the class (nullptr
    // removes the registration).
    void registerClass(CellFactory factory, const std::string& identifier);
    // The same for a cell class T built with initWithStyle:reuseIdentifier: (Default style).
    template <class T>
    void registerClass(const std::string& identifier) {
        registerClass(
            [](const std::string& id) -> Ref<UITableViewCell> {
                return make<T>(UITableViewCellStyleDefault, id);
            },
            identifier);
    }
    // The first top-level UITableViewCell of the nib makes each new cell (nullptr removes it).
    void registerNib(const Ref<UINib>& nib, const std::string& identifier);
    // A queued cell (after prepareForReuse), else a new one from the registration, else nullptr.
    Ref<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The same, never nullptr: an identifier with nothing registered is logged and gets a new
    // Default-style cell (the platform raises instead).
    Ref<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                           const Ref<NSIndexPath>& indexPath);
    using HeaderFooterFactory =
        std::function<Ref<UITableViewHeaderFooterView>(const std::string& reuseIdentifier)>;
    void registerHeaderFooterClass(HeaderFooterFactory factory, const std::string& identifier);
    Ref<UITableViewHeaderFooterView>
    dequeueReusableHeaderFooterViewWithIdentifier(const std::string& identifier);
    // For tests: cells waiting in the queue of an identifier, and cells made from registrations.
    std::size_t reusableCellCount(const std::string& identifier) const;
    std::size_t cellsCreatedFromRegistrations() const { return cellsCreated_; }

    // ---- updates ------------------------------------------------------------------------------
    void beginUpdates();
    void endUpdates();
    void insertSections(const Ref<NSIndexSet>& sections, UITableViewRowAnimation animation);
    void deleteSections(const Ref<NSIndexSet>& sections, UITableViewRowAnimation animation);
    void reloadSections(const Ref<NSIndexSet>& sections, UITableViewRowAnimation animation);
    void moveSection(long section, long newSection);
    void insertRowsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths,
                                UITableViewRowAnimation animation);
    void deleteRowsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths,
                                UITableViewRowAnimation animation);
    void reloadRowsAtIndexPaths(const std::vector<Ref<NSIndexPath>>& indexPaths,
                                UITableViewRowAnimation animation);
    void moveRowAtIndexPath(const Ref<NSIndexPath>& indexPath, const Ref<NSIndexPath>& newIndexPath);
    // How many inconsistent batches became full reloads.
    std::size_t inconsistentUpdateCount() const { return inconsistentUpdates_; }

    // ---- selection ----------------------------------------------------------------------------
    bool allowsSelection() const { return allowsSelection_; }
    void setAllowsSelection(bool on);
    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
    void setAllowsMultipleSelection(bool on);
    bool allowsSelectionDuringEditing() const { return allowsSelectionDuringEditing_; }
    void setAllowsSelectionDuringEditing(bool on) { allowsSelectionDuringEditing_ = on; }
    // The first selected row (in index order), nullptr when none.
    Ref<NSIndexPath> indexPathForSelectedRow() const;
    std::vector<Ref<NSIndexPath>> indexPathsForSelectedRows() const;
    // Without delegate calls; a row that does not exist is ignored.
    void selectRowAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated,
                              UITableViewScrollPosition position);
    void deselectRowAtIndexPath(const Ref<NSIndexPath>& indexPath, bool animated);
    // What a tap on the row does (delegate calls included); the touch handling calls it.
    void userSelectRowAtIndexPath(const Ref<NSIndexPath>& indexPath);

    // ---- editing ------------------------------------------------------------------------------
    bool isEditing() const { return editing_; }
    void setEditing(bool editing) { setEditing(editing, false); }
    void setEditing(bool editing, bool animated);
    // What the delete button of a row in editing does: asks the data source to commit (only when
    // it allows editing the row).
    void commitEditingStyleForRowAtIndexPath(UITableViewCellEditingStyle style,
                                             const Ref<NSIndexPath>& indexPath);

    // ---- separators and colours ---------------------------------------------------------------
    UITableViewCellSeparatorStyle separatorStyle() const { return separatorStyle_; }
    void setSeparatorStyle(UITableViewCellSeparatorStyle style);
    const Ref<UIColor>& separatorColor() const { return separatorColor_; }
    void setSeparatorColor(const Ref<UIColor>& color);
    UIEdgeInsets separatorInset() const { return separatorInset_; }
    void setSeparatorInset(UIEdgeInsets inset);
    // 1 / the screen's scale when separators show, else 0.
    CGFloat separatorHeight() const;
    long sectionIndexMinimumDisplayRowCount() const { return sectionIndexMinimumDisplayRowCount_; }
    void setSectionIndexMinimumDisplayRowCount(long count) { sectionIndexMinimumDisplayRowCount_ = count; }

    // ---- the hook lists -----------------------------------------------------------------------
    enum class ReloadStage { Before, After };
    static constexpr int kReloadHookOrderRefreshControls = 100;
    static constexpr int kReloadHookOrderHeightCache = 200;
    using ReloadHook = std::function<void(UITableView& tableView)>;
    // Returns a token for removeReloadDataHook.
    static std::uint64_t addReloadDataHook(ReloadStage stage, int order, ReloadHook hook);
    static void removeReloadDataHook(std::uint64_t token);
    using UpdateWrapper = std::function<void(UITableView& tableView, const UITableViewUpdate& update,
                                             const std::function<void()>& proceed)>;
    static std::uint64_t addUpdateWrapper(int order, UpdateWrapper wrapper);
    static void removeUpdateWrapper(std::uint64_t token);

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
    struct Section {
        long rows = 0;
        CGFloat top = 0;  // the header's top
        CGFloat headerHeight = 0;
        CGFloat footerHeight = 0;
        std::vector<CGFloat> heights;
        std::vector<CGFloat> tops;
        std::vector<char> measured;  // rows whose real height is known
        CGFloat rowsEnd() const { return tops.empty() ? top + headerHeight : tops.back() + heights.back(); }
        CGFloat bottom() const { return rowsEnd() + footerHeight; }
    };
    struct Registration {
        CellFactory factory;
        Ref<UINib> nib;
    };

    void ensureLoaded();
    void loadCounts();
    void computeHeights();
    void computeSectionHeights(long section);
    CGFloat headerHeightFor(long section, bool footer);
    bool estimating() const;
    void recomputeOffsets();
    CGFloat exactRowHeight(Key key, const Ref<UITableViewCell>& cell, bool* needsCell);
    CGFloat measureCell(const Ref<UITableViewCell>& cell);
    std::vector<Key> visibleKeys() const;
    std::vector<long> visibleSections() const;
    Ref<UITableViewCell> requestCell(Key key);
    void placeCell(const Ref<UITableViewCell>& cell, Key key);
    void enqueueCell(const Ref<UITableViewCell>& cell);
    void endDisplaying(const Ref<UITableViewCell>& cell, Key key);
    void layoutSectionViews(const std::vector<long>& sections);
    void placeTableViews();
    void sweepStaleCells();
    Ref<UITableViewCell> takeFromQueue(const std::string& identifier, std::optional<Key> preferred);
    Ref<UITableViewCell> makeRegisteredCell(const std::string& identifier);
    bool keyExists(Key key) const;
    void runUpdate(const UITableViewUpdate& update, const std::function<void()>& operation);
    void recordOrApply(const std::function<void(detail::ListUpdateBatch&)>& record);
    void applyBatch(const detail::ListUpdateBatch& batch);
    void setRowSelected(Key key, bool selected, bool animated);
    std::optional<Key> rowAtTablePoint(CGPoint point);
    CGPoint offsetForRow(Key key, UITableViewScrollPosition position);

    UITableViewStyle style_ = UITableViewStylePlain;
    Weak<UITableViewDataSource> dataSource_;

    bool loaded_ = false;
    bool inTile_ = false;
    bool reloading_ = false;
    std::vector<Section> sections_;
    CGFloat lastWidth_ = -1;

    CGFloat rowHeight_ = kDefaultRowHeight;
    CGFloat estimatedRowHeight_ = 0;
    CGFloat sectionHeaderHeight_ = UITableViewAutomaticDimension;
    CGFloat sectionFooterHeight_ = UITableViewAutomaticDimension;
    Ref<UIView> tableHeaderView_;
    Ref<UIView> tableFooterView_;
    Ref<UIView> backgroundView_;

    std::map<Key, Ref<UITableViewCell>> visible_;
    // The cells shown before the running reload, by their old rows.
    std::map<Key, Ref<UITableViewCell>> previous_;
    std::map<long, Ref<UIView>> headerViews_;
    std::map<long, Ref<UIView>> footerViews_;
    std::map<std::string, std::vector<Ref<UITableViewCell>>> queues_;
    std::map<std::string, Registration> registrations_;
    std::map<std::string, HeaderFooterFactory> headerFooterRegistrations_;
    std::map<std::string, std::vector<Ref<UITableViewHeaderFooterView>>> headerFooterQueues_;
    std::size_t cellsCreated_ = 0;

    int updateDepth_ = 0;
    detail::ListUpdateBatch pending_;
    std::size_t inconsistentUpdates_ = 0;

    bool allowsSelection_ = true;
    bool allowsMultipleSelection_ = false;
    bool allowsSelectionDuringEditing_ = false;
    std::set<Key> selected_;
    std::optional<Key> touchedRow_;
    bool editing_ = false;

    UITableViewCellSeparatorStyle separatorStyle_ = UITableViewCellSeparatorStyleSingleLine;
    Ref<UIColor> separatorColor_;
    UIEdgeInsets separatorInset_{0, UITableViewCell::kMargin, 0, 0};
    long sectionIndexMinimumDisplayRowCount_ = 0;
};
