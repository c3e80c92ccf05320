#pragma once
// The row heights a table has measured, by index path: one list per section, one entry per row,
// each the row's height in points or -1 when nothing is known.
//
// The lists grow only on demand: making room for (section s, row r) appends empty sections until
// section s exists, then -1 entries to section s until row r exists. Every query makes room for
// the path it asks about, so after asking about every row of a table the cache mirrors its shape.
// An entry of -1 and a missing entry mean the same thing.
//
// Paths that are not (section, row) pairs, or whose indexes lie beyond kMaxIndex (a path made with
// NSNotFound, say), name no row any table can have: they are ignored (nothing cached, -1 read)
// instead of growing the lists without bound.
//
// Main thread only, like the table it belongs to.

#include <cstddef>
#include <string>
#include <vector>

#include "foundation/NSIndexPath.h"
#include "foundation/NSObject.h"
#include "graphics/CGGeometry.h"

class _TLTemplateLayoutCellHeightCache : public NSObject {
  public:
    using Sections = std::vector<std::vector<CGFloat>>;

    // The marker of a row without a cached height.
    static constexpr CGFloat kNoHeight = -1;
    // The largest section or row index the cache makes room for.
    static constexpr std::size_t kMaxIndex = std::size_t(1) << 22;

    std::string className() const override { return "_TLTemplateLayoutCellHeightCache"; }

    // Makes room for every path, in order; an empty list does nothing.
    void buildHeightCachesAtIndexPathsIfNeeded(const std::vector<Ref<NSIndexPath>>& indexPaths);
    // Makes room for the path; true unless its entry is -1.
    bool hasCachedHeightAtIndexPath(const Ref<NSIndexPath>& indexPath);
    // Makes room for the path and stores the height.
    void cacheHeight(CGFloat height, const Ref<NSIndexPath>& indexPath);
    // Makes room for the path and answers its entry (-1 when none is cached).
    CGFloat cachedHeightAtIndexPath(const Ref<NSIndexPath>& indexPath);

    const Sections& sections() const { return sections_; }
    // For the table's update steps, which edit the lists in place.
    Sections& mutableSections() { return sections_; }
    void setSections(Sections sections) { sections_ = std::move(sections); }

    // Whether the path names a row the cache can hold (a two-index path within kMaxIndex).
    static bool isUsableIndexPath(const Ref<NSIndexPath>& indexPath);

  private:
    // The entry of a usable path after making room for it; nullptr for an unusable path.
    CGFloat* entry(const Ref<NSIndexPath>& indexPath);

    Sections sections_;
};
