#include "account/QVNMail.h"

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "dispatch/Dispatch.h"

RM_PROPERTIES(QVNMail, RM_PROPERTY(sender_nickname), RM_PROPERTY(sender_logo), RM_PROPERTY(message_time),
              RM_PROPERTY(message_id), RM_PROPERTY(message_content), RM_PROPERTY(message_category),
              RM_PROPERTY(type), RM_PROPERTY(hideTime), RM_PROPERTY(cellHeight))

namespace {

Ref<NSError> signedOutError() {
    return QVNAPIEnvelope::errorWithCode(QVNResultCodeInvalidToken, Dictionary());
}

}  // namespace

void QVNMail::getMailsWithFriendUid(const std::optional<NSNumber>& friendUid, ListCompletion completion) {
    auto token = QVNUserManager::shareObject()->currentUserToken();
    if (!token) {
        dispatch_async(dispatch_get_main_queue(), [completion] {
            if (completion) completion(std::nullopt, signedOutError());
        });
        return;
    }
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("token", *token);
    if (friendUid) params.setObject("friend_uid", friendUid->stringValue());
    QVNAPIClient::getWithURL(
        "message/getchatlist.do", Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) return completion(std::nullopt, error);
            Value rows = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNMail>(reply["data"]);
            completion(rows.array() ? std::optional<Array>(rows.array()->mutableCopy())
                                    : Array::mutableArray(),
                       nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void QVNMail::sendMailWithFriendUid(const std::optional<NSNumber>& friendUid, const std::string& content,
                                    SendCompletion completion) {
    auto token = QVNUserManager::shareObject()->currentUserToken();
    if (!token) {
        dispatch_async(dispatch_get_main_queue(), [completion] {
            if (completion) completion(signedOutError());
        });
        return;
    }
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("token", *token);
    if (friendUid) params.setObject("receiver_uid", *friendUid);
    params.setObject("content", content);
    QVNAPIClient::postWithURL(
        "message/sendmail.do", Value(params),
        [completion](const Value&, const Ref<NSError>& error) {
            if (completion) completion(error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(error);
        });
}
