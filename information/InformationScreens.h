#pragma once
// What the information area's screens hand to one another before they push. A screen that opens
// another sees it only through these small interfaces and the scene it is registered under, so
// each screen stays free to change how it is built.
//
// Main thread only.

#include <string>

#include "app/QVNActivity.h"
#include "information/QVNNews.h"

namespace InformationScreens {

inline constexpr char kInformationStoryboard[] = "MyInformation";
inline constexpr char kNewsListIdentifier[] = "NewsListViewController";
// The article screen, opened by the news list ("showDetail") and by the search.
inline constexpr char kNewsDetailIdentifier[] = "NewsDetail";
inline constexpr char kSearchIdentifier[] = "SearchViewController";

inline constexpr char kActivityStoryboard[] = "MyActivity";
inline constexpr char kActivityDetailIdentifier[] = "ActivityDetailViewController";
inline constexpr char kActivityHeaderIdentifier[] = "ActivvityHeaderViewController";
inline constexpr char kJoinActivityIdentifier[] = "JoinActivityViewController";
// The entry gallery an event's page opens ("showProduction").
inline constexpr char kProductionIdentifier[] = "ProductionListsViewController";
inline constexpr char kProductionFlowIdentifier[] = "ProductionListViewController";

// The article screen: the article to load, and the title its opener gives it (the search gives none).
class NewsDetailHandOver {
  public:
    virtual ~NewsDetailHandOver() = default;
    virtual void setNews(const Ref<QVNNews>& news) = 0;
    virtual void setTitleTextPass(const std::string& title) = 0;
};

// An event's screens (its page, joining, the galleries): the event they show.
class ActivityHandOver {
  public:
    virtual ~ActivityHandOver() = default;
    virtual void setActivity(const Ref<QVNActivity>& activity) = 0;
};

}  // namespace InformationScreens
