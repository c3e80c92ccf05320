#include "controls/UITableView+TLTemplateLayoutCellAutomaticallyCacheInvalidation.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "controls/UITableView+TLTemplateLayoutCellPrecache.h"
#include "controls/UITableView+TLTemplateLayoutCellPrivate.h"
#include "foundation/NSMainThreadCheck.h"

namespace UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation {

using namespace UITableView_TLTemplateLayoutCellPrivate;
using Sections = _TLTemplateLayoutCellHeightCache::Sections;

namespace {

std::atomic<bool> loaded{false};

std::vector<std::size_t> indexesOf(const Ref<NSIndexSet>& set) {
    std::vector<std::size_t> indexes;
    if (!set) return indexes;
    for (std::size_t i = set->empty() ? NSNotFound : set->firstIndex(); i != NSNotFound;
         i = set->indexGreaterThanIndex(i)) {
        indexes.push_back(i);
    }
    return indexes;
}

// The usable paths of the list, as (section, row) pairs.
std::vector<std::pair<std::size_t, std::size_t>> positionsOf(const std::vector<Ref<NSIndexPath>>& paths) {
    std::vector<std::pair<std::size_t, std::size_t>> positions;
    for (const auto& path : paths) {
        if (_TLTemplateLayoutCellHeightCache::isUsableIndexPath(path)) {
            positions.emplace_back(path->indexAtPosition(0), path->indexAtPosition(1));
        }
    }
    return positions;
}

void insertSections(Sections& sections, const Ref<NSIndexSet>& set) {
    for (std::size_t index : indexesOf(set)) {
        if (index > sections.size()) continue;
        sections.insert(sections.begin() + long(index), std::vector<CGFloat>());
    }
}

void deleteSections(Sections& sections, const Ref<NSIndexSet>& set) {
    std::vector<std::size_t> indexes = indexesOf(set);
    // Highest first, so that the indexes keep naming the sections as they were.
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it < sections.size()) sections.erase(sections.begin() + long(*it));
    }
}

void reloadSections(Sections& sections, const Ref<NSIndexSet>& set) {
    for (std::size_t index : indexesOf(set)) {
        if (index < sections.size()) {
            std::fill(sections[index].begin(), sections[index].end(),
                      _TLTemplateLayoutCellHeightCache::kNoHeight);
        }
    }
}

void moveSection(Sections& sections, long from, long to) {
    if (from < 0 || to < 0 || std::size_t(from) >= sections.size() || std::size_t(to) >= sections.size())
        return;
    if (from == to) return;
    auto moved = std::move(sections[std::size_t(from)]);
    sections.erase(sections.begin() + from);
    sections.insert(sections.begin() + to, std::move(moved));
}

void insertRows(_TLTemplateLayoutCellHeightCache& cache, const std::vector<Ref<NSIndexPath>>& paths) {
    cache.buildHeightCachesAtIndexPathsIfNeeded(paths);
    auto positions = positionsOf(paths);
    std::sort(positions.begin(), positions.end());
    Sections& sections = cache.mutableSections();
    for (const auto& [section, row] : positions) {
        auto& rows = sections[section];
        rows.insert(rows.begin() + long(row), _TLTemplateLayoutCellHeightCache::kNoHeight);
    }
}

void deleteRows(_TLTemplateLayoutCellHeightCache& cache, const std::vector<Ref<NSIndexPath>>& paths) {
    cache.buildHeightCachesAtIndexPathsIfNeeded(paths);
    std::map<std::size_t, std::set<std::size_t>> bySection;
    for (const auto& [section, row] : positionsOf(paths)) bySection[section].insert(row);
    Sections& sections = cache.mutableSections();
    for (const auto& [section, rows] : bySection) {
        auto& entries = sections[section];
        for (auto it = rows.rbegin(); it != rows.rend(); ++it) entries.erase(entries.begin() + long(*it));
    }
}

void reloadRows(_TLTemplateLayoutCellHeightCache& cache, const std::vector<Ref<NSIndexPath>>& paths) {
    cache.buildHeightCachesAtIndexPathsIfNeeded(paths);
    Sections& sections = cache.mutableSections();
    for (const auto& [section, row] : positionsOf(paths)) {
        sections[section][row] = _TLTemplateLayoutCellHeightCache::kNoHeight;
    }
}

void moveRow(_TLTemplateLayoutCellHeightCache& cache, const Ref<NSIndexPath>& from,
             const Ref<NSIndexPath>& to) {
    if (!_TLTemplateLayoutCellHeightCache::isUsableIndexPath(from) ||
        !_TLTemplateLayoutCellHeightCache::isUsableIndexPath(to)) {
        return;
    }
    cache.buildHeightCachesAtIndexPathsIfNeeded({from, to});
    Sections& sections = cache.mutableSections();
    auto& source = sections[from->indexAtPosition(0)];
    const std::size_t fromRow = from->indexAtPosition(1);
    const CGFloat height = source[fromRow];
    source.erase(source.begin() + long(fromRow));
    auto& target = sections[to->indexAtPosition(0)];
    const std::size_t toRow = std::min(to->indexAtPosition(1), target.size());
    target.insert(target.begin() + long(toRow), height);
}

}  // namespace

void applyReloadDataToCache(_TLTemplateLayoutCellHeightCache& cache) {
    NS_ASSERT_MAIN_THREAD();
    cache.mutableSections().clear();
}

void applyUpdateToCache(_TLTemplateLayoutCellHeightCache& cache, const UITableViewUpdate& update) {
    NS_ASSERT_MAIN_THREAD();
    switch (update.kind) {
        case UITableViewUpdate::InsertSections:
            insertSections(cache.mutableSections(), update.sections);
            break;
        case UITableViewUpdate::DeleteSections:
            deleteSections(cache.mutableSections(), update.sections);
            break;
        case UITableViewUpdate::ReloadSections:
            reloadSections(cache.mutableSections(), update.sections);
            break;
        case UITableViewUpdate::MoveSection:
            moveSection(cache.mutableSections(), update.fromSection, update.toSection);
            break;
        case UITableViewUpdate::InsertRows:
            insertRows(cache, update.indexPaths);
            break;
        case UITableViewUpdate::DeleteRows:
            deleteRows(cache, update.indexPaths);
            break;
        case UITableViewUpdate::ReloadRows:
            reloadRows(cache, update.indexPaths);
            break;
        case UITableViewUpdate::MoveRow:
            moveRow(cache, update.fromIndexPath, update.toIndexPath);
            break;
    }
}

bool updateStartsPrecache(UITableViewUpdate::Kind kind) {
    switch (kind) {
        case UITableViewUpdate::InsertSections:
        case UITableViewUpdate::ReloadSections:
        case UITableViewUpdate::InsertRows:
        case UITableViewUpdate::ReloadRows:
            return true;
        default:
            return false;
    }
}

bool isLoaded() {
    return loaded.load();
}

void load() {
    static std::once_flag once;
    std::call_once(once, [] {
        UITableView::addReloadDataHook(UITableView::ReloadStage::Before,
                                       UITableView::kReloadHookOrderHeightCache, [](UITableView& tableView) {
                                           if (tl_autoCacheInvalidationEnabled(tableView)) {
                                               applyReloadDataToCache(*tl_cellHeightCache(tableView));
                                           }
                                       });
        UITableView::addReloadDataHook(UITableView::ReloadStage::After,
                                       UITableView::kReloadHookOrderHeightCache, [](UITableView& tableView) {
                                           UITableView_TLTemplateLayoutCellPrecache::tl_precacheIfNeeded(
                                               tableView);
                                       });
        UITableView::addUpdateWrapper(UITableView::kReloadHookOrderHeightCache,
                                      [](UITableView& tableView, const UITableViewUpdate& update,
                                         const std::function<void()>& proceed) {
                                          if (tl_autoCacheInvalidationEnabled(tableView)) {
                                              applyUpdateToCache(*tl_cellHeightCache(tableView), update);
                                          }
                                          if (proceed) proceed();
                                          if (updateStartsPrecache(update.kind)) {
                                              UITableView_TLTemplateLayoutCellPrecache::tl_precacheIfNeeded(
                                                  tableView);
                                          }
                                      });
        loaded = true;
    });
}

}  // namespace UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation
