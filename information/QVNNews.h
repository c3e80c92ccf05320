#pragma once
// The news side of the information tab: an article, a carousel entry and a comment on an article,
// as the server sends them (member names are the JSON keys; any may be missing). Main thread only.

#include <optional>
#include <string>

#include "app/RMRecord.h"

class QVNNews : public NSObject {
    RM_RECORD(QVNNews, NSObject)
    std::optional<NSNumber> news_top;
    std::optional<NSNumber> news_view;
    std::optional<NSNumber> news_comment;
    std::optional<std::string> news_pic;
    std::optional<NSNumber> car_brand;
    std::optional<std::string> news_title;
    // Lists show its first ten characters, the date.
    std::optional<std::string> news_time;
    std::optional<NSNumber> news_status;
    // 1 car information, 2 brand information.
    std::optional<NSNumber> news_category;
    std::optional<NSNumber> car_id;
    // Also the paging cursor of news lists.
    std::optional<NSNumber> news_id;
    std::optional<std::string> news_content;  // an HTML fragment
};

class QVNAdvertisement : public NSObject {
    RM_RECORD(QVNAdvertisement, NSObject)
    std::optional<NSNumber> ad_id;
    std::optional<std::string> ad_name;
    std::optional<std::string> ad_pic;
    std::optional<std::string> ad_link;
};

class QVNNewsComment : public NSObject {
    RM_RECORD(QVNNewsComment, NSObject)
    std::optional<std::string> replytime;
    std::optional<std::string> user_logo;
    std::optional<std::string> user_nickname;
    std::optional<std::string> user_sign;
    std::optional<std::string> content;
    std::optional<NSNumber> reply;
    std::optional<NSNumber> like;
    // The server calls it "id".
    std::optional<NSNumber> comment_id;
    std::optional<NSNumber> uid;
    std::optional<NSNumber> news_status;
    // Read-only: from the mapping, changed only by addLikeCount.
    bool is_like() const { return is_like_; }

    // Flips is_like and moves like by one with it.
    void addLikeCount();
    void addReplyCount();

    static Dictionary replacedKeyFromPropertyName() { return Dictionary{{"comment_id", "id"}}; }

  private:
    static Value isLikeValue(const QVNNewsComment& comment);
    static bool setIsLikeValue(QVNNewsComment& comment, const Value& value);
    bool is_like_ = false;
};
