#pragma once
// UITableView(PullRefresh): every reloadData of a table also reports the new item count to the
// table's reload-data block (UIScrollView+PullRefresh), after the platform's reload.
//
// load() installs that step once for the process, as an After hook of the table's reload hook
// list at kReloadHookOrderRefreshControls, so that the row-height cache (which installs at a
// later order) wraps it: invalidation, platform reload, this step, pre-computation. Setting a
// reload-data block calls load(), so nothing else needs to.

#include "uikit/UITableView.h"

namespace UITableView_PullRefresh {

// Idempotent and thread-safe.
void load();
// This category's wrapper on its own: the platform's reload, then the reload-data block.
void pr_reloadData(UITableView& tableView);

}  // namespace UITableView_PullRefresh
