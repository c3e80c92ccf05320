// The inbox, private mail, friends and feedback.
//
// A user's inbox has three categories: 1 private mail, shown as one row per correspondent (the
// newest mail from that sender; unread while any mail from them is unread), 2 replies in the Q&A
// forum and 3 system notices. Rows come newest first, ten to a page; the next page holds the rows
// whose id is below the cursor the client sends (the id of the last row it holds, 0 for the first
// page). Mails and notices share one id sequence, so a cursor means the same in every category.
//
// Every route needs a valid token ("token"); an unknown one answers 10003.

#include <algorithm>

#include "tools/devserver/DevServerState.h"

namespace devserver::detail {

namespace {

constexpr std::size_t kPageSize = 10;

std::optional<long> parseId(const std::optional<std::string>& s) {
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

Reply dataReply(Array rows) {
    Dictionary fields = Dictionary::mutableDictionary();
    fields.setObject("data", std::move(rows));
    return Reply::success(fields);
}

SampleUser* signedIn(State& state, const Request& request) {
    auto token = request.param("token");
    return token ? state.userForToken(*token) : nullptr;
}

struct Row {
    long message_id = 0;
    Dictionary fields;
};

Dictionary messageFields(State& state, long messageId, int category, long senderId,
                         const std::string& content, const std::string& time, long questionId, bool read) {
    Dictionary d = Dictionary::mutableDictionary();
    SampleUser* sender = senderId ? state.findUser(senderId) : nullptr;
    d.setObject("sender_nickname", sender ? sender->user_nickname : std::string("系统通知"));
    d.setObject("message_content", content);
    d.setObject("message_category", category);
    d.setObject("message_id", messageId);
    // System notices have no avatar; the client then shows none.
    if (sender) d.setObject("sender_logo", sender->user_logo);
    d.setObject("message_time", time);
    d.setObject("sender_uid", senderId);
    d.setObject("question_id", questionId);
    d.setObject("message_read", read ? 1 : 0);
    return d;
}

std::vector<Row> inboxRows(State& state, long uid, int category) {
    std::vector<Row> rows;
    if (category == 1) {
        // One row per correspondent: the newest mail, unread while any of theirs is.
        std::map<long, const Mail*> newest;
        std::map<long, bool> unread;
        for (const auto& mail : state.mails) {
            if (mail.receiver_uid != uid || mail.clearedFromInbox) continue;
            const Mail*& slot = newest[mail.sender_uid];
            if (!slot || mail.message_id > slot->message_id) slot = &mail;
            if (!mail.read) unread[mail.sender_uid] = true;
        }
        for (const auto& [sender, mail] : newest) {
            rows.push_back({mail->message_id, messageFields(state, mail->message_id, 1, sender, mail->content,
                                                            mail->time, 0, !unread[sender])});
        }
    } else {
        for (const auto& notice : state.notices) {
            if (notice.uid != uid || notice.category != category) continue;
            rows.push_back({notice.message_id,
                            messageFields(state, notice.message_id, category, notice.sender_uid,
                                          notice.content, notice.time, notice.question_id, notice.read)});
        }
    }
    std::sort(rows.begin(), rows.end(),
              [](const Row& a, const Row& b) { return a.message_id > b.message_id; });
    return rows;
}

Dictionary friendFields(const SampleUser& user, bool isFriend) {
    Dictionary row = Dictionary::mutableDictionary();
    row.setObject("user_nickname", user.user_nickname);
    row.setObject("user_id", user.user_id);
    row.setObject("user_logo", user.user_logo);
    row.setObject("isFriend", isFriend ? 1 : 0);
    return row;
}

}  // namespace

void addInboxRoutes(RouteRegistry& registry, State& state) {
    registry.add("", "message/getmessage.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto category = parseId(request.param("category"));
        if (!category || *category < 1 || *category > 3) return badRequest("category 无效");
        auto cursor = parseId(request.param("message_id").value_or("0"));
        if (!cursor) return badRequest("message_id 无效");
        Array page = Array::mutableArray();
        for (const Row& row : inboxRows(state, user->user_id, static_cast<int>(*category))) {
            if (*cursor != 0 && row.message_id >= *cursor) continue;
            if (page.count() == kPageSize) break;
            page.addObject(row.fields);
        }
        return dataReply(page);
    });

    registry.add("", "message/delete.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto category = parseId(request.param("category"));
        if (!category || *category < 1 || *category > 3) return badRequest("category 无效");
        long uid = user->user_id;
        if (*category == 1) {
            // The threads stay; only their inbox rows go.
            for (auto& mail : state.mails)
                if (mail.receiver_uid == uid) mail.clearedFromInbox = true;
        } else {
            auto& notices = state.notices;
            notices.erase(
                std::remove_if(notices.begin(), notices.end(),
                               [&](const Notice& n) { return n.uid == uid && n.category == *category; }),
                notices.end());
        }
        return Reply::success();
    });

    registry.add("", "message/checkread.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        Dictionary fields = Dictionary::mutableDictionary();
        fields.setObject("unread", state.hasUnread(user->user_id) ? 1 : 0);
        return Reply::success(fields);
    });

    registry.add("", "message/updateread.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto category = parseId(request.param("category"));
        if (!category || *category < 1 || *category > 3) return badRequest("category 无效");
        long uid = user->user_id;
        if (*category == 1) {
            auto sender = parseId(request.param("sender_uid"));
            if (!sender) return badRequest("sender_uid 无效");
            for (auto& mail : state.mails)
                if (mail.receiver_uid == uid && mail.sender_uid == *sender) mail.read = true;
        } else {
            for (auto& notice : state.notices)
                if (notice.uid == uid && notice.category == *category) notice.read = true;
        }
        return Reply::success();
    });

    registry.add("", "message/getchatlist.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto other = parseId(request.param("friend_uid"));
        if (!other) return badRequest("friend_uid 无效");
        long uid = user->user_id;
        Array rows = Array::mutableArray();
        for (const auto& mail : state.mails) {  // stored oldest first
            bool between = (mail.sender_uid == uid && mail.receiver_uid == *other) ||
                           (mail.sender_uid == *other && mail.receiver_uid == uid);
            if (!between) continue;
            SampleUser* sender = state.findUser(mail.sender_uid);
            Dictionary row = Dictionary::mutableDictionary();
            row.setObject("sender_nickname", sender ? sender->user_nickname : std::string());
            row.setObject("sender_logo", sender ? sender->user_logo : std::string());
            row.setObject("message_time", mail.time);
            row.setObject("message_id", mail.message_id);
            row.setObject("message_content", mail.content);
            row.setObject("message_category", "1");
            rows.addObject(row);
        }
        return dataReply(rows);
    });

    registry.add("", "message/sendmail.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto receiver = parseId(request.param("receiver_uid"));
        if (!receiver) return badRequest("receiver_uid 无效");
        if (!state.findUser(*receiver)) return Reply::failure(kResultNotFound, "用户不存在");
        auto content = request.param("content");
        if (!content || content->empty()) return badRequest("内容不能为空");
        state.addMail(user->user_id, *receiver, *content);
        return Reply::success();
    });

    registry.add("", "friend/getfriendlist.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        Array rows = Array::mutableArray();
        for (const auto& [owner, other] : state.friends) {
            if (owner != user->user_id) continue;
            if (SampleUser* friendUser = state.findUser(other))
                rows.addObject(friendFields(*friendUser, true));
        }
        return dataReply(rows);
    });

    registry.add("", "friend/add.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto other = parseId(request.param("friend_uid"));
        if (!other) return badRequest("friend_uid 无效");
        if (*other == user->user_id) return badRequest("不能添加自己为好友");
        if (!state.findUser(*other)) return Reply::failure(kResultNotFound, "用户不存在");
        state.friends.insert({user->user_id, *other});
        state.friends.insert({*other, user->user_id});
        return Reply::success();
    });

    registry.add("", "friend/delete.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto other = parseId(request.param("friend_uid"));
        if (!other) return badRequest("friend_uid 无效");
        if (!state.friends.count({user->user_id, *other})) return Reply::failure(kResultNotFound, "不是好友");
        state.friends.erase({user->user_id, *other});
        state.friends.erase({*other, user->user_id});
        return Reply::success();
    });

    registry.add("", "feedback/add.do", [&state](const Request& request) {
        std::lock_guard lock(state.mutex);
        SampleUser* user = signedIn(state, request);
        if (!user) return invalidToken();
        auto content = request.param("content");
        if (!content) return badRequest("缺少参数 content");
        state.feedback.push_back({user->user_id, *content});
        return Reply::success();
    });
}

}  // namespace devserver::detail
