#pragma once
// UITableView(TLTemplateLayoutCellPrivate): the state the template-cell height measurement
// attaches to a table, made on first access and living as long as the table.
//
// - One off-screen template cell per reuse identifier, dequeued from the table (the form without
//   an index path) the first time the identifier is measured and reused for every later
//   measurement. An identifier the table cannot dequeue gives no cell and stores nothing.
// - The table's height cache (_TLTemplateLayoutCellHeightCache), empty at first.
// - Two switches, both NO at first: automatic invalidation (keep the cache in step with the
//   table's reloads and row and section updates) and pre-computation (fill the cache while the
//   main run loop is idle). The first cached height request turns both on for good; only these
//   setters turn them off again. Turning either on installs the table hooks they need (see
//   UITableView+TLTemplateLayoutCellAutomaticallyCacheInvalidation.h).
// - tl_debugLog writes "** TLTemplateLayoutCell ** <message>" to the console while the table's
//   tl_debugLogEnabled (UITableView+TLTemplateLayoutCell.h) is on, and nothing otherwise.
//
// Main thread only.

#include <string>

#include "controls/_TLTemplateLayoutCellHeightCache.h"
#include "uikit/UITableView.h"

namespace UITableView_TLTemplateLayoutCellPrivate {

// The template cell of the identifier, nullptr when the table cannot dequeue one.
Ref<UITableViewCell> tl_templateCellForReuseIdentifier(UITableView& tableView, const std::string& identifier);
Ref<_TLTemplateLayoutCellHeightCache> tl_cellHeightCache(UITableView& tableView);
bool tl_autoCacheInvalidationEnabled(const UITableView& tableView);
void setFd_autoCacheInvalidationEnabled(UITableView& tableView, bool enabled);
bool tl_precacheEnabled(const UITableView& tableView);
void setFd_precacheEnabled(UITableView& tableView, bool enabled);
void tl_debugLog(const UITableView& tableView, const std::string& message);

}  // namespace UITableView_TLTemplateLayoutCellPrivate
