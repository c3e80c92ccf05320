#include "information/QVNActivityCommunicator.h"

#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"

Dictionary QVNActivityCommunicator::createParamsWithEvendId(const std::optional<NSNumber>& eventId) {
    Dictionary params = Dictionary::mutableDictionary();
    params.setObject("event_id", eventId ? *eventId : NSNumber::numberWithInt(0));
    if (auto token = QVNUserManager::shareObject()->currentUserToken())
        params.setObject("user_token", *token);
    return params;
}

void QVNActivityCommunicator::getActivitiesWithEventId(const std::optional<NSNumber>& eventId,
                                                       Completion completion) {
    QVNAPIClient::getWithURL(
        "event/geteventlist.do", Value(createParamsWithEvendId(eventId)),
        [completion](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            if (error) return completion(std::nullopt);
            std::vector<Ref<QVNActivity>> activities;
            Value mapped =
                NSObject_RMKeyValue::objectArrayWithKeyValuesArray(QVNActivity::rmClass(), reply["data"]);
            if (const Array* array = mapped.array()) {
                for (const Value& element : *array)
                    if (auto activity = element.objectAs<QVNActivity>()) activities.push_back(activity);
            }
            if (activities.empty()) return completion(std::nullopt);
            completion(activities);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}
