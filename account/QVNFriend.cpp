#include "account/QVNFriend.h"

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"

RM_PROPERTIES(QVNFriend, RM_PROPERTY(user_nickname), RM_PROPERTY(user_id), RM_PROPERTY(user_logo),
              RM_PROPERTY(isFriend))

namespace {

Dictionary parameters(std::initializer_list<std::pair<const char*, Value>> entries) {
    Dictionary params = Dictionary::mutableDictionary();
    for (const auto& [name, value] : entries)
        if (value.isSomething()) params.setObject(name, value);
    return params;
}

Value token() {
    return Value(QVNUserManager::shareObject()->currentUserToken());
}

Value number(const std::optional<NSNumber>& value) {
    return value ? Value(*value) : Value();
}

std::optional<Array> friendsIn(const Value& reply) {
    Value rows = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNFriend>(reply["data"]);
    if (!rows.array())
        return reply["data"].isArray() ? std::optional<Array>(Array::mutableArray()) : std::nullopt;
    return rows.array()->mutableCopy();
}

void list(bool post, const std::string& path, const Dictionary& params,
          QVNFriend::ListCompletion completion) {
    auto success = [completion](const Value& reply, const Ref<NSError>& error) {
        if (!completion) return;
        if (error) return completion(std::nullopt, error);
        auto rows = friendsIn(reply);
        if (!rows)
            return completion(std::nullopt,
                              QVNAPIEnvelope::errorWithCode(QVNResultCodeTransportFailure, Dictionary()));
        completion(rows, nullptr);
    };
    auto failure = [completion](const Ref<NSError>& error) {
        if (completion) completion(std::nullopt, error);
    };
    if (post) {
        QVNAPIClient::postWithURL(path, Value(params), success, failure);
    } else {
        QVNAPIClient::getWithURL(path, Value(params), success, failure);
    }
}

void result(const std::string& path, const Dictionary& params, QVNFriend::ResultCompletion completion) {
    QVNAPIClient::getWithURL(
        path, Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (completion) completion(error ? Value() : reply, error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(Value(), error);
        });
}

}  // namespace

void QVNFriend::getFriends(ListCompletion completion) {
    list(true, "friend/getfriendlist.do", parameters({{"token", token()}}), std::move(completion));
}

void QVNFriend::addFriendWithId(const std::optional<NSNumber>& userId, ResultCompletion completion) {
    result("friend/add.do", parameters({{"token", token()}, {"friend_uid", number(userId)}}),
           std::move(completion));
}

void QVNFriend::deleteFriendWithId(const std::optional<NSNumber>& userId, ResultCompletion completion) {
    result("friend/delete.do", parameters({{"token", token()}, {"friend_uid", number(userId)}}),
           std::move(completion));
}

void QVNFriend::seachFriendsWithKeyWord(const std::string& keyword, ListCompletion completion) {
    list(false, "user/searchuser.do", parameters({{"user_token", token()}, {"keyword", keyword}}),
         std::move(completion));
}

void QVNFriend::seachFriendWithKeyword(const std::string& keyword, long page,
                                       const std::optional<NSNumber>& friendId, PageCompletion completion) {
    list(false, "search/search.do",
         parameters(
             {{"token", token()}, {"keyword", keyword}, {"page", page}, {"friend_uid", number(friendId)}}),
         [completion](const std::optional<Array>& users, const Ref<NSError>& error) {
             if (completion) completion(error ? std::nullopt : users);
         });
}
