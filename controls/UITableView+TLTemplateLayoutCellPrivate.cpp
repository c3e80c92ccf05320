#include "controls/UITableView+TLTemplateLayoutCellPrivate.h"

#include <map>

#include "controls/UITableView+TLTemplateLayoutCell.h"
#include "controls/UITableView+TLTemplateLayoutCellAutomaticallyCacheInvalidation.h"
#include "controls/UITableViewCell+TLTemplateLayoutCell.h"
#include "foundation/NSLog.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/Value.h"

namespace UITableView_TLTemplateLayoutCellPrivate {

namespace {

const char kTemplateCellsKey = 0;
const char kHeightCacheKey = 0;
const char kAutoCacheInvalidationKey = 0;
const char kPrecacheKey = 0;

// The table's template cells by reuse identifier.
class TemplateCells : public NSObject {
  public:
    std::string className() const override { return "_TLTemplateLayoutCells"; }
    std::map<std::string, Ref<UITableViewCell>> cells;
};

Ref<TemplateCells> templateCells(UITableView& tableView) {
    auto cells = tableView.associatedObject(&kTemplateCellsKey).objectAs<TemplateCells>();
    if (!cells) {
        cells = make<TemplateCells>();
        tableView.setAssociatedObject(&kTemplateCellsKey, Value(cells));
    }
    return cells;
}

}  // namespace

Ref<UITableViewCell> tl_templateCellForReuseIdentifier(UITableView& tableView,
                                                       const std::string& identifier) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    auto store = templateCells(tableView);
    auto found = store->cells.find(identifier);
    if (found != store->cells.end()) return found->second;
    auto cell = tableView.dequeueReusableCellWithIdentifier(identifier);
    if (!cell) return nullptr;
    UITableViewCell_TLTemplateLayoutCell::setFd_isTemplateLayoutCell(*cell, true);
    cell->contentView()->setTranslatesAutoresizingMaskIntoConstraints(false);
    store->cells[identifier] = cell;
    tl_debugLog(tableView, NSString::stringWithFormat("layout cell created - %@", identifier));
    return cell;
}

Ref<_TLTemplateLayoutCellHeightCache> tl_cellHeightCache(UITableView& tableView) {
    auto cache = tableView.associatedObject(&kHeightCacheKey).objectAs<_TLTemplateLayoutCellHeightCache>();
    if (!cache) {
        cache = make<_TLTemplateLayoutCellHeightCache>();
        tableView.setAssociatedObject(&kHeightCacheKey, Value(cache));
    }
    return cache;
}

bool tl_autoCacheInvalidationEnabled(const UITableView& tableView) {
    return tableView.associatedObject(&kAutoCacheInvalidationKey).boolValue();
}

void setFd_autoCacheInvalidationEnabled(UITableView& tableView, bool enabled) {
    NS_ASSERT_MAIN_THREAD();
    if (enabled) UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation::load();
    tableView.setAssociatedObject(&kAutoCacheInvalidationKey, Value(enabled));
}

bool tl_precacheEnabled(const UITableView& tableView) {
    return tableView.associatedObject(&kPrecacheKey).boolValue();
}

void setFd_precacheEnabled(UITableView& tableView, bool enabled) {
    NS_ASSERT_MAIN_THREAD();
    if (enabled) UITableView_TLTemplateLayoutCellAutomaticallyCacheInvalidation::load();
    tableView.setAssociatedObject(&kPrecacheKey, Value(enabled));
}

void tl_debugLog(const UITableView& tableView, const std::string& message) {
    if (!UITableView_TLTemplateLayoutCell::tl_debugLogEnabled(tableView)) return;
    NSLog("** TLTemplateLayoutCell ** %@", message);
}

}  // namespace UITableView_TLTemplateLayoutCellPrivate
