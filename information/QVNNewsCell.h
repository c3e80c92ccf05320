#pragma once
// QVNNewsCell: a row of a news list: the article's thumbnail, title, date (the first ten
// characters of news_time, the whole text when shorter) and comment count ("%d评论").
//
// QVNInformationSearchBar: a search bar that lays nothing out of its own, so that whoever places
// it keeps its subviews where they were put.
//
// Main thread only.

#include <optional>
#include <string>

#include "information/QVNNews.h"
#include "uikit/UIImageView.h"
#include "uikit/UILabel.h"
#include "uikit/UISearchBar.h"
#include "uikit/UITableViewCell.h"

class QVNNewsCell : public UITableViewCell {
  public:
    QVNNewsCell(UITableViewCellStyle style, std::optional<std::string> reuseIdentifier);
    std::string className() const override { return "QVNNewsCell"; }
    // The prototype cell's identifier in a news list.
    static constexpr char kIdentifier[] = "NewsCell";
    // The placeholder while the thumbnail loads.
    static constexpr char kPlaceholderImageName[] = "loading";

    static double rowHeight() { return 94.0; }

    Weak<UIImageView> newsImageView;
    Weak<UILabel> titleLabel;
    Weak<UILabel> dateLabel;
    Weak<UILabel> commentCountLabel;

    const Ref<QVNNews>& news() const { return news_; }
    void setNews(const Ref<QVNNews>& news);

    // The date a list shows for a news_time.
    static std::string dateText(const std::optional<std::string>& newsTime);

  private:
    void buildOutlets();
    Ref<QVNNews> news_;
};

class QVNInformationSearchBar : public UISearchBar {
  public:
    using UISearchBar::UISearchBar;
    std::string className() const override { return "QVNInformationSearchBar"; }
    void layoutSubviews() override {}
};
