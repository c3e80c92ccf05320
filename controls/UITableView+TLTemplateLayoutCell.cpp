#include "controls/UITableView+TLTemplateLayoutCell.h"

#include "controls/UITableView+TLTemplateLayoutCellPrecache.h"
#include "controls/UITableView+TLTemplateLayoutCellPrivate.h"
#include "controls/UITableViewCell+TLTemplateLayoutCell.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"
#include "uikit/NSLayoutConstraint.h"
#include "uikit/UIScreen.h"

namespace UITableView_TLTemplateLayoutCell {

using namespace UITableView_TLTemplateLayoutCellPrivate;

namespace {

const char kDebugLogKey = 0;

CGFloat contentWidthFor(const UITableView& tableView, const Ref<UITableViewCell>& cell) {
    CGFloat accessoryWidth = 0;
    if (cell) {
        if (const auto& accessory = cell->accessoryView()) {
            accessoryWidth = accessory->frame().size.width + 16;
        } else {
            accessoryWidth = tl_systemAccessoryWidth(cell->accessoryType());
        }
    }
    return tableView.frame().size.width - accessoryWidth;
}

std::string pathText(const Ref<NSIndexPath>& indexPath) {
    return NSString::stringWithFormat("[%@:%@]", Value(indexPath->section()), Value(indexPath->row()));
}

}  // namespace

CGFloat tl_systemAccessoryWidth(UITableViewCellAccessoryType type) {
    switch (type) {
        case UITableViewCellAccessoryDisclosureIndicator:
            return 34;
        case UITableViewCellAccessoryDetailDisclosureButton:
            return 68;
        case UITableViewCellAccessoryCheckmark:
            return 40;
        case UITableViewCellAccessoryDetailButton:
            return 48;
        default:
            return 0;
    }
}

CGFloat tl_heightForCellWithIdentifier(UITableView& tableView, const std::optional<std::string>& identifier,
                                       const Configuration& configuration) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!identifier) return 0;
    auto keepAlive = tableView.self();
    auto cell = tl_templateCellForReuseIdentifier(tableView, *identifier);
    if (cell) {
        cell->prepareForReuse();
        if (configuration) configuration(cell);
    }
    const CGFloat contentWidth = contentWidthFor(tableView, cell);

    CGFloat height = 0;
    bool autoLayout = false;
    if (cell) {
        const Ref<UIView>& contentView = cell->contentView();
        autoLayout = !contentView->constraints().empty() &&
                     !UITableViewCell_TLTemplateLayoutCell::tl_enforceFrameLayout(*cell);
        if (autoLayout) {
            auto widthConstraint = NSLayoutConstraint::constraintWithItem(
                contentView, NSLayoutAttributeWidth, NSLayoutRelationEqual, nullptr,
                NSLayoutAttributeNotAnAttribute, 1, contentWidth);
            contentView->addConstraint(widthConstraint);
            height = contentView->systemLayoutSizeFittingSize(UILayoutFittingCompressedSize).height;
            contentView->removeConstraint(widthConstraint);
        } else {
            height = cell->sizeThatFits(CGSizeMake(contentWidth, 0)).height;
        }
    }
    if (tableView.separatorStyle() != UITableViewCellSeparatorStyleNone) {
        height += 1.0 / UIScreen::mainScreen()->scale();
    }
    tl_debugLog(tableView, NSString::stringWithFormat(autoLayout ? "calculate using auto layout - %@"
                                                                 : "calculate using frame layout - %@",
                                                      Value(height)));
    return height;
}

CGFloat tl_heightForCellWithIdentifier(UITableView& tableView, const std::optional<std::string>& identifier,
                                       const Ref<NSIndexPath>& indexPath,
                                       const Configuration& configuration) {
    NS_ASSERT_MAIN_THREAD_OR(return {});
    if (!identifier || !indexPath) return 0;
    auto keepAlive = tableView.self();
    if (!tl_autoCacheInvalidationEnabled(tableView)) setFd_autoCacheInvalidationEnabled(tableView, true);
    if (!tl_precacheEnabled(tableView)) {
        setFd_precacheEnabled(tableView, true);
        UITableView_TLTemplateLayoutCellPrecache::tl_precacheIfNeeded(tableView);
    }
    auto cache = tl_cellHeightCache(tableView);
    if (cache->hasCachedHeightAtIndexPath(indexPath)) {
        const CGFloat cached = cache->cachedHeightAtIndexPath(indexPath);
        tl_debugLog(tableView,
                    NSString::stringWithFormat("hit cache - %@ %@", pathText(indexPath), Value(cached)));
        return cached;
    }
    const CGFloat height = tl_heightForCellWithIdentifier(tableView, identifier, configuration);
    tl_debugLog(tableView, NSString::stringWithFormat("cached - %@ %@", pathText(indexPath), Value(height)));
    cache->cacheHeight(height, indexPath);
    return height;
}

bool tl_debugLogEnabled(const UITableView& tableView) {
    return tableView.associatedObject(&kDebugLogKey).boolValue();
}

void setFd_debugLogEnabled(UITableView& tableView, bool enabled) {
    NS_ASSERT_MAIN_THREAD();
    tableView.setAssociatedObject(&kDebugLogKey, Value(enabled));
}

}  // namespace UITableView_TLTemplateLayoutCell
