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

#include <cstddef>
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
