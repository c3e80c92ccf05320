// News, search, events, entries and videos: the endpoints and their state.

#include "tools/devserver/InformationRoutes.h"

#include <algorithm>
#include <ctime>
#include <mutex>

#include "tools/devserver/DevServerState.h"

namespace devserver {

struct InformationRoutes::State {
    mutable std::mutex mutex;  // guards everything below
    std::map<long, NewsItem> news;
    std::map<long, NewsComment> comments;
    std::vector<Advertisement> ads;
    std::map<long, EventItem> events;
    std::map<long, EventEntry> entries;
    std::map<long, VideoItem> videos;
    long nextNewsId = 1, nextCommentId = 1, nextEventId = 1, nextEntryId = 1, nextVideoId = 1;
};

namespace {

std::optional<long> parseNumber(const std::optional<std::string>& s) {
    if (!s || s->empty() || s->size() > 18 || s->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stol(*s);
}

Reply invalidToken() {
    return Reply::failure(kResultInvalidToken, "登录已失效,请重新登录");
}

Reply badRequest(const std::string& what) {
    return Reply::failure(kResultBadRequest, what);
}

std::string nowText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

Reply listReply(const Array& rows) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject("data", rows);
    return Reply::success(fields);
}

// Walks a map newest first from below the cursor (0: from the newest), keeping at most a page of
// the entries the filter accepts.
template <class Map, class Filter, class Row>
Array page(const Map& map, long cursor, Filter accept, Row row) {
    Array rows = Array::mutableArray();
    auto it = cursor == 0 ? map.end() : map.lower_bound(cursor);
    while (it != map.begin() && static_cast<int>(rows.count()) < kInformationPageSize) {
        --it;
        if (accept(it->second)) rows.addObject(row(it->second));
    }
    return rows;
}

struct Context {
    DevServer& server;
    std::shared_ptr<InformationRoutes::State> state;
    RouteRegistry::Handler previousSearch;

    std::string address(const std::string& entry) const {
        if (!entry.empty() && entry[0] == '@') return server.pictureURL(entry.substr(1));
        if (entry.rfind("extra/", 0) == 0) return server.baseURL() + entry;
        return entry;
    }
    std::optional<Reply> viewerOf(const Request& request, const char* name, std::optional<long>& viewer,
                                  bool required) const {
        auto token = request.param(name);
        if (!token || token->empty()) {
            if (required) return invalidToken();
            return std::nullopt;
        }
        auto user = server.userForToken(*token);
        if (!user) return invalidToken();
        viewer = user->user_id;
        return std::nullopt;
    }
    // Callers hold the lock.
    long commentCount(long newsId) const {
        long count = 0;
        for (const auto& [id, comment] : state->comments)
            if (comment.news_id == newsId) ++count;
        return count;
    }
    Dictionary newsRow(const NewsItem& n) const {
        Dictionary row = Dictionary::mutableDictionary();
        row.setObject("news_top", n.news_top);
        row.setObject("news_view", n.news_view);
        row.setObject("news_comment", commentCount(n.news_id));
        row.setObject("news_pic", address(n.news_pic));
        row.setObject("car_brand", n.car_brand);
        row.setObject("news_title", n.news_title);
        row.setObject("news_time", n.news_time);
        row.setObject("news_status", 1);
        row.setObject("news_category", n.news_category);
        row.setObject("car_id", n.car_id);
        row.setObject("news_id", n.news_id);
        row.setObject("news_content", n.news_content);
        return row;
    }
    Dictionary commentRow(const NewsComment& c, std::optional<long> viewer) const {
        Dictionary row = Dictionary::mutableDictionary();
        auto user = server.user(c.uid);
        row.setObject("id", c.comment_id);
        row.setObject("replytime", c.replytime);
        row.setObject("user_logo", user ? user->user_logo : std::string());
        row.setObject("user_nickname", user ? user->user_nickname : std::string("匿名"));
        row.setObject("user_sign", user ? user->user_sign : std::string());
        row.setObject("content", c.content);
        row.setObject("reply", c.replies);
        row.setObject("like", static_cast<long>(c.likers.size()));
        row.setObject("uid", c.uid);
        row.setObject("news_status", 1);
        row.setObject("is_like", viewer && c.likers.count(*viewer) ? 1 : 0);
        return row;
    }
    // Callers hold the lock.
    long joinCount(long eventId) const {
        long count = 0;
        for (const auto& [id, entry] : state->entries)
            if (entry.event_id == eventId) ++count;
        return count;
    }
    bool hasJoined(long eventId, long uid) const {
        for (const auto& [id, entry] : state->entries)
            if (entry.event_id == eventId && entry.uid == uid) return true;
        return false;
    }
    Dictionary eventRow(const EventItem& e, std::optional<long> viewer) const {
        Dictionary row = Dictionary::mutableDictionary();
        long joined = joinCount(e.event_id);
        row.setObject("addtime", e.addtime);
        row.setObject("category", e.category);
        row.setObject("event_content", e.event_content);
        row.setObject("event_id", e.event_id);
        row.setObject("event_limit", std::max(0L, e.places - joined));
        row.setObject("event_pic", address(e.event_pic));
        row.setObject("event_summary", e.event_summary);
        row.setObject("event_title", e.event_title);
        row.setObject("rest", joined);
        row.setObject("car_id", e.car_id);
        row.setObject("is_join", viewer && hasJoined(e.event_id, *viewer) ? 1 : 0);
        row.setObject("available", e.available ? 1 : 0);
        return row;
    }
    Dictionary entryRow(const EventEntry& p) const {
        Dictionary row = Dictionary::mutableDictionary();
        auto user = server.user(p.uid);
        row.setObject("production_id", p.production_id);
        row.setObject("event_id", p.event_id);
        row.setObject("pic_url", address(p.pic_url));
        row.setObject("pic_name", p.pic_name);
        row.setObject("user_nickname", user ? user->user_nickname : std::string("匿名"));
        row.setObject("uid", p.uid);
        row.setObject("vote", static_cast<long>(p.voters.size()));
        row.setObject("user_logo", user ? user->user_logo : std::string());
        row.setObject("user_sign", user ? user->user_sign : std::string());
        row.setObject("pro_detail", std::string());
        row.setObject("list_id", p.list_id);
        return row;
    }
    Dictionary videoRow(const VideoItem& v) const {
        Dictionary row = Dictionary::mutableDictionary();
        row.setObject("video_id", v.video_id);
        row.setObject("video_title", v.video_title);
        row.setObject("video_category", 0);
        row.setObject("video_time", v.video_time);
        row.setObject("video_pic", address(v.video_pic));
        row.setObject("video_status", 1);
        row.setObject("video_view", v.video_view);
        return row;
    }
};

bool contains(const std::string& text, const std::string& part) {
    return part.empty() || text.find(part) != std::string::npos;
}

std::string htmlPage(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
           "</title></head><body><h1>" + title + "</h1>" + body + "</body></html>";
}

}  // namespace

InformationRoutes::InformationRoutes(DevServer& server, bool withSamples)
    : server_(server), state_(std::make_shared<State>()) {
    if (!withSamples) return;
    static const unsigned palette[] = {0x3A7BD5, 0xD9534F, 0x5CB85C, 0xF0AD4E, 0x6F42C1, 0x20A39E};
    int pictureSeed = 0;
    auto picture = [&](int width, int height) {
        std::string id = "info-" + std::to_string(pictureSeed);
        server_.storePicture(detail::makeSamplePNG(width, height, palette[pictureSeed % 6]), id);
        ++pictureSeed;
        return "@" + id;
    };
    static const char* titles[] = {"宽体套件上身效果实拍", "轮毂升级的五个误区", "新款运动前唇发布",
                                   "改色膜保养指南",       "尾翼高度与下压力",   "碳纤维机盖选购",
                                   "避震降低后的调校",     "排气声浪合法吗",     "年检前要恢复什么",
                                   "侧裙安装全过程",       "冬季轮胎怎么选",     "大灯改装注意事项"};
    for (int i = 0; i < 24; ++i) {
        NewsItem item;
        item.news_category = i % 3 == 2 ? 2 : 1;
        item.car_brand = 1 + i % 2;
        item.car_id = 1 + i % 4;
        item.news_title = titles[i % 12];
        if (i >= 12) item.news_title += "（续）";
        item.news_pic = picture(160, 120);
        char when[32];
        std::snprintf(when, sizeof when, "2026-11-%02d 09:%02d:00", 1 + i, (i * 7) % 60);
        item.news_time = when;
        item.news_content = "<p>" + item.news_title + "。</p><p>改装要合法合规，动手之前先了解清楚。</p>";
        item.news_view = 100 + i * 13;
        addNews(item);
    }
    static const char* commentTexts[] = {"写得很详细，收藏了", "我也准备这么改", "求更多实车图",
                                         "价格大概多少？",     "支持一下",       "年检会有问题吗"};
    // The two newest car articles: the first with more comments than a page holds.
    std::vector<long> carNews;
    for (auto it = state_->news.rbegin(); it != state_->news.rend() && carNews.size() < 2; ++it)
        if (it->second.news_category == 1) carNews.push_back(it->first);
    long newest = carNews[0], second = carNews[1];
    for (int c = 0; c < 13; ++c) {
        NewsComment comment;
        comment.news_id = c < 12 ? newest : second;
        comment.uid = 1 + c % 3;
        comment.content = commentTexts[c % 6];
        char when[32];
        std::snprintf(when, sizeof when, "2026-11-25 1%d:%02d:00", c % 10, (c * 5) % 60);
        comment.replytime = when;
        if (c % 4 == 0) comment.likers = {2, 3};
        addComment(comment);
    }
    state_->ads = {
        {1, "冬季改装节", picture(375, 160), "extra/ad1.html"},
        {2, "轮毂团购", picture(375, 160), "extra/ad2.html"},
        {3, "新品前唇", picture(375, 160), "extra/ad3.html"},
    };
    EventItem photo;
    photo.category = 0;
    photo.event_title = "晒出你的爱车";
    photo.event_summary = "上传一张爱车照片，得票最多的三位获得改装礼包。";
    photo.event_content = "<p>活动期间上传爱车照片并填写标题即可参与。</p><p>每人每张作品只能投一票。</p>";
    photo.event_pic = picture(320, 160);
    photo.addtime = "2026-11-20 10:00:00";
    photo.places = 50;
    long photoId = addEvent(photo);
    EventItem tuning;
    tuning.category = 1;
    tuning.event_title = "改装方案大赛";
    tuning.event_summary = "在改装工作室里做一套方案并保存参赛。";
    tuning.event_content = "<p>用改装工作室设计你的车，保存清单时选择参赛。</p>";
    tuning.event_pic = picture(320, 160);
    tuning.addtime = "2026-11-22 10:00:00";
    tuning.car_id = 1;
    long tuningId = addEvent(tuning);
    EventItem closed;
    closed.category = 0;
    closed.event_title = "夏日自驾征集";
    closed.event_summary = "活动已结束，感谢参与。";
    closed.event_content = "<p>活动已结束。</p>";
    closed.event_pic = picture(320, 160);
    closed.addtime = "2026-08-01 10:00:00";
    closed.available = false;
    addEvent(closed);
    static const int heights[] = {200, 260, 160, 300, 220};
    for (int i = 0; i < 14; ++i) {
        EventEntry entry;
        entry.event_id = photoId;
        entry.uid = 1 + i % 3;
        entry.pic_url = picture(200, heights[i % 5]);
        entry.pic_name = "我的爱车 " + std::to_string(i + 1);
        if (i % 3 == 0) entry.voters = {1 + (i % 2)};
        addEntry(entry);
    }
    for (int i = 0; i < 3; ++i) {
        EventEntry entry;
        entry.event_id = tuningId;
        entry.uid = 1 + i;
        entry.pic_url = picture(240, 180);
        entry.pic_name = "改装方案 " + std::to_string(i + 1);
        entry.list_id = 1000 + i;
        addEntry(entry);
    }
    for (int i = 0; i < 15; ++i) {
        VideoItem video;
        video.video_title = std::string(titles[i % 12]) + " 视频";
        char when[32];
        std::snprintf(when, sizeof when, "2026-11-%02d", 1 + i);
        video.video_time = when;
        video.video_pic = picture(160, 90);
        video.video_content = "本期视频讲解" + std::string(titles[i % 12]) + "。";
        video.video_link = "extra/video" + std::to_string(i + 1) + ".html";
        video.video_view = 10 + i * 3;
        addVideo(video);
    }
}

std::vector<NewsItem> InformationRoutes::news() const {
    std::lock_guard lock(state_->mutex);
    std::vector<NewsItem> out;
    for (auto it = state_->news.rbegin(); it != state_->news.rend(); ++it) out.push_back(it->second);
    return out;
}

std::vector<NewsComment> InformationRoutes::comments(long newsId) const {
    std::lock_guard lock(state_->mutex);
    std::vector<NewsComment> out;
    for (auto it = state_->comments.rbegin(); it != state_->comments.rend(); ++it)
        if (it->second.news_id == newsId) out.push_back(it->second);
    return out;
}

std::vector<EventEntry> InformationRoutes::entries(long eventId) const {
    std::lock_guard lock(state_->mutex);
    std::vector<EventEntry> out;
    for (auto it = state_->entries.rbegin(); it != state_->entries.rend(); ++it)
        if (it->second.event_id == eventId) out.push_back(it->second);
    return out;
}

std::vector<EventItem> InformationRoutes::events() const {
    std::lock_guard lock(state_->mutex);
    std::vector<EventItem> out;
    for (auto it = state_->events.rbegin(); it != state_->events.rend(); ++it) out.push_back(it->second);
    return out;
}

long InformationRoutes::addNews(NewsItem item) {
    std::lock_guard lock(state_->mutex);
    item.news_id = state_->nextNewsId++;
    state_->news[item.news_id] = item;
    return item.news_id;
}

long InformationRoutes::addComment(NewsComment comment) {
    std::lock_guard lock(state_->mutex);
    comment.comment_id = state_->nextCommentId++;
    state_->comments[comment.comment_id] = comment;
    return comment.comment_id;
}

long InformationRoutes::addEvent(EventItem event) {
    std::lock_guard lock(state_->mutex);
    event.event_id = state_->nextEventId++;
    state_->events[event.event_id] = event;
    return event.event_id;
}

long InformationRoutes::addEntry(EventEntry entry) {
    std::lock_guard lock(state_->mutex);
    entry.production_id = state_->nextEntryId++;
    state_->entries[entry.production_id] = entry;
    return entry.production_id;
}

long InformationRoutes::addVideo(VideoItem video) {
    std::lock_guard lock(state_->mutex);
    video.video_id = state_->nextVideoId++;
    state_->videos[video.video_id] = video;
    return video.video_id;
}

void InformationRoutes::setAdvertisements(std::vector<Advertisement> ads) {
    std::lock_guard lock(state_->mutex);
    state_->ads = std::move(ads);
}

void InformationRoutes::install(RouteRegistry& registry, const std::shared_ptr<InformationRoutes>& routes) {
    auto context = std::make_shared<Context>(Context{routes->server_, routes->state_, nullptr});
    context->previousSearch = registry.find("GET", RouteRegistry::absolutePath("search/search.do"));

    registry.get("ad/get.do", [context](const Request&) {
        std::lock_guard lock(context->state->mutex);
        Array rows = Array::mutableArray();
        for (const Advertisement& ad : context->state->ads) {
            Dictionary row = Dictionary::mutableDictionary();
            row.setObject("ad_id", ad.ad_id);
            row.setObject("ad_name", ad.ad_name);
            row.setObject("ad_pic", context->address(ad.ad_pic));
            row.setObject("ad_link", context->address(ad.ad_link));
            rows.addObject(row);
        }
        return listReply(rows);
    });

    registry.get("news/getnewslist.do", [context](const Request& request) {
        auto cursor = parseNumber(request.param("news_id").value_or("0"));
        auto category = parseNumber(request.param("news_category").value_or("1"));
        if (!cursor || !category) return badRequest("news_id 或 news_category 无效");
        std::optional<long> brand, car;
        if (auto raw = request.param("brand_id")) {
            brand = parseNumber(raw);
            if (!brand) return badRequest("brand_id 无效");
        }
        if (auto raw = request.param("car_id")) {
            car = parseNumber(raw);
            if (!car) return badRequest("car_id 无效");
        }
        std::string keyword = request.param("keyword").value_or("");
        std::lock_guard lock(context->state->mutex);
        return listReply(page(
            context->state->news, *cursor,
            [&](const NewsItem& n) {
                return n.news_category == *category && (!brand || n.car_brand == *brand) &&
                       (!car || n.car_id == *car) &&
                       (contains(n.news_title, keyword) || contains(n.news_content, keyword));
            },
            [&](const NewsItem& n) { return context->newsRow(n); }));
    });

    registry.get("news/getnewsbyid.do", [context](const Request& request) {
        auto id = parseNumber(request.param("news_id"));
        if (!id) return badRequest("news_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->news.find(*id);
        if (it == context->state->news.end()) return Reply::failure(kResultNotFound, "资讯不存在");
        ++it->second.news_view;
        return Reply::success(context->newsRow(it->second));
    });

    registry.get("news/getcomment.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "user_token", viewer, false)) return *refused;
        auto id = parseNumber(request.param("news_id"));
        auto cursor = parseNumber(request.param("comment_id").value_or("0"));
        if (!id || !cursor) return badRequest("news_id 或 comment_id 无效");
        std::lock_guard lock(context->state->mutex);
        Array rows = page(
            context->state->comments, *cursor, [&](const NewsComment& c) { return c.news_id == *id; },
            [&](const NewsComment& c) { return context->commentRow(c, viewer); });
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("reply", rows);
        return Reply::success(fields);
    });

    auto like = [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "token", viewer, true)) return *refused;
        auto id = parseNumber(request.param("comment_id"));
        if (!id) return badRequest("comment_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->comments.find(*id);
        if (it == context->state->comments.end()) return Reply::failure(kResultNotFound, "评论不存在");
        auto& likers = it->second.likers;
        bool liked = !likers.erase(*viewer);
        if (liked) likers.insert(*viewer);
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("like", static_cast<long>(likers.size()));
        fields.setObject("is_like", liked ? 1 : 0);
        return Reply::success(fields);
    };
    registry.get("news/like.do", like);
    registry.post("news/like.do", like);

    registry.post("news/reply.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "token", viewer, true)) return *refused;
        auto id = parseNumber(request.param("news_id"));
        auto target = parseNumber(request.param("comment_id").value_or("0"));
        if (!id || !target) return badRequest("news_id 或 comment_id 无效");
        std::string content = request.param("content").value_or("");
        if (content.empty()) return badRequest("内容不能为空");
        std::lock_guard lock(context->state->mutex);
        auto& state = *context->state;
        if (!state.news.count(*id)) return Reply::failure(kResultNotFound, "资讯不存在");
        if (*target != 0) {
            auto it = state.comments.find(*target);
            if (it == state.comments.end() || it->second.news_id != *id)
                return Reply::failure(kResultNotFound, "评论不存在");
            ++it->second.replies;
        }
        NewsComment comment;
        comment.comment_id = state.nextCommentId++;
        comment.news_id = *id;
        comment.uid = *viewer;
        comment.target = *target;
        comment.content = content;
        comment.replytime = nowText();
        state.comments[comment.comment_id] = comment;
        return Reply::success(context->commentRow(comment, viewer));
    });

    registry.get("search/search.do", [context](const Request& request) {
        if (request.param("type") != std::string("1")) {
            if (context->previousSearch) return context->previousSearch(request);
            return badRequest("不支持的搜索类型");
        }
        auto pageNumber = parseNumber(request.param("page").value_or("0"));
        if (!pageNumber) return badRequest("page 无效");
        std::string keyword = request.param("keyword").value_or("");
        std::lock_guard lock(context->state->mutex);
        Array rows = Array::mutableArray();
        long skip = *pageNumber * kInformationPageSize;
        for (auto it = context->state->news.rbegin(); it != context->state->news.rend(); ++it) {
            const NewsItem& n = it->second;
            if (!contains(n.news_title, keyword) && !contains(n.news_content, keyword)) continue;
            if (skip > 0) {
                --skip;
                continue;
            }
            rows.addObject(context->newsRow(n));
            if (static_cast<int>(rows.count()) == kInformationPageSize) break;
        }
        return listReply(rows);
    });

    registry.get("event/geteventlist.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "user_token", viewer, false)) return *refused;
        auto cursor = parseNumber(request.param("event_id").value_or("0"));
        if (!cursor) return badRequest("event_id 无效");
        std::lock_guard lock(context->state->mutex);
        return listReply(page(
            context->state->events, *cursor, [](const EventItem&) { return true; },
            [&](const EventItem& e) { return context->eventRow(e, viewer); }));
    });

    registry.get("event/joinevent.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "user_token", viewer, true)) return *refused;
        auto id = parseNumber(request.param("event_id"));
        if (!id) return badRequest("event_id 无效");
        std::string name = request.param("pic_name").value_or("");
        std::string url = request.param("pic_url").value_or("");
        if (name.empty() || url.empty()) return badRequest("作品标题和图片不能为空");
        long listId = 0;
        if (auto raw = request.param("tuninglist_id")) {
            auto parsed = parseNumber(raw);
            if (!parsed) return badRequest("tuninglist_id 无效");
            listId = *parsed;
        }
        std::lock_guard lock(context->state->mutex);
        auto& state = *context->state;
        auto it = state.events.find(*id);
        if (it == state.events.end()) return Reply::failure(kResultNotFound, "活动不存在");
        if (!it->second.available) return badRequest("活动已结束");
        if (context->joinCount(*id) >= it->second.places) return badRequest("名额已满");
        EventEntry entry;
        entry.production_id = state.nextEntryId++;
        entry.event_id = *id;
        entry.uid = *viewer;
        entry.pic_url = url;
        entry.pic_name = name;
        entry.list_id = listId;
        state.entries[entry.production_id] = entry;
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("production_id", entry.production_id);
        return Reply::success(fields);
    });

    registry.get("event/getproductionlist.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "user_token", viewer, false)) return *refused;
        auto id = parseNumber(request.param("event_id"));
        auto cursor = parseNumber(request.param("production_id").value_or("0"));
        if (!id || !cursor) return badRequest("event_id 或 production_id 无效");
        std::lock_guard lock(context->state->mutex);
        if (!context->state->events.count(*id)) return Reply::failure(kResultNotFound, "活动不存在");
        return listReply(page(
            context->state->entries, *cursor, [&](const EventEntry& p) { return p.event_id == *id; },
            [&](const EventEntry& p) { return context->entryRow(p); }));
    });

    registry.get("event/vote.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, "user_token", viewer, true)) return *refused;
        auto id = parseNumber(request.param("production_id"));
        if (!id) return badRequest("production_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->entries.find(*id);
        if (it == context->state->entries.end()) return Reply::failure(kResultNotFound, "作品不存在");
        if (!it->second.voters.insert(*viewer).second) return Reply::failure(kResultAlreadyVoted, "您已投票");
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("vote", static_cast<long>(it->second.voters.size()));
        return Reply::success(fields);
    });

    registry.get("video/getvideolist.do", [context](const Request& request) {
        auto cursor = parseNumber(request.param("video_id").value_or("0"));
        if (!cursor) return badRequest("video_id 无效");
        std::lock_guard lock(context->state->mutex);
        return listReply(page(
            context->state->videos, *cursor, [](const VideoItem&) { return true; },
            [&](const VideoItem& v) { return context->videoRow(v); }));
    });

    registry.get("video/getvideobyid.do", [context](const Request& request) {
        auto id = parseNumber(request.param("video_id"));
        if (!id) return badRequest("video_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->videos.find(*id);
        if (it == context->state->videos.end()) return Reply::failure(kResultNotFound, "视频不存在");
        ++it->second.video_view;
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("video_link", context->address(it->second.video_link));
        fields.setObject("video_content", it->second.video_content);
        fields.setObject("video_view", it->second.video_view);
        return Reply::success(fields);
    });

    registry.addStatic("/extra/", [](const std::string& name) -> std::optional<StaticFile> {
        if (name == "art1.html")
            return StaticFile{htmlPage("参与改装", "<p>选择一个活动，上传作品，为喜欢的作品投票。</p>"),
                              "text/html; charset=utf-8",
                              {}};
        if ((name.rfind("ad", 0) == 0 || name.rfind("video", 0) == 0) && name.size() > 5 &&
            name.substr(name.size() - 5) == ".html" && name.find('/') == std::string::npos)
            return StaticFile{htmlPage(name.substr(0, name.size() - 5), "<p>" + name + "</p>"),
                              "text/html; charset=utf-8",
                              {}};
        return std::nullopt;
    });
}

std::shared_ptr<InformationRoutes> addInformationRoutes(DevServer& server, bool withSamples) {
    auto routes = std::make_shared<InformationRoutes>(server, withSamples);
    server.addRoutes([&routes](RouteRegistry& registry) { InformationRoutes::install(registry, routes); });
    return routes;
}

}  // namespace devserver
