#include "app/QVNMessageCommunicator.h"

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"
#include "dispatch/Dispatch.h"
#include "foundation/NSMainThreadCheck.h"

namespace {

Value numberOrNil(const std::optional<NSNumber>& number) {
    return number ? Value(*number) : Value();
}

// The parameters that have a value, in order.
Dictionary parameters(std::initializer_list<std::pair<const char*, Value>> entries) {
    Dictionary params = Dictionary::mutableDictionary();
    for (const auto& [name, value] : entries)
        if (value.isSomething()) params.setObject(name, value);
    return params;
}

std::optional<std::string> currentToken() {
    return QVNUserManager::shareObject()->currentUserToken();
}

}  // namespace

QVNMessageCommunicator::QVNMessageCommunicator() {
    setupPrivateItems();
}

void QVNMessageCommunicator::setupPrivateItems() {
    if (!privateMessages_.isMutable()) privateMessages_ = Array::mutableArray();
}

Ref<QVNMessageCommunicator> QVNMessageCommunicator::sharedStore() {
    NS_ASSERT_MAIN_THREAD_OR(return nullptr);
    static Ref<QVNMessageCommunicator> store;
    if (!store) store = make<QVNMessageCommunicator>();
    return store;
}

void QVNMessageCommunicator::fetchMessagesForCategory(const std::optional<NSNumber>& category,
                                                      PageCompletion completion) {
    fetch(category, NSNumber::numberWithInt(0), false, std::move(completion));
}

void QVNMessageCommunicator::fetchMoreMessagesForCategory(const std::optional<NSNumber>& category,
                                                          const Ref<QVNMessage>& lastMessage,
                                                          PageCompletion completion) {
    fetch(category, lastMessage ? lastMessage->message_id : std::nullopt, true, std::move(completion));
}

void QVNMessageCommunicator::fetch(const std::optional<NSNumber>& category,
                                   const std::optional<NSNumber>& cursor, bool nextPage,
                                   PageCompletion completion) {
    NS_ASSERT_MAIN_THREAD();
    Ref<QVNUser> user = QVNUserManager::shareObject()->currentUser();
    if (!user) {
        // Nothing to ask for; answering lets the list's refresh control end.
        dispatch_async(dispatch_get_main_queue(), [completion] {
            if (completion) completion(std::nullopt);
        });
        return;
    }
    Dictionary params = parameters({{QVNTokenParameterName, Value(user->user_token)},
                                    {"category", numberOrNil(category)},
                                    {"message_id", numberOrNil(cursor)}});
    QVNAPIClient::getWithURL(
        "message/getmessage.do", Value(params),
        [completion, nextPage](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error || !reply["data"].isArray()) {
                completion(std::nullopt);
                return;
            }
            Value rows = NSObject_RMKeyValue::objectArrayWithKeyValuesArray<QVNMessage>(reply["data"]);
            const Array* messages = rows.array();
            if (!messages || (nextPage && messages->empty())) {
                completion(std::nullopt);
                return;
            }
            completion(messages->mutableCopy());
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

void QVNMessageCommunicator::cleanMessageForCagegory(const std::optional<NSNumber>& category,
                                                     ResultCompletion completion) {
    Dictionary params =
        parameters({{QVNTokenParameterName, Value(currentToken())}, {"category", numberOrNil(category)}});
    QVNAPIClient::getWithURL(
        "message/delete.do", Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (completion) completion(error ? Value() : reply, error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(Value(), error);
        });
}

void QVNMessageCommunicator::checkReadWithUerToken(const std::optional<std::string>& token,
                                                   UnreadCompletion completion) {
    Dictionary params = parameters({{QVNTokenParameterName, Value(token)}});
    QVNAPIClient::postWithURL(
        "message/checkread.do", Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) {
                completion(std::nullopt, error);
                return;
            }
            // An absent value has no text, which never reads as "1".
            const Value& unread = reply["unread"];
            completion(unread.isSomething() ? std::optional<std::string>(unread.stringValue()) : std::nullopt,
                       nullptr);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(std::nullopt, error);
        });
}

void QVNMessageCommunicator::updateReadWithUserToken(const std::optional<std::string>& token,
                                                     const std::optional<NSNumber>& category,
                                                     const std::optional<NSNumber>& senderUid,
                                                     ResultCompletion completion) {
    Dictionary params;
    if (token) {
        bool mail = category && category->integerValue() == QVNMessage::kCategoryMail;
        params = parameters({{QVNTokenParameterName, Value(*token)},
                             {"category", numberOrNil(category)},
                             {"sender_uid", mail ? numberOrNil(senderUid) : Value()}});
    }
    QVNAPIClient::postWithURL(
        "message/updateread.do", Value(params),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (completion) completion(error ? Value() : reply, error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(Value(), error);
        });
}
