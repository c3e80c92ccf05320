#pragma once
// QVNMessage: one row of the signed-in user's inbox, as the server lists it. The inbox has three
// categories: 1 private mail (one row per correspondent), 2 replies in the Q&A forum, 3 system
// notices. The fields carry the server's key names; rows are made from a reply's "data" by the
// JSON-to-record mapping. The home screen, the "my" page and the message screens share it.

#include <optional>
#include <string>

#include "app/RMRecord.h"

class QVNMessage : public NSObject {
    RM_RECORD(QVNMessage, NSObject)

    std::optional<std::string> sender_nickname;
    std::optional<std::string> message_content;
    std::optional<NSNumber> message_category;  // 1 mail, 2 Q&A reply, 3 system notice
    std::optional<NSNumber> message_id;        // the paging cursor
    std::optional<std::string> sender_logo;    // avatar URL
    std::optional<std::string> message_time;   // shown as it comes
    std::optional<NSNumber> sender_uid;        // the correspondent of a mail row
    std::optional<NSNumber> question_id;       // the question a category-2 row refers to
    std::optional<NSNumber> message_read;      // 0 unread

    // The inbox categories.
    static constexpr long kCategoryMail = 1;
    static constexpr long kCategoryQuestionReply = 2;
    static constexpr long kCategorySystem = 3;
};
