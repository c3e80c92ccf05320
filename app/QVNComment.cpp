#include "app/QVNComment.h"

#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"

namespace {

std::optional<std::string> textOf(const Value& value) {
    if (const std::string* text = value.string()) return *text;
    // Ids and counts sometimes come as numbers; the record keeps them as text.
    if (const NSNumber* number = value.number()) return std::to_string(number->longLongValue());
    return std::nullopt;
}

std::optional<NSNumber> numberOf(const Value& value) {
    if (const NSNumber* number = value.number()) return *number;
    return std::nullopt;
}

}  // namespace

RM_PROPERTIES(QVNComment, RM_PROPERTY(identifier), RM_PROPERTY(content), RM_PROPERTY(uid),
              RM_PROPERTY(user_nickname), RM_PROPERTY(user_logo), RM_PROPERTY(user_sign),
              RM_PROPERTY(replytime), RM_PROPERTY(news_status), RM_PROPERTY(reply), RM_PROPERTY(like))

QVNComment::QVNComment(const Value& attributes) {
    identifier = textOf(attributes["id"]);
    content = textOf(attributes["content"]);
    uid = textOf(attributes["uid"]);
    user_nickname = textOf(attributes["user_nickname"]);
    user_logo = textOf(attributes["user_logo"]);
    user_sign = textOf(attributes["user_sign"]);
    replytime = textOf(attributes["replytime"]);
    news_status = numberOf(attributes["news_status"]);
    reply = numberOf(attributes["reply"]);
    like = numberOf(attributes["like"]);
}

Ref<HKHTTPRequestOperation> QVNComment::likeComment(bool, LikeBlock block) {
    Dictionary params = Dictionary::mutableDictionary();
    if (auto token = QVNUserManager::shareObject()->currentUserToken())
        params.setObject(QVNTokenParameterName, *token);
    if (identifier) params.setObject("comment_id", *identifier);
    return QVNAPIClient::sharedClient()->GET(
        "news/like.do", Value(params),
        [block](const Ref<HKHTTPRequestOperation>&, const Value& reply) {
            if (!block) return;
            const NSNumber* code = reply["resultCode"].number();
            if (code && code->longLongValue() == 0 && !reply["resultCode"].isString()) {
                block(nullptr);
                return;
            }
            Dictionary info = Dictionary::mutableDictionary();
            if (const std::string* message = reply["errmsg"].string())
                info.setObject(QVNAPIErrorMessageKey, *message);
            block(NSError::errorWithDomain(QVNAPIErrorDomain, QVNResultCodeTransportFailure, info));
        },
        [block](const Ref<HKHTTPRequestOperation>&, const Ref<NSError>& error) {
            if (block) block(error);
        });
}
