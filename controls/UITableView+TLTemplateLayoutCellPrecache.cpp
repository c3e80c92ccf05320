#include "controls/UITableView+TLTemplateLayoutCellPrecache.h"

#include <deque>

#include "controls/UITableView+TLTemplateLayoutCellPrivate.h"
#include "foundation/NSMainThreadCheck.h"
#include "foundation/NSObject+Perform.h"
#include "foundation/NSRunLoop.h"
#include "foundation/NSString.h"
#include "foundation/Value.h"

namespace UITableView_TLTemplateLayoutCellPrecache {

using namespace UITableView_TLTemplateLayoutCellPrivate;

namespace {

std::size_t runningPasses = 0;

// One pass: its pending rows, the table it holds and where its observer sits.
struct Pass {
    std::deque<Ref<NSIndexPath>> pending;
    Ref<UITableView> tableView;
    Ref<NSRunLoop> runLoop;
    std::string mode;

    Pass() { ++runningPasses; }
    ~Pass() { --runningPasses; }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
};

enum class RowResult { Skipped, Stored, NotImplemented };

RowResult precacheRow(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
    auto cache = tl_cellHeightCache(tableView);
    if (cache->hasCachedHeightAtIndexPath(indexPath)) return RowResult::Skipped;
    if (!indexPath || indexPath->length() < 2) return RowResult::Skipped;
    const long section = indexPath->section();
    const long row = indexPath->row();
    if (section < 0 || section >= tableView.numberOfSections()) return RowResult::Skipped;
    if (row < 0 || row >= tableView.numberOfRowsInSection(section)) return RowResult::Skipped;
    auto delegate = tableView.delegate();
    if (!delegate) return RowResult::NotImplemented;
    auto height = delegate->tableViewHeightForRowAtIndexPath(tableView, indexPath);
    if (!height) return RowResult::NotImplemented;
    cache->cacheHeight(*height, indexPath);
    tl_debugLog(tableView, NSString::stringWithFormat("finished precache - [%@:%@] %@", Value(section),
                                                      Value(row), Value(*height)));
    return RowResult::Stored;
}

}  // namespace

std::size_t tl_runningPrecachePassCount() {
    return runningPasses;
}

std::vector<Ref<NSIndexPath>> tl_allIndexPathsToBePrecached(UITableView& tableView) {
    std::vector<Ref<NSIndexPath>> paths;
    auto cache = tl_cellHeightCache(tableView);
    const long sections = tableView.numberOfSections();
    for (long section = 0; section < sections; ++section) {
        const long rows = tableView.numberOfRowsInSection(section);
        for (long row = 0; row < rows; ++row) {
            auto path = NSIndexPath::indexPathForRow(row, section);
            if (!cache->hasCachedHeightAtIndexPath(path)) paths.push_back(std::move(path));
        }
    }
    return paths;
}

void tl_precacheIndexPathIfNeeded(UITableView& tableView, const Ref<NSIndexPath>& indexPath) {
    NS_ASSERT_MAIN_THREAD();
    precacheRow(tableView, indexPath);
}

void tl_precacheIfNeeded(UITableView& tableView) {
    NS_ASSERT_MAIN_THREAD();
    if (!tl_precacheEnabled(tableView) || !tableView.delegate()) return;
    auto pass = std::make_shared<Pass>();
    auto paths = tl_allIndexPathsToBePrecached(tableView);
    pass->pending.assign(paths.begin(), paths.end());
    pass->tableView = tableView.selfAs<UITableView>();
    pass->runLoop = NSRunLoop::currentRunLoop();
    pass->mode = NSDefaultRunLoopMode;

    auto observer = CFRunLoopObserver::create(
        kCFRunLoopBeforeWaiting, true, 0, [pass](const Ref<CFRunLoopObserver>& observer, CFRunLoopActivity) {
            if (pass->pending.empty()) {
                // Dropping the callback releases the pass, and with it the table.
                pass->runLoop->removeObserver(observer, pass->mode);
                observer->invalidate();
                return;
            }
            auto indexPath = pass->pending.front();
            pass->pending.pop_front();
            Weak<Pass> weakPass = pass;
            performSelectorOnMainThread(
                pass->tableView,
                [weakTable = Weak<UITableView>(pass->tableView), weakPass, indexPath] {
                    auto table = weakTable.lock();
                    if (!table) return;
                    if (precacheRow(*table, indexPath) == RowResult::NotImplemented) {
                        if (auto running = weakPass.lock()) running->pending.clear();
                    }
                },
                false, {NSDefaultRunLoopMode});
        });
    pass->runLoop->addObserver(observer, pass->mode);
}

}  // namespace UITableView_TLTemplateLayoutCellPrecache
