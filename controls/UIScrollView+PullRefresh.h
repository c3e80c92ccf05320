#pragma once
// UIScrollView(PullRefresh): every scroll view gets a header slot and a footer slot for the
// refresh controls, a reload-data block and the total number of data items it shows.
//
// The slots hold their control weakly: the control lives because it is a subview of the scroll
// view, so removing it from the view empties the slot. Installing a control removes the one it
// replaces from the view, adds the new one as a subview (which attaches it to the scroll view)
// and announces the change to key-value observers of the scroll view under "header" or "footer".
// Installing the control already in the slot does nothing at all.
//
// The reload-data block receives totalDataCount after every reloadData of a table or collection
// view (UITableView+PullRefresh, UICollectionView+PullRefresh); setting it installs those reload
// hooks once for the process. It is announced under "reloadDataBlock". Main thread only.

#include <functional>

#include "uikit/UIScrollView.h"

class PullRefreshHeader;
class PullRefreshFooter;

namespace UIScrollView_PullRefresh {

using ReloadDataBlock = std::function<void(long totalDataCount)>;

void setHeader(const Ref<UIScrollView>& scrollView, const Ref<PullRefreshHeader>& header);
Ref<PullRefreshHeader> header(const UIScrollView& scrollView);
void setFooter(const Ref<UIScrollView>& scrollView, const Ref<PullRefreshFooter>& footer);
Ref<PullRefreshFooter> footer(const UIScrollView& scrollView);

// Tables: the rows of all sections; collection views: the items of all sections; any other
// scroll view: 0.
long totalDataCount(UIScrollView& scrollView);

void setReloadDataBlock(UIScrollView& scrollView, ReloadDataBlock block);
ReloadDataBlock reloadDataBlock(const UIScrollView& scrollView);
// Calls the reload-data block, when there is one, with totalDataCount.
void executeReloadDataBlock(UIScrollView& scrollView);

}  // namespace UIScrollView_PullRefresh
