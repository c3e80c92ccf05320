// The Q&A forum's endpoints and their state.

#include "tools/devserver/ForumRoutes.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "tools/devserver/DevServerState.h"

namespace devserver {

struct ForumRoutes::State {
    mutable std::mutex mutex;  // guards everything below
    std::map<long, ForumQuestion> questions;
    std::map<long, ForumAnswer> answers;
    long nextQuestionId = 1;
    long nextAnswerId = 1;
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

// A sample photo: a sky-to-ground gradient with a sun, so that thumbnails and crops are told apart.
std::string drawSamplePhoto(int width, int height, unsigned rgb, int seed) {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
    const double r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    const double cx = width * (0.25 + 0.5 * ((seed * 37) % 100) / 100.0), cy = height * 0.3;
    const double radius = std::min(width, height) * 0.15;
    for (int y = 0; y < height; ++y) {
        double t = static_cast<double>(y) / std::max(1, height - 1);
        bool ground = y > height * 0.65;
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            double shade = ground ? 0.45 : 1.0 - 0.35 * t;
            double dx = x - cx, dy = y - cy;
            bool sun = !ground && dx * dx + dy * dy < radius * radius;
            p[0] = sun ? 250 : static_cast<unsigned char>(std::min(255.0, r * shade));
            p[1] = sun ? 220 : static_cast<unsigned char>(std::min(255.0, g * shade));
            p[2] = sun ? 90 : static_cast<unsigned char>(std::min(255.0, b * shade));
            p[3] = 0xFF;
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr)) return "";
    std::string out(size, '\0');
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) return "";
    out.resize(size);
    return out;
}

std::vector<std::string> splitList(const std::string& joined) {
    std::vector<std::string> parts;
    if (joined.empty()) return parts;
    std::size_t start = 0;
    while (true) {
        std::size_t end = joined.find(';', start);
        std::string part = joined.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) parts.push_back(part);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string nowText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &local);
    return buffer;
}

bool matches(const ForumQuestion& question, const std::string& keyword) {
    return keyword.empty() || question.question_title.find(keyword) != std::string::npos ||
           question.question_txt.find(keyword) != std::string::npos;
}

}  // namespace

// ---- the routes' view of the server ----------------------------------------------------------------

namespace {

struct Context {
    DevServer& server;
    std::shared_ptr<ForumRoutes::State> state;

    std::string pictureAddress(const std::string& entry) const {
        return !entry.empty() && entry[0] == '@' ? server.pictureURL(entry.substr(1)) : entry;
    }
    // A page's sources written "@<picture id>" (the samples' own pictures) become their address.
    std::string resolvedPage(const std::string& html) const {
        static const std::string marker = "src=\"@";
        std::string out;
        std::size_t pos = 0;
        while (true) {
            std::size_t at = html.find(marker, pos);
            std::size_t end = at == std::string::npos ? at : html.find('"', at + marker.size());
            if (end == std::string::npos) break;
            const std::size_t entry = at + marker.size() - 1;
            out += html.substr(pos, at - pos) + "src=\"" + pictureAddress(html.substr(entry, end - entry)) +
                   "\"";
            pos = end + 1;
        }
        return out + html.substr(pos);
    }
    std::string joined(const std::vector<std::string>& pictures) const {
        std::string out;
        for (const auto& picture : pictures) {
            if (!out.empty()) out += ";";
            out += pictureAddress(picture);
        }
        return out;
    }
    void setUserFields(Dictionary& row, long uid, bool withSign) const {
        auto user = server.user(uid);
        row.setObject("uid", uid);
        row.setObject("user_nickname", user ? user->user_nickname : std::string("匿名"));
        row.setObject("user_logo", user ? user->user_logo : std::string());
        if (withSign) row.setObject("user_sign", user ? user->user_sign : std::string());
    }
    // Callers hold the lock.
    long answerCount(long questionId) const {
        long count = 0;
        for (const auto& [id, answer] : state->answers)
            if (answer.question_id == questionId) ++count;
        return count;
    }
    Dictionary questionRow(const ForumQuestion& q, std::optional<long> viewer, bool detail) const {
        Dictionary row = Dictionary::mutableDictionary();
        row.setObject("question_pic", joined(q.pictures));
        row.setObject("question_id", q.question_id);
        row.setObject("question_txt", q.question_txt);
        row.setObject("question_title", q.question_title);
        setUserFields(row, q.uid, detail);
        row.setObject("addtime", q.addtime);
        row.setObject("like", static_cast<long>(q.likers.size()));
        row.setObject("reply", answerCount(q.question_id));
        row.setObject("is_like", viewer && q.likers.count(*viewer) ? 1 : 0);
        if (detail) row.setObject("question_content", resolvedPage(q.question_content));
        return row;
    }
    Dictionary answerRow(const ForumAnswer& a, std::optional<long> viewer) const {
        Dictionary row = Dictionary::mutableDictionary();
        row.setObject("replytime", a.replytime);
        auto user = server.user(a.uid);
        row.setObject("user_logo", user ? user->user_logo : std::string());
        row.setObject("pic_url", joined(a.pictures));
        row.setObject("user_nickname", user ? user->user_nickname : std::string("匿名"));
        row.setObject("like", static_cast<long>(a.likers.size()));
        row.setObject("reply", a.replies);
        row.setObject("uid", a.uid);
        row.setObject("comment_id", a.comment_id);
        row.setObject("question_id", a.question_id);
        row.setObject("re_content", a.re_content);
        row.setObject("is_like", viewer && a.likers.count(*viewer) ? 1 : 0);
        return row;
    }
    // The viewer of a request: nullopt signed out; an error reply for a bad token.
    std::optional<Reply> viewerOf(const Request& request, std::optional<long>& viewer, bool required) const {
        auto token = request.param("user_token");
        if (!token || token->empty()) {
            if (required) return invalidToken();
            return std::nullopt;
        }
        auto user = server.userForToken(*token);
        if (!user) return invalidToken();
        viewer = user->user_id;
        return std::nullopt;
    }
};

Reply listReply(const Array& rows) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject("data", rows);
    return Reply::success(fields);
}

}  // namespace

ForumRoutes::ForumRoutes(DevServer& server, bool withSamples)
    : server_(server), state_(std::make_shared<State>()) {
    if (!withSamples) return;
    struct Sample {
        long uid, brand;
        const char* title;
        const char* text;
        int pictures;
        int answers;
    };
    static const Sample samples[] = {
        {2, 1, "原厂轮毂换18寸会影响油耗吗？", "想把原厂17寸换成18寸，胎宽加一点，日常通勤为主。", 2, 1},
        {3, 2, "前唇选碳纤维还是ABS？", "预算有限，主要看颜值和耐用。", 1, 2},
        {1, 1, "尾翼高度怎么选", "低趴车装高尾翼会不会很怪？", 0, 0},
        {2, 2, "侧裙安装需要打孔吗", "看到有卡扣款和螺丝款，哪种更好？", 3, 1},
        {3, 1, "改色膜能保持几年", "哑光灰，车停露天。", 0, 3},
        {1, 2, "避震降低3厘米过减速带会刮底吗", "城市路况，减速带很多。", 1, 0},
        {2, 1, "机盖换轻量化的有必要吗", "主要为了散热和外观。", 2, 2},
        {3, 2, "后包围和扩散器一起改的效果", "想要更运动的尾部。", 5, 1},
        {1, 1, "原厂卡钳喷漆会影响散热吗", "红色卡钳真好看。", 0, 0},
        {2, 2, "叶子板加宽要改轮眉吗", "准备上宽体。", 1, 4},
        {3, 1, "大灯熏黑年检能过吗", "贴了一层淡黑膜。", 0, 1},
        {1, 2, "排气改装声音太大会被查吗", "阀门排气，开阀很响。", 2, 0},
        {2, 1, "新手第一步改什么最划算", "预算一万以内。", 0, 2},
        {3, 2, "轮毂ET值差5会顶叶子板吗", "原厂ET45，新轮ET40。", 1, 1},
        {1, 1, "车顶行李架和尾翼冲突吗", "周末要露营。", 0, 0},
        {2, 2, "改装件在哪里买靠谱", "怕买到假货。", 0, 3},
        {3, 1, "拉花贴纸怎么去胶", "旧贴纸撕不干净。", 2, 1},
        {1, 2, "前杠开孔加装雾灯", "想要黄色雾灯。", 1, 0},
        {2, 1, "刹车升级四活塞够用吗", "偶尔跑跑山。", 0, 2},
        {3, 2, "改装后保险还能理赔吗", "外观件改了不少。", 0, 1},
        {1, 1, "冬天胎和轮毂一起换", "北方冬天很冷，想备一套。", 3, 0},
        {2, 2, "内饰碳纤维贴膜", "中控和门板想换风格。", 1, 2},
        {3, 1, "改装前后对比照分享", "花了三个月，终于完工。", 3, 4},
        {1, 2, "这套前杠和侧裙配什么颜色的轮毂", "车身是白色，已经装好前杠和侧裙，轮毂还没定。", 3, 13},
    };
    static const unsigned palette[] = {0x3A7BD5, 0xD9534F, 0x5CB85C, 0xF0AD4E, 0x6F42C1, 0x20A39E};
    static const int sizes[][2] = {{600, 300}, {400, 400}, {300, 400}, {640, 360}, {200, 100}};
    static const char* answerTexts[] = {"我换过，油耗基本没变化。",   "建议先看看实车效果。",
                                        "碳纤维更轻，但价格贵不少。", "可以参考一下我的车。",
                                        "找正规改装店做比较放心。",   "年检前最好问问当地车管所。"};
    // The same pictures for every server of the process: drawing them is the slow part.
    static std::mutex drawnLock;
    static std::map<int, std::string> drawn;
    int pictureSeed = 0;
    auto drawPictures = [&](int count) {
        std::vector<std::string> pictures;
        for (int i = 0; i < count; ++i, ++pictureSeed) {
            const int* size = sizes[pictureSeed % 5];
            std::string id = "forum-" + std::to_string(pictureSeed);
            std::string bytes;
            {
                std::lock_guard lock(drawnLock);
                auto it = drawn.find(pictureSeed);
                if (it == drawn.end())
                    it = drawn
                             .emplace(pictureSeed, drawSamplePhoto(size[0], size[1], palette[pictureSeed % 6],
                                                                   pictureSeed))
                             .first;
                bytes = it->second;
            }
            server_.storePicture(bytes, id);
            pictures.push_back("@" + id);
        }
        return pictures;
    };
    int day = 1;
    for (const Sample& sample : samples) {
        ForumQuestion question;
        question.uid = sample.uid;
        question.cars_brand = sample.brand;
        question.question_title = sample.title;
        question.question_txt = sample.text;
        question.pictures = drawPictures(sample.pictures);
        // The page shows the pictures the list row shows, as a published question's does.
        question.question_content = std::string("<p>") + sample.text + "</p>";
        for (const std::string& picture : question.pictures)
            question.question_content += "<p><img src=\"" + picture + "\"></p>";
        char when[32];
        std::snprintf(when, sizeof when, "2026-11-%02d %02d:%02d", day, 8 + day % 12, (day * 7) % 60);
        question.addtime = when;
        if (day % 3 == 0) question.likers = {1, 2};
        long id = addQuestion(question);
        for (int a = 0; a < sample.answers; ++a) {
            ForumAnswer answer;
            answer.question_id = id;
            answer.uid = 1 + (a + day) % 3;
            answer.re_content = answerTexts[(a + day) % 6];
            if (a % 4 == 1) answer.pictures = drawPictures(1 + a % 3);
            std::snprintf(when, sizeof when, "2026-11-%02d %02d:%02d", day, 9 + a % 12, (a * 5) % 60);
            answer.replytime = when;
            if (a % 3 == 0) answer.likers = {3};
            addAnswer(answer);
        }
        ++day;
    }
}

std::vector<ForumQuestion> ForumRoutes::questions() const {
    std::lock_guard lock(state_->mutex);
    std::vector<ForumQuestion> out;
    for (auto it = state_->questions.rbegin(); it != state_->questions.rend(); ++it)
        out.push_back(it->second);
    return out;
}

std::optional<ForumQuestion> ForumRoutes::question(long questionId) const {
    std::lock_guard lock(state_->mutex);
    auto it = state_->questions.find(questionId);
    if (it == state_->questions.end()) return std::nullopt;
    return it->second;
}

std::vector<ForumAnswer> ForumRoutes::answers(long questionId) const {
    std::lock_guard lock(state_->mutex);
    std::vector<ForumAnswer> out;
    for (auto it = state_->answers.rbegin(); it != state_->answers.rend(); ++it)
        if (it->second.question_id == questionId) out.push_back(it->second);
    return out;
}

long ForumRoutes::addQuestion(ForumQuestion question) {
    std::lock_guard lock(state_->mutex);
    question.question_id = state_->nextQuestionId++;
    long id = question.question_id;
    state_->questions[id] = std::move(question);
    return id;
}

long ForumRoutes::addAnswer(ForumAnswer answer) {
    std::lock_guard lock(state_->mutex);
    answer.comment_id = state_->nextAnswerId++;
    long id = answer.comment_id;
    state_->answers[id] = std::move(answer);
    return id;
}

void ForumRoutes::install(RouteRegistry& registry, const std::shared_ptr<ForumRoutes>& routes) {
    auto context = std::make_shared<Context>(Context{routes->server_, routes->state_});

    registry.get("question/getquestionlist.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, false)) return *refused;
        auto cursor = parseNumber(request.param("question_id").value_or("0"));
        if (!cursor) return badRequest("question_id 无效");
        std::lock_guard lock(context->state->mutex);
        Array rows = Array::mutableArray();
        auto& questions = context->state->questions;
        auto it = *cursor == 0 ? questions.end() : questions.lower_bound(*cursor);
        while (it != questions.begin() && static_cast<int>(rows.count()) < kForumPageSize) {
            --it;
            rows.addObject(context->questionRow(it->second, viewer, false));
        }
        return listReply(rows);
    });

    registry.get("search/search.do", [context](const Request& request) {
        if (request.param("type") != std::string("4")) return badRequest("不支持的搜索类型");
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, false)) return *refused;
        auto page = parseNumber(request.param("page").value_or("0"));
        auto brand = parseNumber(request.param("cars_brand").value_or("0"));
        if (!page || !brand) return badRequest("page 或 cars_brand 无效");
        std::string keyword = request.param("keyword").value_or("");
        std::lock_guard lock(context->state->mutex);
        Array rows = Array::mutableArray();
        long skip = *page * kForumPageSize;
        for (auto it = context->state->questions.rbegin(); it != context->state->questions.rend(); ++it) {
            const ForumQuestion& question = it->second;
            if ((*brand != 0 && question.cars_brand != *brand) || !matches(question, keyword)) continue;
            if (skip > 0) {
                --skip;
                continue;
            }
            rows.addObject(context->questionRow(question, viewer, false));
            if (static_cast<int>(rows.count()) == kForumPageSize) break;
        }
        return listReply(rows);
    });

    auto likeQuestion = [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, true)) return *refused;
        auto id = parseNumber(request.param("question_id"));
        if (!id) return badRequest("question_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->questions.find(*id);
        if (it == context->state->questions.end()) return Reply::failure(kResultNotFound, "问题不存在");
        auto& likers = it->second.likers;
        bool liked = !likers.erase(*viewer);
        if (liked) likers.insert(*viewer);
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("like", static_cast<long>(likers.size()));
        fields.setObject("is_like", liked ? 1 : 0);
        return Reply::success(fields);
    };
    registry.get("question/questionlike.do", likeQuestion);
    registry.post("question/questionlike.do", likeQuestion);

    registry.get("question/getquestion.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, false)) return *refused;
        auto id = parseNumber(request.param("question_id"));
        if (!id) return badRequest("question_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->questions.find(*id);
        if (it == context->state->questions.end()) return Reply::failure(kResultNotFound, "问题不存在");
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("question", context->questionRow(it->second, viewer, true));
        return Reply::success(fields);
    });

    registry.get("question/getquestioncomment.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, false)) return *refused;
        auto id = parseNumber(request.param("question_id"));
        auto cursor = parseNumber(request.param("comment_id").value_or("0"));
        if (!id || !cursor) return badRequest("question_id 或 comment_id 无效");
        std::lock_guard lock(context->state->mutex);
        if (!context->state->questions.count(*id)) return Reply::failure(kResultNotFound, "问题不存在");
        Array rows = Array::mutableArray();
        auto& answers = context->state->answers;
        auto it = *cursor == 0 ? answers.end() : answers.lower_bound(*cursor);
        while (it != answers.begin() && static_cast<int>(rows.count()) < kForumPageSize) {
            --it;
            if (it->second.question_id == *id) rows.addObject(context->answerRow(it->second, viewer));
        }
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("reply", rows);
        return Reply::success(fields);
    });

    auto likeAnswer = [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, true)) return *refused;
        auto id = parseNumber(request.param("comment_id"));
        if (!id) return badRequest("comment_id 无效");
        std::lock_guard lock(context->state->mutex);
        auto it = context->state->answers.find(*id);
        if (it == context->state->answers.end()) return Reply::failure(kResultNotFound, "回答不存在");
        auto& likers = it->second.likers;
        bool liked = !likers.erase(*viewer);
        if (liked) likers.insert(*viewer);
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("like", static_cast<long>(likers.size()));
        fields.setObject("is_like", liked ? 1 : 0);
        return Reply::success(fields);
    };
    registry.get("question/commentlike.do", likeAnswer);
    registry.post("question/commentlike.do", likeAnswer);

    registry.get("question/addcomment.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, true)) return *refused;
        auto id = parseNumber(request.param("question_id"));
        if (!id) return badRequest("question_id 无效");
        std::string text = request.param("re_content").value_or("");
        std::vector<std::string> pictures = splitList(request.param("pic_url").value_or(""));
        if (text.empty() && pictures.empty()) return badRequest("内容不能为空");
        std::optional<long> target;
        if (auto raw = request.param("comment_id")) {
            target = parseNumber(raw);
            if (!target) return badRequest("comment_id 无效");
        }
        std::lock_guard lock(context->state->mutex);
        auto& state = *context->state;
        if (!state.questions.count(*id)) return Reply::failure(kResultNotFound, "问题不存在");
        if (target) {
            auto it = state.answers.find(*target);
            if (it == state.answers.end() || it->second.question_id != *id)
                return Reply::failure(kResultNotFound, "回答不存在");
            ++it->second.replies;
        }
        ForumAnswer answer;
        answer.comment_id = state.nextAnswerId++;
        answer.question_id = *id;
        answer.uid = *viewer;
        answer.re_content = text;
        answer.pictures = pictures;
        answer.replytime = nowText();
        state.answers[answer.comment_id] = answer;
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("comment_id", answer.comment_id);
        return Reply::success(fields);
    });

    registry.post("question/addquestion.do", [context](const Request& request) {
        std::optional<long> viewer;
        if (auto refused = context->viewerOf(request, viewer, true)) return *refused;
        std::string title = request.param("question_title").value_or("");
        std::string text = request.param("question_txt").value_or("");
        auto brand = parseNumber(request.param("cars_brand"));
        if (title.empty() || text.empty()) return badRequest("问题或正文不能为空");
        if (!brand || *brand == 0) return badRequest("请选择品牌");
        ForumQuestion question;
        question.uid = *viewer;
        question.cars_brand = *brand;
        question.question_title = title;
        question.question_txt = text;
        question.question_content = request.param("question_content").value_or(text);
        question.pictures = splitList(request.param("question_pic").value_or(""));
        question.addtime = nowText();
        std::lock_guard lock(context->state->mutex);
        question.question_id = context->state->nextQuestionId++;
        long id = question.question_id;
        context->state->questions[id] = std::move(question);
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("question_id", id);
        return Reply::success(fields);
    });
}

std::shared_ptr<ForumRoutes> addForumRoutes(DevServer& server, bool withSamples) {
    auto routes = std::make_shared<ForumRoutes>(server, withSamples);
    server.addRoutes([&routes](RouteRegistry& registry) { ForumRoutes::install(registry, routes); });
    return routes;
}

}  // namespace devserver
