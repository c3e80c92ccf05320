#include "controls/UITableView+PullRefresh.h"

#include <mutex>

#include "controls/UIScrollView+PullRefresh.h"
#include "foundation/NSMainThreadCheck.h"

namespace UITableView_PullRefresh {

void load() {
    static std::once_flag once;
    std::call_once(once, [] {
        UITableView::addReloadDataHook(
            UITableView::ReloadStage::After, UITableView::kReloadHookOrderRefreshControls,
            [](UITableView& table) { UIScrollView_PullRefresh::executeReloadDataBlock(table); });
    });
}

void pr_reloadData(UITableView& tableView) {
    NS_ASSERT_MAIN_THREAD();
    tableView.platformReloadData();
    UIScrollView_PullRefresh::executeReloadDataBlock(tableView);
}

}  // namespace UITableView_PullRefresh
