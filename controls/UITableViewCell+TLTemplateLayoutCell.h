#pragma once
// UITableViewCell(TLTemplateLayoutCell): two flags the template-cell height measurement attaches
// to cells.
//
// - tl_isTemplateLayoutCell: set on the off-screen cells a table keeps for measuring; nothing else
//   reads it, but a cell's own code may, to skip work a measurement does not need.
// - tl_enforceFrameLayout: measure this cell with its sizeThatFits even when its content view has
//   constraints.
//
// Both are NO until set and live with the cell. Main thread only.

#include "foundation/NSObject.h"
#include "uikit/UITableViewCell.h"

namespace UITableViewCell_TLTemplateLayoutCell {

bool tl_isTemplateLayoutCell(const UITableViewCell& cell);
void setFd_isTemplateLayoutCell(UITableViewCell& cell, bool isTemplateLayoutCell);
bool tl_enforceFrameLayout(const UITableViewCell& cell);
void setFd_enforceFrameLayout(UITableViewCell& cell, bool enforceFrameLayout);

}  // namespace UITableViewCell_TLTemplateLayoutCell
