#include "information/QVNNews.h"

#include "app/NSNumber+Extension.h"

RM_PROPERTIES(QVNNews, RM_PROPERTY(news_top), RM_PROPERTY(news_view), RM_PROPERTY(news_comment),
              RM_PROPERTY(news_pic), RM_PROPERTY(car_brand), RM_PROPERTY(news_title), RM_PROPERTY(news_time),
              RM_PROPERTY(news_status), RM_PROPERTY(news_category), RM_PROPERTY(car_id), RM_PROPERTY(news_id),
              RM_PROPERTY(news_content))

RM_PROPERTIES(QVNAdvertisement, RM_PROPERTY(ad_id), RM_PROPERTY(ad_name), RM_PROPERTY(ad_pic),
              RM_PROPERTY(ad_link))

RM_PROPERTIES(QVNNewsComment, RM_PROPERTY(replytime), RM_PROPERTY(user_logo), RM_PROPERTY(user_nickname),
              RM_PROPERTY(user_sign), RM_PROPERTY(content), RM_PROPERTY(reply), RM_PROPERTY(like),
              RM_PROPERTY(comment_id), RM_PROPERTY(uid), RM_PROPERTY(news_status),
              RM_PROPERTY_CUSTOM("is_like", "B", &QVNNewsComment::isLikeValue,
                                 &QVNNewsComment::setIsLikeValue))

void QVNNewsComment::addLikeCount() {
    is_like_ = !is_like_;
    like = NSNumber_Extension::steppedCount(like, is_like_ ? 1 : -1);
}

void QVNNewsComment::addReplyCount() {
    reply = NSNumber_Extension::steppedCount(reply, 1);
}

Value QVNNewsComment::isLikeValue(const QVNNewsComment& comment) {
    return Value(NSNumber::numberWithBool(comment.is_like_));
}

bool QVNNewsComment::setIsLikeValue(QVNNewsComment& comment, const Value& value) {
    if (value.isNil()) {
        comment.is_like_ = false;
        return true;
    }
    const NSNumber* number = value.number();
    if (!number) return false;
    comment.is_like_ = number->boolValue();
    return true;
}
