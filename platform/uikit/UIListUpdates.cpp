#include "uikit/UIListUpdates.h"

#include <algorithm>
#include <map>

#include "foundation/NSString.h"

namespace detail {

bool ListUpdateBatch::empty() const {
    return deletedSections.empty() && reloadedSections.empty() && insertedSections.empty() &&
           movedSections.empty() && deletedRows.empty() && reloadedRows.empty() && insertedRows.empty() &&
           movedRows.empty();
}

void ListUpdateBatch::addSections(std::set<long>& target, const Ref<NSIndexSet>& sections) {
    if (!sections) return;
    for (std::size_t index : *sections) target.insert(static_cast<long>(index));
}

void ListUpdateBatch::addRows(std::set<ListPosition>& target, const std::vector<Ref<NSIndexPath>>& paths) {
    for (const auto& path : paths) {
        if (path && path->length() >= 2) target.insert(listPosition(*path));
    }
}

namespace {

std::optional<ListPosition> lookUp(const std::vector<std::vector<ListPosition>>& table, ListPosition old) {
    if (old.first < 0 || std::size_t(old.first) >= table.size()) return std::nullopt;
    const auto& rows = table[std::size_t(old.first)];
    if (old.second < 0 || std::size_t(old.second) >= rows.size()) return std::nullopt;
    const ListPosition to = rows[std::size_t(old.second)];
    if (to.first < 0) return std::nullopt;
    return to;
}

}  // namespace

std::optional<ListPosition> ListUpdateMapping::newPositionOf(ListPosition old) const {
    return lookUp(reverse_, old);
}

std::optional<ListPosition> ListUpdateMapping::reloadedPositionOf(ListPosition old) const {
    return lookUp(reloadedReverse_, old);
}

void ListUpdateMapping::buildReverse() {
    reverse_.clear();
    reloadedReverse_.clear();
    for (std::size_t s = 0; s < rows.size(); ++s) {
        for (std::size_t r = 0; r < rows[s].size(); ++r) {
            const ListRowSource& src = rows[s][r];
            if (src.section < 0) continue;
            auto& table = src.reloaded ? reloadedReverse_ : reverse_;
            if (table.size() <= std::size_t(src.section)) table.resize(std::size_t(src.section) + 1);
            auto& list = table[std::size_t(src.section)];
            if (list.size() <= std::size_t(src.row)) list.resize(std::size_t(src.row) + 1, {-1, -1});
            list[std::size_t(src.row)] = {long(s), long(r)};
        }
    }
}

namespace {

ListUpdateMapping failure(std::string problem) {
    ListUpdateMapping m;
    m.consistent = false;
    m.problem = std::move(problem);
    return m;
}

}  // namespace

ListUpdateMapping mapListUpdate(const std::vector<long>& oldCounts, const ListUpdateBatch& batch,
                                long newSectionCount, const std::function<long(long)>& newCount) {
    const long oldSections = long(oldCounts.size());
    auto inOld = [&](long s) { return s >= 0 && s < oldSections; };
    auto rowInOld = [&](ListPosition p) {
        return inOld(p.first) && p.second >= 0 && p.second < oldCounts[std::size_t(p.first)];
    };

    for (long s : batch.deletedSections) {
        if (!inOld(s)) return failure(NSString::stringWithFormat("deleted section %ld does not exist", s));
    }
    for (long s : batch.reloadedSections) {
        if (!inOld(s)) return failure(NSString::stringWithFormat("reloaded section %ld does not exist", s));
    }
    std::set<long> movedOut;
    for (auto [from, to] : batch.movedSections) {
        if (!inOld(from))
            return failure(NSString::stringWithFormat("moved section %ld does not exist", from));
        movedOut.insert(from);
    }

    // ---- sections ----
    const long expectedSections =
        oldSections - long(batch.deletedSections.size()) + long(batch.insertedSections.size());
    if (newSectionCount != expectedSections) {
        return failure(
            NSString::stringWithFormat("the number of sections after the update (%ld) should be %ld (%ld "
                                       "before, %lu inserted, %lu deleted)",
                                       newSectionCount, expectedSections, oldSections,
                                       batch.insertedSections.size(), batch.deletedSections.size()));
    }
    constexpr long kUnfilled = -2;
    std::vector<long> sectionSource(std::size_t(std::max(0L, newSectionCount)), kUnfilled);
    for (long s : batch.insertedSections) {
        if (s < 0 || s >= newSectionCount || sectionSource[std::size_t(s)] != kUnfilled) {
            return failure(NSString::stringWithFormat("inserted section %ld is out of place", s));
        }
        sectionSource[std::size_t(s)] = -1;
    }
    for (auto [from, to] : batch.movedSections) {
        if (to < 0 || to >= newSectionCount || sectionSource[std::size_t(to)] != kUnfilled) {
            return failure(NSString::stringWithFormat("section moved to %ld is out of place", to));
        }
        sectionSource[std::size_t(to)] = from;
    }
    {
        std::size_t next = 0;
        for (long s = 0; s < oldSections; ++s) {
            if (batch.deletedSections.count(s) || movedOut.count(s)) continue;
            while (next < sectionSource.size() && sectionSource[next] != kUnfilled) ++next;
            if (next >= sectionSource.size()) return failure("sections do not add up");
            sectionSource[next++] = s;
        }
    }
    ListUpdateMapping mapping;
    mapping.sectionSource = sectionSource;
    for (long& s : mapping.sectionSource) {
        if (s >= 0 && batch.reloadedSections.count(s)) s = -1;
    }

    // ---- rows ----
    std::map<long, std::set<long>> rowsGone;  // old section -> old rows deleted or moved out
    for (auto p : batch.deletedRows) {
        if (batch.deletedSections.count(p.first)) continue;
        if (!rowInOld(p)) {
            return failure(NSString::stringWithFormat("deleted row %ld of section %ld does not exist",
                                                      p.second, p.first));
        }
        rowsGone[p.first].insert(p.second);
    }
    for (auto p : batch.reloadedRows) {
        if (!rowInOld(p)) {
            return failure(NSString::stringWithFormat("reloaded row %ld of section %ld does not exist",
                                                      p.second, p.first));
        }
    }
    for (auto [from, to] : batch.movedRows) {
        if (!rowInOld(from)) {
            return failure(NSString::stringWithFormat("moved row %ld of section %ld does not exist",
                                                      from.second, from.first));
        }
        if (batch.deletedSections.count(from.first)) return failure("a row moves out of a deleted section");
        rowsGone[from.first].insert(from.second);
    }

    mapping.rows.resize(sectionSource.size());
    for (long ns = 0; ns < newSectionCount; ++ns) {
        const long count = newCount(ns);
        if (count < 0) return failure("a negative row count");
        const long source = sectionSource[std::size_t(ns)];
        auto& rows = mapping.rows[std::size_t(ns)];
        rows.assign(std::size_t(count), ListRowSource{});
        if (source < 0 || batch.reloadedSections.count(source)) continue;  // every row is new
        std::vector<bool> filled(std::size_t(count), false);
        long movedIn = 0, inserted = 0;
        for (auto p : batch.insertedRows) {
            if (p.first != ns) continue;
            if (p.second < 0 || p.second >= count || filled[std::size_t(p.second)]) {
                return failure(NSString::stringWithFormat("inserted row %ld of section %ld is out of place",
                                                          p.second, ns));
            }
            filled[std::size_t(p.second)] = true;
            ++inserted;
        }
        for (auto [from, to] : batch.movedRows) {
            if (to.first != ns) continue;
            if (to.second < 0 || to.second >= count || filled[std::size_t(to.second)]) {
                return failure(NSString::stringWithFormat("row moved to %ld of section %ld is out of place",
                                                          to.second, ns));
            }
            filled[std::size_t(to.second)] = true;
            const bool reloaded = batch.reloadedRows.count(from) > 0;
            rows[std::size_t(to.second)] = ListRowSource{from.first, from.second, reloaded};
            ++movedIn;
        }
        const long oldCount = oldCounts[std::size_t(source)];
        const auto gone = rowsGone.find(source);
        const long goneCount = gone == rowsGone.end() ? 0 : long(gone->second.size());
        const long expected = oldCount - goneCount + inserted + movedIn;
        if (expected != count) {
            return failure(
                NSString::stringWithFormat("the number of rows in section %ld after the update (%ld) should "
                                           "be %ld (%ld before, %ld inserted, "
                                           "%ld deleted or moved out, %ld moved in)",
                                           ns, count, expected, oldCount, inserted, goneCount, movedIn));
        }
        std::size_t next = 0;
        for (long r = 0; r < oldCount; ++r) {
            if (gone != rowsGone.end() && gone->second.count(r)) continue;
            while (next < filled.size() && filled[next]) ++next;
            if (next >= filled.size()) return failure("rows do not add up");
            filled[next] = true;
            const bool reloaded = batch.reloadedRows.count({source, r}) > 0;
            rows[next++] = ListRowSource{source, r, reloaded};
        }
    }
    mapping.buildReverse();
    return mapping;
}

}  // namespace detail
