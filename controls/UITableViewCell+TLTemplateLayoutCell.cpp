#include "controls/UITableViewCell+TLTemplateLayoutCell.h"

#include "foundation/NSMainThreadCheck.h"
#include "foundation/Value.h"

namespace UITableViewCell_TLTemplateLayoutCell {

namespace {
const char kIsTemplateLayoutCellKey = 0;
const char kEnforceFrameLayoutKey = 0;

bool flag(const UITableViewCell& cell, const void* key) {
    return cell.associatedObject(key).boolValue();
}
}  // namespace

bool tl_isTemplateLayoutCell(const UITableViewCell& cell) {
    return flag(cell, &kIsTemplateLayoutCellKey);
}

void setFd_isTemplateLayoutCell(UITableViewCell& cell, bool isTemplateLayoutCell) {
    NS_ASSERT_MAIN_THREAD();
    cell.setAssociatedObject(&kIsTemplateLayoutCellKey, Value(isTemplateLayoutCell));
}

bool tl_enforceFrameLayout(const UITableViewCell& cell) {
    return flag(cell, &kEnforceFrameLayoutKey);
}

void setFd_enforceFrameLayout(UITableViewCell& cell, bool enforceFrameLayout) {
    NS_ASSERT_MAIN_THREAD();
    cell.setAssociatedObject(&kEnforceFrameLayoutKey, Value(enforceFrameLayout));
}

}  // namespace UITableViewCell_TLTemplateLayoutCell
