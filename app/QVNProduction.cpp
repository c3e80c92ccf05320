#include "app/QVNProduction.h"

#include "app/NSNumber+Extension.h"
#include "app/NSObject+RMKeyValue.h"
#include "app/QVNAPIClient.h"
#include "app/QVNUserManager.h"

RM_PROPERTIES(QVNActivity, RM_PROPERTY(addtime), RM_PROPERTY(category), RM_PROPERTY(event_content),
              RM_PROPERTY(event_id), RM_PROPERTY(event_limit), RM_PROPERTY(event_pic),
              RM_PROPERTY(event_summary), RM_PROPERTY(event_title), RM_PROPERTY(rest), RM_PROPERTY(car_id),
              RM_PROPERTY(is_join), RM_PROPERTY(available))

RM_PROPERTIES(QVNProduction, RM_PROPERTY(production_id), RM_PROPERTY(event_id), RM_PROPERTY(pic_url),
              RM_PROPERTY(pic_name), RM_PROPERTY(user_nickname), RM_PROPERTY(uid), RM_PROPERTY(vote),
              RM_PROPERTY(user_logo), RM_PROPERTY(user_sign), RM_PROPERTY(pro_detail), RM_PROPERTY(list_id))

namespace {

constexpr char kJoinPath[] = "event/joinevent.do";
constexpr char kListPath[] = "event/getproductionlist.do";
constexpr char kVotePath[] = "event/vote.do";

QVNProduction::List productionsOf(const Value& rows) {
    QVNProduction::List records;
    Value mapped = NSObject_RMKeyValue::objectArrayWithKeyValuesArray(QVNProduction::rmClass(), rows);
    if (const Array* array = mapped.array()) {
        for (const Value& element : *array)
            if (auto record = element.objectAs<QVNProduction>()) records.push_back(record);
    }
    return records;
}

void sendWithErrorCompletion(const char* path, const Dictionary& params,
                             QVNProduction::Completion completion) {
    QVNAPIClient::getWithURL(
        path, Value(params),
        [completion](const Value&, const Ref<NSError>& error) {
            if (completion) completion(error);
        },
        [completion](const Ref<NSError>& error) {
            if (completion) completion(error);
        });
}

void fetchList(const Dictionary& params, bool emptyIsNil, QVNProduction::ListCompletion completion) {
    QVNAPIClient::getWithURL(
        kListPath, Value(params),
        [completion, emptyIsNil](const Value& reply, const Ref<NSError>& error) {
            if (!completion) return;
            const Value& rows = reply["data"];
            if (error || !rows.isArray()) return completion(std::nullopt);
            QVNProduction::List list = productionsOf(rows);
            if (emptyIsNil && list.empty()) return completion(std::nullopt);
            completion(list);
        },
        [completion](const Ref<NSError>&) {
            if (completion) completion(std::nullopt);
        });
}

}  // namespace

void QVNProduction::joinEventWithProduction(const Ref<QVNProduction>& production,
                                            const std::optional<NSNumber>& eventId,
                                            const std::optional<NSNumber>& tuningListId,
                                            Completion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (eventId) params.setObject("event_id", *eventId);
    if (production) {
        params.setObject("pic_name", Value(production->pic_name));
        params.setObject("pic_url", Value(production->pic_url));
    }
    params.setObject("pro_detail", std::string());
    if (tuningListId) params.setObject("tuninglist_id", *tuningListId);
    params.setObject("user_token", Value(QVNUserManager::shareObject()->currentUserToken()));
    sendWithErrorCompletion(kJoinPath, params, std::move(completion));
}

void QVNProduction::fetchProductionsForActivity(const Ref<QVNActivity>& activity, ListCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (activity && activity->event_id) params.setObject("event_id", *activity->event_id);
    params.setObject("production_id", NSNumber::numberWithInt(0));
    if (auto token = QVNUserManager::shareObject()->currentUserToken())
        params.setObject("user_token", *token);
    fetchList(params, false, std::move(completion));
}

void QVNProduction::fetchMoreProductionsWithLastProduction(const Ref<QVNProduction>& last,
                                                           ListCompletion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (last && last->event_id) params.setObject("event_id", *last->event_id);
    if (last && last->production_id) params.setObject("production_id", *last->production_id);
    fetchList(params, true, std::move(completion));
}

void QVNProduction::voteWithCompletion(Completion completion) {
    Dictionary params = Dictionary::mutableDictionary();
    if (production_id) params.setObject("production_id", *production_id);
    params.setObject("user_token", Value(QVNUserManager::shareObject()->currentUserToken()));
    sendWithErrorCompletion(kVotePath, params, std::move(completion));
}

void QVNProduction::addVoteCount() {
    vote = NSNumber_Extension::steppedCount(vote, 1);
}
