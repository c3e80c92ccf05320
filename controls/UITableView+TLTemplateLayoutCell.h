#pragma once
// UITableView(TLTemplateLayoutCell): row heights measured from template cells, for a table
// delegate's height callback.
//
// The delegate registers its cells with the table (class, nib or storyboard prototype) so that the
// table can dequeue one without an index path, and answers heights like this:
//
//     std::optional<CGFloat> tableViewHeightForRowAtIndexPath(UITableView& table,
//                                                             const Ref<NSIndexPath>& path) override {
//         return UITableView_TLTemplateLayoutCell::tl_heightForCellWithIdentifier(
//             table, "comment", path, [&](const Ref<UITableViewCell>& cell) { fill(cell, path); });
//     }
//
// The configuration fills the cell exactly as the data source fills a displayed cell. The
// measurement prepares the identifier's template cell for reuse, configures it and measures it at
// the table's width less the accessory's room (an accessory view's width + 16, else the built-in
// accessory type's width): with Auto Layout (a temporary width constraint on the content view and
// the compressed fitting size) when the content view has constraints and the cell does not
// enforce frame layout, else with the cell's sizeThatFits(content width, 0). A table with
// separators adds one pixel (1 / the main screen's scale).
//
// The form with an index path answers from the table's height cache and stores what it measures.
// Its first use turns on, for that table, automatic invalidation of the cache on reloads and row
// and section updates, and the pre-computation of every row's height in idle turns of the main
// run loop (UITableView+TLTemplateLayoutCellPrecache.h).
//
// Nothing is reported to the caller: a missing identifier or index path measures 0; an identifier
// the table cannot dequeue measures 0 plus the separator pixel (the configuration is then not
// called, as there is no cell to fill). With tl_debugLogEnabled each step writes a console line.
// Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "uikit/UITableView.h"

namespace UITableView_TLTemplateLayoutCell {

using Configuration = std::function<void(const Ref<UITableViewCell>& cell)>;

// The uncached measurement.
CGFloat tl_heightForCellWithIdentifier(UITableView& tableView, const std::optional<std::string>& identifier,
                                       const Configuration& configuration);
// The cached measurement (cacheByIndexPath:).
CGFloat tl_heightForCellWithIdentifier(UITableView& tableView, const std::optional<std::string>& identifier,
                                       const Ref<NSIndexPath>& indexPath, const Configuration& configuration);

bool tl_debugLogEnabled(const UITableView& tableView);
void setFd_debugLogEnabled(UITableView& tableView, bool enabled);

// The room a built-in accessory of the type takes when the cell has no accessory view (0 for
// none and for types the table does not know).
CGFloat tl_systemAccessoryWidth(UITableViewCellAccessoryType type);

}  // namespace UITableView_TLTemplateLayoutCell
