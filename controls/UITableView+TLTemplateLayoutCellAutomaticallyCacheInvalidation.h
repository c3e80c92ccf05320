#pragma once
// UITableView(TLTemplateLayoutCellAutomaticallyCacheInvalidation): keeps a table's height cache in
// step with its reloads and its row and section updates.
//
// load() installs, once for the process, three table hooks (UITableView's hook lists):
//   - before reloadData's platform reload (order kReloadHookOrderHeightCache, so it runs before
//     the refresh controls' step): the cache step of the reload;
//   - after it (same order, so after the refresh controls' reload-data block): a pre-computation
//     pass (UITableView+TLTemplateLayoutCellPrecache.h);
//   - an update wrapper around the eight row and section updates: the cache step, then the
//     update itself, then, for inserts and reloads of rows or sections, a pre-computation pass.
// Cache steps apply only while the table's automatic invalidation is on, and passes run only
// while its pre-computation is on, so tables that never use the cached height see no change.
// The switches install the hooks when they are turned on; applications may also call load() at
// start-up.
//
// The cache steps (applyUpdateToCache), which never reach beyond the cache's current extent:
//   reloadData        every section goes;
//   insert sections   in ascending order, an empty section at each index (an index above the
//                     current number of sections is skipped);
//   delete sections   the sections at the indexes (as numbered before the deletion) go at once;
//                     indexes beyond the cache are skipped;
//   reload sections   every row of each existing section becomes uncached;
//   move section      the section moves to its new index (when both indexes exist);
//   insert rows       room is made for every path, then an uncached entry goes in at each path,
//                     in ascending order (paths name rows as numbered after the insertion);
//   delete rows       room is made for every path, then each section's rows go at once;
//   reload rows       room is made for every path, then each becomes uncached;
//   move row          room is made for both paths, then the entry moves to its new place.
// Paths that do not name a (section, row) are skipped.
//
// Main thread only.

#include "controls/_TLTemplateLayoutCellHeightCache.h"
#include "uikit/UITableView.h"

namespace UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation {

// Installs the hooks (once; later calls do nothing).
void load();
bool isLoaded();

// The cache step of reloadData.
void applyReloadDataToCache(_TLTemplateLayoutCellHeightCache& cache);
// The cache step of one of the eight updates.
void applyUpdateToCache(_TLTemplateLayoutCellHeightCache& cache, const UITableViewUpdate& update);
// Whether the update is followed by a pre-computation pass (the inserts and reloads).
bool updateStartsPrecache(UITableViewUpdate::Kind kind);

}  // namespace UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation
