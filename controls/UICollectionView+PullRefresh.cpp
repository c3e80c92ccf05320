#include "controls/UICollectionView+PullRefresh.h"

#include <mutex>

#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"

namespace UICollectionView_PullRefresh {

void load() {
    static std::once_flag once;
    std::call_once(once, [] {
        UICollectionView::addReloadDataHook(UICollectionView::ReloadStage::After,
                                            UICollectionView::kReloadHookOrderRefreshControls,
                                            [](UICollectionView& collection) {
                                                UIScrollView_PullRefresh::executeReloadDataBlock(collection);
                                            });
    });
}

void pr_reloadData(UICollectionView& collectionView) {
    NS_ASSERT_MAIN_THREAD();
    collectionView.platformReloadData();
    UIScrollView_PullRefresh::executeReloadDataBlock(collectionView);
}

}  // namespace UICollectionView_PullRefresh
