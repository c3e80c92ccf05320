#include "information/QVNNewsDataProvider.h"

#include "foundation/NSMainThreadCheck.h"

QVNNewsDataProvider::QVNNewsDataProvider(const Ref<UITableView>& tableView, ConfigureCell configureCell)
    : tableView_(tableView), configureCell_(std::move(configureCell)) {}

void QVNNewsDataProvider::didInit() {
    Ref<UITableView> table = tableView_.lock();
    if (!table) return;
    // The list's prototype cell; registering again replaces the same registration.
    table->registerClass<QVNNewsCell>(QVNNewsCell::kIdentifier);
    table->setDataSource(selfAs<QVNNewsDataProvider>());
}

void QVNNewsDataProvider::addNews(const std::vector<Ref<QVNNews>>& news) {
    NS_ASSERT_MAIN_THREAD();
    for (const Ref<QVNNews>& item : news)
        if (item) news_.push_back(item);
}

void QVNNewsDataProvider::removeAllNews() {
    NS_ASSERT_MAIN_THREAD();
    news_.clear();
}

Ref<QVNNews> QVNNewsDataProvider::newsForIndexPath(const Ref<NSIndexPath>& indexPath) const {
    if (!indexPath || indexPath->row() < 0 || indexPath->row() >= static_cast<long>(news_.size()))
        return nullptr;
    return news_[indexPath->row()];
}

long QVNNewsDataProvider::tableViewNumberOfRowsInSection(UITableView&, long) {
    return static_cast<long>(news_.size());
}

Ref<UITableViewCell> QVNNewsDataProvider::tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                                         const Ref<NSIndexPath>& indexPath) {
    Ref<UITableViewCell> cell =
        tableView.dequeueReusableCellWithIdentifier(QVNNewsCell::kIdentifier, indexPath);
    auto newsCell = std::dynamic_pointer_cast<QVNNewsCell>(cell);
    if (newsCell && configureCell_) configureCell_(newsCell, newsForIndexPath(indexPath));
    return cell;
}
