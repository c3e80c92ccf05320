#pragma once
// QVNMail: one private mail of a thread, and the two mail calls. The thread is the whole exchange
// between the signed-in user and one other user, oldest first.
//
//   thread  GET  message/getchatlist.do  token, friend_uid (decimal text)   rows of QVNMail
//   send    POST message/sendmail.do     token, receiver_uid, content
//
// Signed out, neither sends anything; both answer at once with nil and an error of code 10003
// (so a list's refresh ends instead of spinning for ever). A non-zero result code arrives as an
// error with that code. Completions run on the main queue.

#include <functional>
#include <optional>
#include <string>

#include "app/RMRecord.h"
#include "foundation/NSError.h"

class QVNMail : public NSObject {
    RM_RECORD(QVNMail, NSObject)

    std::optional<std::string> sender_nickname;
    std::optional<std::string> sender_logo;
    std::optional<std::string> message_time;  // "yyyy-MM-dd HH:mm:ss"
    std::optional<NSNumber> message_id;
    std::optional<std::string> message_content;
    std::optional<std::string> message_category;
    // Declared for the bubble rows; nothing sets or reads them.
    long type = 0;
    bool hideTime = false;
    double cellHeight = 0;

    using ListCompletion = std::function<void(const std::optional<Array>& mails, const Ref<NSError>& error)>;
    using SendCompletion = std::function<void(const Ref<NSError>& error)>;

    static void getMailsWithFriendUid(const std::optional<NSNumber>& friendUid, ListCompletion completion);
    static void sendMailWithFriendUid(const std::optional<NSNumber>& friendUid, const std::string& content,
                                      SendCompletion completion);
};
