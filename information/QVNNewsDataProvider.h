#pragma once
// QVNNewsDataProvider: the data source of one news list. It holds the articles shown (one
// section, one row each) and fills each "NewsCell" row (a QVNNewsCell) through the configure
// block. It makes itself its table's data source when made; the table holds it weakly, so the
// screen keeps it. Changing the list does not reload the table: the screen reloads.
//
// Main thread only.

#include <functional>
#include <vector>

#include "foundation/NSIndexPath.h"
#include "information/QVNNews.h"
#include "information/QVNNewsCell.h"
#include "uikit/UITableView.h"

class QVNNewsDataProviderProtocol {
  public:
    virtual ~QVNNewsDataProviderProtocol() = default;
    virtual void addNews(const std::vector<Ref<QVNNews>>& news) = 0;
    virtual void removeAllNews() = 0;
    // nullptr for a row outside the list.
    virtual Ref<QVNNews> newsForIndexPath(const Ref<NSIndexPath>& indexPath) const = 0;
    virtual Ref<UITableView> tableView() const = 0;
    virtual void setTableView(const Ref<UITableView>& tableView) = 0;
};

class QVNNewsDataProvider : public NSObject,
                            public UITableViewDataSource,
                            public QVNNewsDataProviderProtocol {
  public:
    using ConfigureCell = std::function<void(const Ref<QVNNewsCell>& cell, const Ref<QVNNews>& news)>;

    // initWithTableView:configureCellBlock:
    QVNNewsDataProvider(const Ref<UITableView>& tableView, ConfigureCell configureCell);
    // Becomes the table's data source.
    void didInit();
    std::string className() const override { return "QVNNewsDataProvider"; }

    void addNews(const std::vector<Ref<QVNNews>>& news) override;
    void removeAllNews() override;
    Ref<QVNNews> newsForIndexPath(const Ref<NSIndexPath>& indexPath) const override;
    Ref<UITableView> tableView() const override { return tableView_.lock(); }
    void setTableView(const Ref<UITableView>& tableView) override { tableView_ = tableView; }

    const std::vector<Ref<QVNNews>>& news() const { return news_; }
    const ConfigureCell& configureCell() const { return configureCell_; }

    long tableViewNumberOfRowsInSection(UITableView& tableView, long section) override;
    Ref<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                        const Ref<NSIndexPath>& indexPath) override;

  private:
    Weak<UITableView> tableView_;
    std::vector<Ref<QVNNews>> news_;
    ConfigureCell configureCell_;
};
