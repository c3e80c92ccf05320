#pragma once
// News, search, events with their entries, and videos on the stand-in server, with their state
// kept across calls for as long as the routes live.
//
//   ad/get.do                    GET   carousel entries; ad_link points at a page of the server
//   news/getnewslist.do          GET   news_id (0, or the last one held), news_category;
//                                      filtered: brand_id, car_id, keyword (each only when given)
//   news/getnewsbyid.do          GET   news_id: the article's keys at the top level
//   news/getcomment.do           GET   news_id, comment_id (0, or the last one held), [user_token]
//   news/like.do                 GET, POST  token, comment_id: toggles the like
//   news/reply.do                POST  news_id, token, content, comment_id (0: on the article)
//   search/search.do (type 1)    GET   keyword, page (from 0): news whose title or body holds it;
//                                      other types go to the handler installed before (the forum's)
//   event/geteventlist.do        GET   event_id (0, or the last one held), [user_token]
//   event/joinevent.do           GET   event_id, pic_name, pic_url, pro_detail, [tuninglist_id], user_token
//   event/getproductionlist.do   GET   event_id, production_id (0, or the last one held), [user_token]
//   event/vote.do                GET   production_id, user_token: once per user, then 43001
//   video/getvideolist.do        GET   video_id (0, or the last one held), video_category
//   video/getvideobyid.do        GET   video_id: video_link, video_content, video_view at the top level
//   /extra/<name>.html           the events header page "art1.html", the advertisement and video pages
//
// Lists are newest first in pages of ten. A token that is given but unknown or expired answers
// 10003; the calls that change something need one. Install after the forum routes so that the
// question search stays answered. Pictures are drawn at start-up and served from the picture area.
//
// Thread-safe: handlers run on the server's worker threads behind one lock.

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/devserver/DevServer.h"

namespace devserver {

inline constexpr int kInformationPageSize = 10;

struct NewsItem {
    long news_id = 0;
    long news_category = 1;  // 1 car news, 2 brand news
    long car_brand = 0;
    long car_id = 0;
    std::string news_title;
    std::string news_pic;  // absolute, or "@<picture id>"
    std::string news_time;
    std::string news_content;  // HTML
    long news_view = 0;
    long news_top = 0;
};

struct NewsComment {
    long comment_id = 0;
    long news_id = 0;
    long uid = 0;
    long target = 0;  // the comment replied to, 0 on the article
    std::string content;
    std::string replytime;
    std::set<long> likers;
    long replies = 0;
};

struct Advertisement {
    long ad_id = 0;
    std::string ad_name;
    std::string ad_pic;   // absolute, or "@<picture id>"
    std::string ad_link;  // sent as is; "extra/<page>" is made absolute on the server
};

struct EventItem {
    long event_id = 0;
    long category = 0;  // 0 photo entries, else tuning lists
    std::string event_title;
    std::string event_summary;
    std::string event_content;  // HTML
    std::string event_pic;
    std::string addtime;
    long places = 20;  // in all; event_limit is what is left
    long car_id = 0;
    bool available = true;
};

struct EventEntry {
    long production_id = 0;
    long event_id = 0;
    long uid = 0;
    std::string pic_url;
    std::string pic_name;
    long list_id = 0;
    std::set<long> voters;
};

struct VideoItem {
    long video_id = 0;
    std::string video_title;
    std::string video_time;
    std::string video_pic;
    std::string video_content;
    std::string video_link;  // sent as is; "extra/<page>" is made absolute on the server
    long video_view = 0;
};

class InformationRoutes {
  public:
    // With samples: two dozen articles over both categories, brands 1 and 2 and cars 1 to 4 (the
    // newest car article with more comments than a page holds), three advertisements, three
    // events (photo entries with more entries than a page holds, tuning-list entries, a closed
    // one) and a dozen and a half videos.
    InformationRoutes(DevServer& server, bool withSamples);

    std::vector<NewsItem> news() const;                    // newest first
    std::vector<NewsComment> comments(long newsId) const;  // newest first
    std::vector<EventEntry> entries(long eventId) const;   // newest first
    std::vector<EventItem> events() const;
    long addNews(NewsItem item);
    long addComment(NewsComment comment);
    long addEvent(EventItem event);
    long addEntry(EventEntry entry);
    long addVideo(VideoItem video);
    void setAdvertisements(std::vector<Advertisement> ads);

    static void install(RouteRegistry& registry, const std::shared_ptr<InformationRoutes>& routes);

    struct State;

  private:
    DevServer& server_;
    std::shared_ptr<State> state_;
};

std::shared_ptr<InformationRoutes> addInformationRoutes(DevServer& server, bool withSamples = true);

}  // namespace devserver
