#pragma once
// UITableView(TLTemplateLayoutCellPrecache): filling a table's height cache in the idle moments of
// the main run loop, one row per moment.
//
// A pass (tl_precacheIfNeeded) runs only while the table's pre-computation switch is on and the
// table has a delegate. It collects every row of the table whose height is not cached (asking the
// cache makes room for every row, so the cache then mirrors the table's shape) and adds a
// repeating observer of the current (main) run loop for the moment before it waits, order 0, in the
// default mode only. Each time the observer fires it takes the next row and asks the main thread,
// without waiting and in the default mode, to pre-compute it (tl_precacheIndexPathIfNeeded); when
// no row is left it removes itself. So nothing is computed while the loop runs in another mode (a
// scroll view being dragged), and a pass holds its table until it ends. Every pass has its own
// observer and list; passes started by several updates run side by side.
//
// Pre-computing a row asks the table delegate's tableViewHeightForRowAtIndexPath and stores the
// answer, unless the row is already cached or no longer exists. A delegate answers "not
// implemented" only by answering nullopt, so the first such answer ends the pass: nothing more is
// asked of that delegate.
//
// Main thread only.

#include <cstddef>
#include <vector>

#include "uikit/UITableView.h"

namespace UITableView_TLTemplateLayoutCellPrecache {

void tl_precacheIfNeeded(UITableView& tableView);
void tl_precacheIndexPathIfNeeded(UITableView& tableView, const Ref<NSIndexPath>& indexPath);
// Every (section, row) of the table, in order, whose height is not cached.
std::vector<Ref<NSIndexPath>> tl_allIndexPathsToBePrecached(UITableView& tableView);

// How many passes are running now (all tables).
std::size_t tl_runningPrecachePassCount();

}  // namespace UITableView_TLTemplateLayoutCellPrecache
