#include "controls/_TLTemplateLayoutCellHeightCache.h"

#include "foundation/NSMainThreadCheck.h"

bool _TLTemplateLayoutCellHeightCache::isUsableIndexPath(const Ref<NSIndexPath>& indexPath) {
    if (!indexPath || indexPath->length() < 2) return false;
    return indexPath->indexAtPosition(0) <= kMaxIndex && indexPath->indexAtPosition(1) <= kMaxIndex;
}

CGFloat* _TLTemplateLayoutCellHeightCache::entry(const Ref<NSIndexPath>& indexPath) {
    if (!isUsableIndexPath(indexPath)) return nullptr;
    const std::size_t section = indexPath->indexAtPosition(0);
    const std::size_t row = indexPath->indexAtPosition(1);
    if (sections_.size() <= section) sections_.resize(section + 1);
    auto& rows = sections_[section];
    if (rows.size() <= row) rows.resize(row + 1, kNoHeight);
    return &rows[row];
}

void _TLTemplateLayoutCellHeightCache::buildHeightCachesAtIndexPathsIfNeeded(
    const std::vector<Ref<NSIndexPath>>& indexPaths) {
    NS_ASSERT_MAIN_THREAD();
    for (const auto& path : indexPaths) entry(path);
}

bool _TLTemplateLayoutCellHeightCache::hasCachedHeightAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const CGFloat* e = entry(indexPath);
    return e && *e != kNoHeight;
}

void _TLTemplateLayoutCellHeightCache::cacheHeight(CGFloat height, const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    if (CGFloat* e = entry(indexPath)) *e = height;
}

CGFloat _TLTemplateLayoutCellHeightCache::cachedHeightAtIndexPath(const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    const CGFloat* e = entry(indexPath);
    return e ? *e : kNoHeight;
}
