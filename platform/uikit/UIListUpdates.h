#pragma once
// Batches of row (item) and section changes for tables and collection views, and the mapping
// from the positions before a batch to the positions after it.
//
// The platform's rules for a batch: deletions and reloads name positions before the batch,
// insertions name positions after it, and a move goes from a position before to a position
// after. The mapping fills each section after the batch with its inserted and moved-in rows at
// their named places and the surviving rows, in their old order, in the places left; sections
// likewise. The counts the batch implies must match what the data source now says, or the batch
// is inconsistent (the callers then reload everything).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/NSIndexPath.h"
#include "foundation/NSIndexSet.h"

namespace detail {

// (section, row) — or (section, item).
using ListPosition = std::pair<long, long>;

inline ListPosition listPosition(const NSIndexPath& path) {
    return {path.section(), path.row()};
}

// Lookups over the cells a table or collection view has on show, by position. `previous` holds
// the cells of the last layout that are still being taken away.
template <class Cell>
using ListCells = std::map<ListPosition, Ref<Cell>>;

template <class Cell>
std::vector<Ref<Cell>> listCellsOnShow(const ListCells<Cell>& visible) {
    std::vector<Ref<Cell>> cells;
    for (const auto& [position, cell] : visible) cells.push_back(cell);
    return cells;
}

template <class Cell, class PathFor>
std::vector<Ref<NSIndexPath>> listPathsOnShow(const ListCells<Cell>& visible, PathFor pathFor) {
    std::vector<Ref<NSIndexPath>> paths;
    for (const auto& [position, cell] : visible) paths.push_back(pathFor(position));
    return paths;
}

template <class Cell>
Ref<Cell> listCellAt(const ListCells<Cell>& visible, const ListCells<Cell>& previous, ListPosition position) {
    if (auto it = visible.find(position); it != visible.end()) return it->second;
    if (auto it = previous.find(position); it != previous.end()) return it->second;
    return nullptr;
}

template <class Cell, class PathFor>
Ref<NSIndexPath> listPathOfCell(const ListCells<Cell>& visible, const Ref<Cell>& cell, PathFor pathFor) {
    for (const auto& [position, shown] : visible) {
        if (shown == cell) return pathFor(position);
    }
    return nullptr;
}

// The start of a full reload: every cell on show is taken away (it ends its display) but stays
// reachable in `previous` until the reload has laid out the new ones.
template <class Cell, class EndDisplaying>
void retireListCells(ListCells<Cell>& visible, ListCells<Cell>& previous, EndDisplaying endDisplaying) {
    previous = std::move(visible);
    visible.clear();
    for (const auto& [position, cell] : previous) endDisplaying(cell, position);
}

// Takes away (ends the display of) the cells on show whose positions are no longer wanted.
template <class Cell, class Wanted, class EndDisplaying>
void dropListCellsNotWanted(ListCells<Cell>& visible, const Wanted& wanted, EndDisplaying endDisplaying) {
    for (auto it = visible.begin(); it != visible.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        const ListPosition position = it->first;
        Ref<Cell> cell = it->second;
        it = visible.erase(it);
        endDisplaying(cell, position);
    }
}

// A cell the data source handed out for `position` leaves whatever other place it held.
template <class Cell>
void claimListCell(ListCells<Cell>& visible, ListCells<Cell>& previous, const Ref<Cell>& cell,
                   ListPosition position) {
    for (auto it = previous.begin(); it != previous.end();) {
        it = it->second == cell ? previous.erase(it) : std::next(it);
    }
    for (auto it = visible.begin(); it != visible.end();) {
        it = it->second == cell && it->first != position ? visible.erase(it) : std::next(it);
    }
}

// The hooks that run around a full reload, process-wide for one kind of list view. A later loader
// (higher order, then later registration) wraps an earlier one: its before-step runs first and
// its after-step last.
template <class Hook>
class ListReloadHooks {
  public:
    std::uint64_t add(bool before, int order, Hook hook) {
        const std::uint64_t token = ++lastToken_;
        if (hook) entries_.push_back({token, before, order, std::move(hook)});
        return token;
    }
    void remove(std::uint64_t token) {
        std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
    }
    std::vector<Hook> inOrder(bool before) const {
        std::vector<Entry> list;
        for (const auto& e : entries_) {
            if (e.before == before) list.push_back(e);
        }
        std::sort(list.begin(), list.end(), [before](const Entry& a, const Entry& b) {
            if (a.order != b.order) return before ? a.order > b.order : a.order < b.order;
            return before ? a.token > b.token : a.token < b.token;
        });
        std::vector<Hook> hooks;
        for (auto& e : list) hooks.push_back(std::move(e.hook));
        return hooks;
    }
    // Runs the before-hooks, the reload itself, then the after-hooks.
    template <class View, class Reload>
    void runAround(View& view, Reload reload) const {
        for (const auto& hook : inOrder(true)) hook(view);
        reload();
        for (const auto& hook : inOrder(false)) hook(view);
    }

  private:
    struct Entry {
        std::uint64_t token;
        bool before;
        int order;
        Hook hook;
    };
    std::vector<Entry> entries_;
    std::uint64_t lastToken_ = 0;
};

struct ListUpdateBatch {
    std::set<long> deletedSections;   // before
    std::set<long> reloadedSections;  // before
    std::set<long> insertedSections;  // after
    std::vector<std::pair<long, long>> movedSections;
    std::set<ListPosition> deletedRows;   // before
    std::set<ListPosition> reloadedRows;  // before
    std::set<ListPosition> insertedRows;  // after
    std::vector<std::pair<ListPosition, ListPosition>> movedRows;

    bool empty() const;
    void clear() { *this = ListUpdateBatch(); }
    void addSections(std::set<long>& target, const Ref<NSIndexSet>& sections);
    void addRows(std::set<ListPosition>& target, const std::vector<Ref<NSIndexPath>>& paths);
};

// Where a row after the batch comes from.
struct ListRowSource {
    long section = -1;  // -1: a new row (inserted, or in a new or reloaded section)
    long row = -1;
    bool reloaded = false;  // the row before the batch at (section, row), reloaded: it needs a new cell
    bool isNew() const { return section < 0 || reloaded; }
};

struct ListUpdateMapping {
    bool consistent = true;
    std::string problem;  // why not, for the log
    // For each section after the batch: the section it continues (-1: new or reloaded).
    std::vector<long> sectionSource;
    // For each section and row after the batch.
    std::vector<std::vector<ListRowSource>> rows;

    // Where a row before the batch went; nullopt when it is gone (deleted or reloaded).
    std::optional<ListPosition> newPositionOf(ListPosition old) const;
    // Where a reloaded row before the batch is after it.
    std::optional<ListPosition> reloadedPositionOf(ListPosition old) const;
    void buildReverse();

  private:
    // [old section][old row] -> new position, (-1, -1) when gone.
    std::vector<std::vector<ListPosition>> reverse_;
    std::vector<std::vector<ListPosition>> reloadedReverse_;
};

// oldCounts: rows per section before the batch. newCount(section) and newSectionCount: what the
// data source says now.
ListUpdateMapping mapListUpdate(const std::vector<long>& oldCounts, const ListUpdateBatch& batch,
                                long newSectionCount, const std::function<long(long)>& newCount);

// Carries the cells on show through a batch: a cell follows its row to its new place; the cell of
// a reloaded row stays reachable in `previous` at the row's new place for the length of the
// update (as the cells of a reload do) and, like the cell of a deleted row, ends its display.
template <class Cell, class EndDisplaying>
void moveListCells(const ListUpdateMapping& mapping, ListCells<Cell>& visible, ListCells<Cell>& previous,
                   EndDisplaying endDisplaying) {
    ListCells<Cell> old = std::move(visible);
    visible.clear();
    previous.clear();
    for (auto& [position, cell] : old) {
        if (auto to = mapping.newPositionOf(position)) {
            visible[*to] = cell;
            continue;
        }
        if (auto to = mapping.reloadedPositionOf(position)) previous[*to] = cell;
        endDisplaying(cell, position);
    }
}

// The selection after a batch: selected rows that survive it, at their new places.
inline std::set<ListPosition> moveListSelection(const ListUpdateMapping& mapping,
                                                const std::set<ListPosition>& selected) {
    std::set<ListPosition> moved;
    for (const ListPosition& position : selected) {
        if (auto to = mapping.newPositionOf(position)) moved.insert(*to);
    }
    return moved;
}

}  // namespace detail
