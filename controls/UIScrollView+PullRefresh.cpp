#include "controls/UIScrollView+PullRefresh.h"

#include "controls/PullRefreshFooter.h"
#include "controls/PullRefreshHeader.h"
#include "controls/UICollectionView+PullRefresh.h"
#include "controls/UITableView+PullRefresh.h"
#include "foundation/NSKeyValueObserving.h"
#include "foundation/NSMainThreadCheck.h"
#include "uikit/UICollectionView.h"
#include "uikit/UITableView.h"

namespace UIScrollView_PullRefresh {

namespace {

char kHeaderKey;
char kFooterKey;
char kReloadDataBlockKey;

// The reload-data block as an associated object.
class ReloadDataBlockBox : public NSObject {
  public:
    explicit ReloadDataBlockBox(ReloadDataBlock block) : block(std::move(block)) {}
    std::string className() const override { return "PullRefreshReloadDataBlock"; }
    ReloadDataBlock block;
};

template <class Control>
void install(const Ref<UIScrollView>& scrollView, const Ref<Control>& control, const void* key,
             const char* kvoKey) {
    if (!scrollView) return;
    auto current = scrollView->associatedObject(key).template objectAs<Control>();
    if (current == control) return;
    if (current) current->removeFromSuperview();
    if (control) scrollView->addSubview(control);
    KVO::ChangeScope announce(*scrollView, kvoKey);
    scrollView->setAssociatedObject(key, Value(control), AssociationPolicy::Weak);
}

}  // namespace

void setHeader(const Ref<UIScrollView>& scrollView, const Ref<PullRefreshHeader>& header) {
    NS_ASSERT_MAIN_THREAD();
    install(scrollView, header, &kHeaderKey, "header");
}

Ref<PullRefreshHeader> header(const UIScrollView& scrollView) {
    return scrollView.associatedObject(&kHeaderKey).objectAs<PullRefreshHeader>();
}

void setFooter(const Ref<UIScrollView>& scrollView, const Ref<PullRefreshFooter>& footer) {
    NS_ASSERT_MAIN_THREAD();
    install(scrollView, footer, &kFooterKey, "footer");
}

Ref<PullRefreshFooter> footer(const UIScrollView& scrollView) {
    return scrollView.associatedObject(&kFooterKey).objectAs<PullRefreshFooter>();
}

long totalDataCount(UIScrollView& scrollView) {
    long total = 0;
    if (auto* table = dynamic_cast<UITableView*>(&scrollView)) {
        const long sections = table->numberOfSections();
        for (long s = 0; s < sections; ++s) total += table->numberOfRowsInSection(s);
    } else if (auto* collection = dynamic_cast<UICollectionView*>(&scrollView)) {
        const long sections = collection->numberOfSections();
        for (long s = 0; s < sections; ++s) total += collection->numberOfItemsInSection(s);
    }
    return total;
}

void setReloadDataBlock(UIScrollView& scrollView, ReloadDataBlock block) {
    NS_ASSERT_MAIN_THREAD();
    UITableView_PullRefresh::load();
    UICollectionView_PullRefresh::load();
    KVO::ChangeScope announce(scrollView, "reloadDataBlock");
    if (block) {
        scrollView.setAssociatedObject(&kReloadDataBlockKey,
                                       Value(make<ReloadDataBlockBox>(std::move(block))),
                                       AssociationPolicy::Retain);
    } else {
        scrollView.setAssociatedObject(&kReloadDataBlockKey, Value());
    }
}

ReloadDataBlock reloadDataBlock(const UIScrollView& scrollView) {
    auto box = scrollView.associatedObject(&kReloadDataBlockKey).objectAs<ReloadDataBlockBox>();
    return box ? box->block : ReloadDataBlock();
}

void executeReloadDataBlock(UIScrollView& scrollView) {
    NS_ASSERT_MAIN_THREAD();
    // A copy: the block may install another block (a new footer) while it runs.
    auto block = reloadDataBlock(scrollView);
    if (block) block(totalDataCount(scrollView));
}

}  // namespace UIScrollView_PullRefresh
