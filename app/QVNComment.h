#pragma once
// QVNComment: an older comment record (a news comment) that the forum's comment fetch still maps
// rows into. Its "id" key arrives as `identifier`. The like call goes straight through the shared
// client's own GET (no envelope wrapper): a reply whose "resultCode" is the number 0 is success,
// any other reply an error in the "QVNAPI" domain with code 10000 and the server's text under
// "msg", a transport failure its own error. Main thread only.

#include <functional>
#include <optional>
#include <string>

#include "app/RMRecord.h"
#include "foundation/NSError.h"

class HKHTTPRequestOperation;

class QVNComment : public NSObject {
    RM_RECORD(QVNComment, NSObject)
    using LikeBlock = std::function<void(const Ref<NSError>& error)>;

    QVNComment() = default;
    // initWithAttributes: the ten keys of a dictionary ("id" into identifier).
    explicit QVNComment(const Value& attributes);

    std::optional<std::string> identifier;
    std::optional<std::string> content;
    std::optional<std::string> uid;
    std::optional<std::string> user_nickname;
    std::optional<std::string> user_logo;
    std::optional<std::string> user_sign;
    std::optional<std::string> replytime;
    std::optional<NSNumber> news_status;
    std::optional<NSNumber> reply;
    std::optional<NSNumber> like;

    // GET "news/like.do" with "token" and "comment_id" (= identifier); the flag is not sent.
    Ref<HKHTTPRequestOperation> likeComment(bool like, LikeBlock block);

    static Dictionary replacedKeyFromPropertyName() { return Dictionary{{"identifier", "id"}}; }
};
