#pragma once
// UICollectionView(PullRefresh): every reloadData of a collection view also reports the new item
// count to its reload-data block (UIScrollView+PullRefresh), after the platform's reload.
// load() installs that step once for the process, as an After hook at
// kReloadHookOrderRefreshControls; setting a reload-data block calls it.

#include "uikit/UICollectionView.h"

namespace UICollectionView_PullRefresh {

// Idempotent and thread-safe.
void load();
// This category's wrapper on its own: the platform's reload, then the reload-data block.
void pr_reloadData(UICollectionView& collectionView);

}  // namespace UICollectionView_PullRefresh
